// The filter written out the plainest way, independently of core/: the
// reference the module must match to the bit.
#pragma once

#include <cstdint>
#include <vector>

struct LiteralFilterModel {
  uint64_t T = 0, n = 0, m = 0, k = 0, h = 0;
  std::vector<double> Y;                      // T x n
  std::vector<double> A, B, C, D;             // one page, or T pages when paged
  bool pagedA = false, pagedB = false, pagedC = false, pagedD = false;
  std::vector<double> x0, P0;
  double tol = 0.0;
};

// The state after every period: means T x m column-major, covariances m x m x T.
struct LiteralFilteredStates {
  std::vector<double> means, covariances;
};

// The log-likelihood of every period; with `states`, also the state after
// each period, which then is predicted in a period without series as well.
std::vector<double> literalStateFilter(const LiteralFilterModel &model, LiteralFilteredStates *states = nullptr);
