// The way back: the derivatives of the summed log-likelihood with respect
// to the state and its covariance carried from the last observation to the
// first, each observation and prediction gone back over by its adjoint, and
// the derivatives with respect to the coefficients, x0 and P0 gathered on
// the way.
#pragma once

#include "gradient_workspace.h"

// Reads what runForwardPass kept (with records) and writes the outputs that
// are not null: a paged coefficient's page t with period t's derivative, a
// constant one with the sum over periods, taken from the last period to the
// first. The outputs must enter zero-filled. Prepares every coefficient
// again, period by period from the last; Y, x0 and P0 are those of the
// forward pass.
void runBackwardPass(GradientWorkspace &workspace, const double *Y, const double *x0, const double *P0,
                     const GradientOutputs &outputs, MissingTest isMissing);
