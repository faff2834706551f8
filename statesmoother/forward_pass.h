// The filtering half of the smoother: the filter over the deviations from the
// mean path, keeping what the way back needs.
#pragma once

#include "smoother_workspace.h"

// For every period t the predicted deviation and covariance (predictedStates,
// predictedCovariances); for every observation o = t*n + j its skip flag, 1.0
// when it was passed over, else 0.0, and for a used one its gain K
// (observationGains) and (1/F)*v (scaledInnovations), and 1/F at
// reciprocalVariances[o] when that is not null.
// Expects the workspace as initialiseSmootherWorkspace and computeMeanPath
// leave it.
void runForwardPass(SmootherWorkspace &workspace, MissingTest isMissing, double *reciprocalVariances = nullptr);
