// The filter written out the plainest way, independently of core/: the
// reference the module must match to the bit.
#pragma once

#include "random_model.h"

#include <vector>

// The filter's eight inputs.
using LiteralFilterModel = testing_support::ModelVectors;

// The state after every period: means T x m column-major, covariances m x m x T.
struct LiteralFilteredStates {
  std::vector<double> means, covariances;
};

// The log-likelihood of every period; with `states`, also the state after
// each period, which then is predicted in a period without series as well.
std::vector<double> literalStateFilter(const LiteralFilterModel &model, LiteralFilteredStates *states = nullptr);
