// A fixed-interval smoother as the textbooks write it: a Kalman filter on the
// states themselves that takes all present observations of a period at once,
// then the Rauch-Tung-Striebel recursion with explicit inverses. Shares
// nothing with the module but the model, so it checks the mathematics.
#pragma once

#include "smoother_test_model.h"

#include <vector>

// T x m smoothed states, column-major, and with `covariances` their m x m x T
// covariances. Assumes no observation is cut off by tol and that every
// predicted covariance is invertible.
std::vector<double> textbookSmoother(const SmootherTestModel &model, std::vector<double> *covariances = nullptr);
