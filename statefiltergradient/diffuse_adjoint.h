// The way back over the observations of a period of the diffuse phase
// (diffuse_start.h). The state before each observation is formed again by
// the filter's own steps from the period's prediction, itself formed again
// from the state after the period before (x, P* and P_inf), so every
// decision is the filter's: an observation missing or passed over, F_inf
// zero by the rule or not, a variance the guard cleared; each is a constant.
// With x, P* and P_inf before the observation, c, d and its innovation's
// start y, and xbar, Pbar and Qbar the derivatives with respect to x, P* and
// P_inf after it (rows and columns the guard cleared masked):
// - an observation whose F_inf is zero takes the adjoint of a known start's
//   update on x and P* (core/observation_adjoint.h); Qbar stays;
// - a diffuse step, M_inf = P_inf*c', F_inf = c*M_inf, M* = P*c', F* = c*M*
//   + d, v = y - c*x, r = 1/F_inf, K0 = r*M_inf, has as its adjoint (every
//   product with Pbar or Qbar over their columns, symmetric):
//     vbar = xbar'*K0, PK = Pbar*K0, QM = Qbar*M_inf, PM = Pbar*M*;
//     K0bar = (v*xbar + (2*F*)*PK) - 2*PM, F*bar = K0'*PK, M*bar = F*bar*c' - 2*PK;
//     rbar = K0bar'*M_inf - M_inf'*QM, F_inf bar = -0.5*r - (r*r)*rbar;
//     M_inf bar = (r*K0bar - (2*r)*QM) + F_inf bar*c';
//   the row's derivative ((((P*M*bar + F*bar*M*) - vbar*x) + F_inf bar*M_inf)
//   + P_inf*M_inf bar, the noise variance's F*bar, the start's vbar; then
//   xbar <- xbar - vbar*c', Pbar(i, l) gains c_i*g_l + c_l*g_i with g =
//   0.5*M*bar, and Qbar likewise with 0.5*M_inf bar;
//   -0.5*ln F_inf is in F_inf bar.
// Every sum is one accumulator in ascending index, in plain loops that run
// the same on every kernel path.
#pragma once

#include "filter_period.h"
#include "gradient_workspace.h"

// The state period t's prediction starts from, in the phase: x, P* and P_inf
// after period t - 1, or before period 0 x0 and P0 split into P* and P_inf
// (startDiffusePhase). Returns the largest |element| P_inf had had by then.
double diffusePeriodStart(GradientWorkspace &workspace, uint64_t t, const double *x0, const double *P0,
                          double *x, double *P, double *Pinf);

// Goes back over the observations of period t, the taken series from the
// last to the first, as goBackOverObservations does for a period after the
// phase: on entry the derivatives (stateAdjoint, covarianceAdjoint and the
// diffuse adjoint's infiniteAdjoint) are those with respect to the state after
// the period, on return to its prediction; each taken series' derivatives go
// to its slot of rowGradients, noiseGradients and innovationGradients, and
// its skip flag of the period is set to 1.0 when it took no step.
void goBackOverDiffusePeriod(GradientWorkspace &workspace, uint64_t t, const SeriesTaken &taken, const double *x0,
                             const double *P0);
