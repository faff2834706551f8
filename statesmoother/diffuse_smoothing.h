// The way back through the periods of a diffuse start (diffuse_start.h), the
// exact diffuse smoother in univariate form. From the end of the diffuse
// phase backwards, r0 and N0 carry on from the way back of the periods after
// it, beside r1 = 0 and N1 = N2 = 0:
// - a diffuse step, with L0 = I - K0*c and L1 = -K1*c:
//   r1 <- c'*((1/F_inf)*v) + L0'*r1 + L1'*r0, r0 <- L0'*r0,
//   N2 <- -c'*c*(F*/F_inf^2) + L0'*N2*L0 + L0'*N1*L1 + L1'*N1'*L0 + L1'*N0*L1,
//   N1 <- c'*c/F_inf + L0'*N1*L0 + L1'*N0*L0, N0 <- L0'*N0*L0;
// - a used observation whose F_inf is zero, with L = I - K*c: r0 <- L'*r0 +
//   c'*((1/F)*v), r1 <- L'*r1, N0 <- L'*N0*L + c'*c/F, N1 <- L'*N1*L, N2 <-
//   L'*N2*L; a passed-over one changes nothing;
// - from period t+1 back to t, every one of them through A_{t+1}: r <- A'*r,
//   N <- A'*N*A.
// The smoothed deviation of period t is a + (P*r0 + P_inf*r1), its covariance
// P* - P*N0*P* - P_inf*N1*P* - (P_inf*N1*P*)' - P_inf*N2*P_inf, with the
// predicted moments of the period and r, N at its start. A direction that no
// observation of the sample sees keeps an infinite variance: where the phase
// lasts to the end of the sample, an element whose kappa term P_inf -
// P_inf*N1*P_inf - P_inf*N0*P* - P*N0*P_inf is not zero by the rule of
// diffuse_start.h is infinite, of that term's sign.
//
// Every sum is one accumulator in ascending index, in plain loops that run
// the same on every kernel path. The expansions of L'*X*L and the other
// products are O(m^2) a step; each is written out where it is formed.
#pragma once

#include "smoothed_covariance.h"
#include "smoother_workspace.h"

// The way back through the periods of the diffuse phase, from its last to
// period 0, after the way back of the periods after it left r (and with
// covariances N) at the start of the first of them.
void carryBackThroughDiffusePhase(SmootherWorkspace &workspace, const SmoothedCovarianceWorkspace *covariances,
                                  MissingTest isMissing);
