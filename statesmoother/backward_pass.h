// The way back: the smoothing cumulant r carried from the last observation to
// the first, turning every predicted deviation into the smoothed one.
#pragma once

#include "smoothed_covariance.h"
#include "smoother_workspace.h"

// Per observation, last to first: r <- M(o)'*r, plus c'*((1/F)*v) when it was
// used, where M(o) is L = I - K*c for a used observation and I for a passed-over
// one, and the last observation of period t also carries the transition that
// leads out of it, A_{t+1}*L or A_{t+1} (A_{T-1} for the last period).
// After the observations of period t: predictedStates(:, t) += P_t*r.
// Reads what runForwardPass left; r must enter as zeros. Prepares the paged
// coefficients again, period by period from the last. With `covariances`,
// N goes back beside r through the same steps, and page t of its output
// receives V_t = P_t - P_t*N*P_t; N must enter as zeros. A period whose
// series share noise is taken through the decorrelated series the forward
// pass took, whose rows are formed again: isMissing must be the forward
// pass's.
void runBackwardPass(SmootherWorkspace &workspace, MissingTest isMissing,
                     const SmoothedCovarianceWorkspace *covariances = nullptr);
