// A smoother model as plain vectors, shared by the module calls, the literal
// reference and the textbook smoother of the tests.
#pragma once

#include "host_testing.h"
#include "random_model.h"

#include <cstdint>
#include <vector>

struct SmootherTestModel : testing_support::ModelVectors {
  std::vector<double> stateIntercept, observationIntercept;  // empty, or m*T and n*T
};

// The ten inputs in order, each shaped as a host would pass it.
std::vector<orrim::ArrayPtr> smootherInputs(const SmootherTestModel &model);

const orrim::Module &statesmootherModule();

// Calls the module on `inputs` through the host's counters; expects success,
// `blocks` working blocks taken, and a T x m result, and returns its
// elements in storage order.
std::vector<double> callStateSmoother(const std::vector<orrim::ArrayPtr> &inputs, uint64_t T, uint64_t m,
                                      uint64_t blocks = 1);
std::vector<double> callStateSmoother(const SmootherTestModel &model);

// The call with two outputs: the means, and the m x m x T covariances, which
// must be exactly symmetric; expects the five more blocks they take.
struct SmootherOutputs {
  std::vector<double> means, covariances;
};
SmootherOutputs callStateSmootherWithCovariances(const SmootherTestModel &model);

using testing_support::RandomShape;

// testing_support::randomModel, with intercepts given or empty.
SmootherTestModel randomSmootherModel(testing_support::RandomSource &random, const RandomShape &shape);

// A valid model with m = 2, k = 2, h = 1 and both intercepts, T = 3 and n = 2
// unless asked otherwise, for the tests that spoil one input at a time.
SmootherTestModel smallSmootherModel(uint64_t T = 3, uint64_t n = 2);
