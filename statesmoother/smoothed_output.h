// The end of a smoother call: the mean path added back, the result written
// period by period, and all working storage given back.
#pragma once

#include "smoother_workspace.h"

#include <cstdint>

// out (T x m, column-major) row t = meanStates(:, t) + predictedStates(:, t).
// meanStates holds the sum afterwards. Then every block of the workspace goes
// to `release`, in the order the blocks were taken.
void writeSmoothedOutput(SmootherWorkspace &workspace, double *out, BlockRelease release);
