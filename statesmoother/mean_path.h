// The noise-free path of the model: the states and observations it would
// follow with every disturbance zero. The filter then works on deviations
// from it, which keeps x0 and both intercepts out of the recursion.
#pragma once

#include "smoother_workspace.h"

// meanStates(:, t) = A_t*meanStates(:, t-1) + s_t from meanStates(:, -1) = x0,
// and meanObservations(:, t) = C_t*meanStates(:, t) + o_t. A null intercept
// stands for zeros; a given one is read in storage order, m (or n) values per
// period. With few states, re-prepares the transitionRows and measurementRows
// of paged A and C, which its plain loops read.
void computeMeanPath(SmootherWorkspace &workspace, const double *x0, const double *stateIntercept,
                     const double *observationIntercept);
