// The prediction of one period: x <- A*x, P <- A*P*A' + B*B'.
#pragma once

#include "dense_kernels.h"
#include "dense_products.h"
#include "filter_types.h"
#include "reference_steps.h"

#include <cstdint>

// Overwrites scratch.stateCopy and scratch.transitionTimesCov. Every sum is one
// accumulator in ascending index, so the result is reproducible to the bit;
// only the lower triangle of A*P*A' is formed and mirrored, so P stays
// exactly symmetric. On the vectorised paths one state takes its own inline
// form, 2 to 16 the kernels compiled for their size, more the vectorised
// form; all give the bits of the plain loops, which the reference path and a
// model without A's columns take.
void predictStateVectorised(FilterState state, const PreparedModel &model, FilterScratch scratch, uint64_t m);

// The local level model's prediction on values: the plain loops' operations
// for m = 1, x from 0.0, A*P from 0.0 and P from B*B'.
struct OneStatePrediction {
  double x, P, transitionTimesCov;
};
inline OneStatePrediction predictedOneState(const PreparedModel &model, double x, double P) {
  const double a = model.transitionRows[0];
  double predicted = 0.0;
  predicted += a * x;
  double transitionTimesCov = 0.0;
  transitionTimesCov += a * P;
  double covariance = model.stateNoiseCov[0];
  covariance += a * transitionTimesCov;
  return {predicted, covariance, transitionTimesCov};
}

// The same prediction of the state in `state`, on values held in registers.
// Through the pointers the compiler must assume that every store may change
// what the next load reads, and each such round trip through memory
// lengthens the chain from one period to the next.
inline void predictOneState(FilterState state, const PreparedModel &model, FilterScratch scratch) {
  const double x = state.x[0];
  const OneStatePrediction predicted = predictedOneState(model, x, state.P[0]);
  scratch.stateCopy[0] = x;
  scratch.transitionTimesCov[0] = predicted.transitionTimesCov;
  state.x[0] = predicted.x;
  state.P[0] = predicted.P;
}

inline void predictState(FilterState state, const PreparedModel &model, FilterScratch scratch, uint64_t m) {
  const DenseKernels &kernels = denseKernels();
  if (m == 1 && kernels.oneStateInRegisters) {
    predictOneState(state, model, scratch);
    return;
  }
  // The kernels compiled for a few states run down the columns of A.
  if (kernels.usesFixedSizeSteps(m) && model.transitionColumns != nullptr) {
    kernels.predictFixed[m](state.x, state.P, model.transitionColumns, model.stateNoiseCov,
                            scratch.transitionTimesCov);
    return;
  }
  if (!kernels.vectorises(m)) {
    predictStateReference(state, model, scratch, m);
    return;
  }
  predictStateVectorised(state, model, scratch, m);
}
