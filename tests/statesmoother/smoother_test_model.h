// A smoother model as plain vectors, shared by the module calls, the literal
// reference and the textbook smoother of the tests.
#pragma once

#include "host_testing.h"
#include "random_model.h"

#include <cstdint>
#include <vector>

struct SmootherTestModel {
  uint64_t T = 0, n = 0, m = 0, k = 0, h = 0;
  std::vector<double> Y;           // T x n, NaN = missing
  std::vector<double> A, B, C, D;  // one page, or T pages when paged
  bool pagedA = false, pagedB = false, pagedC = false, pagedD = false;
  std::vector<double> P0, x0;
  double tol = 0.0;
  std::vector<double> stateIntercept, observationIntercept;  // empty, or m*T and n*T
};

// The ten inputs in order, each shaped as a host would pass it.
std::vector<orrim::ArrayPtr> smootherInputs(const SmootherTestModel &model);

const orrim::Module &statesmootherModule();

// Calls the module on `inputs` through the host's counters; expects success
// and a T x m result, and returns its elements in storage order.
std::vector<double> callStateSmoother(const std::vector<orrim::ArrayPtr> &inputs, uint64_t T, uint64_t m);
std::vector<double> callStateSmoother(const SmootherTestModel &model);

// The call with two outputs: the means, and the m x m x T covariances, which
// must be exactly symmetric; expects the five more blocks they take.
struct SmootherOutputs {
  std::vector<double> means, covariances;
};
SmootherOutputs callStateSmootherWithCovariances(const SmootherTestModel &model);

struct RandomShape {
  uint64_t maxT = 8, maxN = 4, maxM = 4;
  double missingChance = 0.2;
  bool allowCutoffs = true;  // zero rows of C and D, and tol values that pass observations over
};

// Reproducible from the seed: each coefficient paged or not, intercepts given
// or empty, missing values, and (when allowed) observations cut off by tol.
SmootherTestModel randomSmootherModel(testing_support::RandomSource &random, const RandomShape &shape);
