// The smoother written out the plainest way, independently of core/ and of
// the module's stages: one function, coefficients read straight from their
// pages. The reference the module must match to the bit.
#pragma once

#include "smoother_test_model.h"

#include <vector>

struct LiteralSmootherResult {
  std::vector<double> smoothed;             // T x m, column-major
  std::vector<double> innovationVariances;  // F of observation t*n + j; NaN where it was missing
};

LiteralSmootherResult literalStateSmoother(const SmootherTestModel &model);

// The noise-free path alone, m x T column-major: what the smoother returns
// (transposed) when every observation is passed over.
std::vector<double> literalMeanPath(const SmootherTestModel &model);
