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
// exactly symmetric. Small models take the plain loops, inline; larger ones
// the vectorised form, which gives the same bits.
void predictStateVectorised(FilterState state, const PreparedModel &model, FilterScratch scratch, uint64_t m);

inline void predictState(FilterState state, const PreparedModel &model, FilterScratch scratch, uint64_t m) {
  if (m == 1) {
    predictStateReference(state, model, scratch, OneState{});
    return;
  }
  // The kernels compiled for a few states run down the columns of A.
  if (m >= smallestFixedSize && m <= largestFixedSize && model.transitionColumns != nullptr) {
    denseKernels().predictFixed[m](state.x, state.P, model.transitionColumns, model.stateNoiseCov,
                                   scratch.transitionTimesCov);
    return;
  }
  if (m < smallestVectorisedSize) {
    predictStateReference(state, model, scratch, m);
    return;
  }
  predictStateVectorised(state, model, scratch, m);
}
