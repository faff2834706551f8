// The prediction of one period: x <- A*x, P <- A*P*A' + B*B'.
#pragma once

#include "filter_types.h"

#include <cstdint>

// Overwrites scratch.stateCopy and scratch.transitionTimesCov. Every sum is one
// accumulator in ascending index, so the result is reproducible to the bit;
// only the lower triangle of A*P*A' is formed and mirrored, so P stays
// exactly symmetric.
void predictState(FilterState state, const PreparedModel &model, FilterScratch scratch, uint64_t m);
