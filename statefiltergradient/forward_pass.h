// The way forward: the filter itself, keeping what the way back needs.
#pragma once

#include "gradient_workspace.h"
#include "measurement_update.h"

// Runs the filter of workspace.model over Y (T x n, column-major) from x0 and
// P0 with statefilter's steps, so that out[t], the log-likelihood of period
// t, has statefilter's bits, a diffuse start's phase included (its blocks
// must then be taken). With `keepsRecords` it keeps, for the way back, the
// state after every period (P* in the diffuse phase), every observation's
// records after the phase, and P_inf after each period of the phase (the
// record blocks must then be taken); without, it is the filter alone.
void runForwardPass(GradientWorkspace &workspace, const double *Y, const double *x0, const double *P0, double *out,
                    MissingTest isMissing, bool keepsRecords);

// Where period t's records go.
ObservationRecords recordsOfPeriod(const GradientWorkspace &workspace, uint64_t t);
