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
// observation slot o = t*n + j its update, its innovation starting from
// starts[o]. As the module's forward pass takes them: where the noise of a
// period's observed series O has an element off its diagonal, its slots j <
// |O| are the decorrelated series (L^-1 applied to the starts of O, rows
// C* = L^-1*C_O, variances Delta) and the rest are passed over; with +inf on
// P0's diagonal, the periods of the diffuse phase take diffuse steps.
struct LiteralForwardPass {
  std::vector<double> predictedStates;       // m x T
  std::vector<double> predictedCovariances;  // T matrices of m x m: P, P* in the diffuse phase
  std::vector<testing_support::LiteralUpdate> updates;  // K0, 1/F_inf and v of a diffuse step
  std::vector<double> rows;                  // the measurement row slot o took, at o*m
  // The diffuse phase: its periods, their predicted P_inf, and of each slot
  // whether it took a diffuse step and its K1.
  uint64_t diffusePeriods = 0;
  std::vector<double> infiniteParts;         // diffusePeriods matrices of m x m
  std::vector<bool> diffuseSteps;            // n*T
  std::vector<double> gainCorrections;       // n*T vectors of m
};
LiteralForwardPass literalForwardPass(const SmootherTestModel &model, const std::vector<double> &starts);
