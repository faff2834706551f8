// The filtering half of the smoother: the filter over the deviations from the
// mean path, keeping what the way back needs.
#pragma once

#include "smoother_workspace.h"

// For every period t the predicted deviation and covariance (predictedStates,
// predictedCovariances); for every observation o = t*n + j a transfer matrix,
// a score vector and a skip flag:
//   used:        L = I - K*c_j,  c_j'*((1/F)*v),  0.0
//   passed over: I,              zeros,           1.0
// except that the last observation of period t also carries the transition
// that leads out of it, A_{t+1}*L or A_{t+1} (A_{T-1} for the last period).
// Expects the workspace as initialiseSmootherWorkspace and computeMeanPath
// leave it.
void runForwardPass(const SmootherModel &model, SmootherWorkspace &workspace, MissingTest isMissing);
