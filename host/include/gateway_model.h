// The model a checked call describes, for the gateways whose coefficients are
// matrices, each one matrix or paged: Y, A, B, C, D first, as every module
// takes them; and the filters' optional outputs.
#pragma once

#include "filter_period.h"
#include "gateway_checks.h"
#include "gateway_inputs.h"
#include "orrim.h"
#include "state_space_model.h"

#include <cstdint>

// An intercept's data, or null for an empty one, which stands for zeros.
inline const double *interceptData(const OrrimArray *array) {
  return orrimIsEmpty(array) ? nullptr : orrimRealData(array);
}

inline StateSpaceModel checkedModel(const CheckedInputs &checked, const OrrimArray *const inputs[],
                                    int tolPosition) {
  const auto [T, n, m, k, h] = checked.sizes;
  const auto input = [&](int position, uint64_t rows, uint64_t columns) {
    PeriodInput coefficient;
    coefficient.data = orrimRealData(inputs[position]);
    coefficient.rows = rows;
    coefficient.columns = columns;
    coefficient.form = checked.paged[position] ? InputForm::paged : InputForm::constant;
    return coefficient;
  };
  StateSpaceModel model;
  model.T = T;
  model.n = n;
  model.m = m;
  model.k = k;
  model.h = h;
  model.A = input(1, m, m);
  model.B = input(2, m, k);
  model.C = input(3, n, m);
  model.D = input(4, n, h);
  model.tol = orrimScalar(inputs[tolPosition]);
  return model;
}

// The filters' outputs after the log-likelihood, those the caller asked for:
// the T x m means, then the m x m x T covariances.
inline FilteredOutputs createFilteredOutputs(int32_t outputCount, OrrimArray *outputs[], uint64_t T, uint64_t m) {
  FilteredOutputs filtered;
  if (outputCount >= 2) filtered.means = createOutput(outputs, 1, {T, m});
  if (outputCount >= 3) filtered.covariances = createOutput(outputs, 2, {m, m, T});
  return filtered;
}
