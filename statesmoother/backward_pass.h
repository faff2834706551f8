// The way back: the smoothing cumulant r carried from the last observation to
// the first, turning every predicted deviation into the smoothed one.
#pragma once

#include "smoother_workspace.h"

// Per observation, last to first: r <- M(o)'*r, plus c'*((1/F)*v) when it was
// used, where M(o) is L = I - K*c for a used observation and I for a passed-over
// one, and the last observation of period t also carries the transition that
// leads out of it, A_{t+1}*L or A_{t+1} (A_{T-1} for the last period).
// After the observations of period t: predictedStates(:, t) += P_t*r.
// Reads what runForwardPass left; r must enter as zeros. Prepares the paged
// coefficients again, period by period from the last.
void runBackwardPass(const SmootherModel &model, SmootherWorkspace &workspace);
