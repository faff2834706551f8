// The way back: the smoothing cumulant r carried from the last observation to
// the first, turning every predicted deviation into the smoothed one.
#pragma once

#include "smoother_workspace.h"

#include <cstdint>

// Per observation, last to first: r <- M(o)'*r, plus s(o) when it was used.
// After the observations of period t: predictedStates(:, t) += P_t*r.
// Reads the records runForwardPass left; r must enter as zeros.
void runBackwardPass(uint64_t T, uint64_t n, uint64_t m, SmootherWorkspace &workspace);
