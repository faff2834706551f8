// The smoother written out the plainest way, independently of core/ and of
// the module's stages: one function, coefficients read straight from their
// pages. The reference the module must match to the bit.
#pragma once

#include "literal_steps.h"
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

// The forward pass over the deviations, from zero with covariance P0: for
// every period the predicted deviation and covariance, for every
// observation o = t*n + j its update, its innovation starting from starts[o].
struct LiteralForwardPass {
  std::vector<double> predictedStates;       // m x T
  std::vector<double> predictedCovariances;  // T matrices of m x m
  std::vector<testing_support::LiteralUpdate> updates;
};
LiteralForwardPass literalForwardPass(const SmootherTestModel &model, const std::vector<double> &starts);
