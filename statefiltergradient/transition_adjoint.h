// The way back over a period's prediction x = A*xp, P = A*Pp*A' + B*B'
// (xp, Pp: the state after the period before, or x0 and P0), and the
// derivatives with respect to A and B it gives.
#pragma once

#include "gradient_workspace.h"

struct TransitionAdjointScratch {
  double *transitionProduct;  // m x m
  double *product;            // m x m
  double *vector;             // m
};

// out (m x k, column-major) = 2*Qbar*B for the symmetric m x m adjoint Qbar
// of B*B': element (i, l) is 2 times the sum over q of B(q, l)*Qbar(q, i).
void stateNoiseLoadingGradient(double *out, const double *Qbar, const double *B, uint64_t m, uint64_t k);

// With xbar and Pbar the derivatives with respect to period t's prediction,
// adds period t's derivatives with respect to A and B to their outputs (page
// t of a paged one, the sum of a constant one, or for a constant B the sum
// of the adjoints of B*B' in stateNoiseAdjoint), then carries xbar and Pbar
// to xp and Pp: xbar <- A'*xbar, Pbar <- A'*Pbar*A. With Y = A'*Pbar
// (Y(i, l) over q of A(q, i)*Pbar(q, l)), Pbar(i, l) becomes the sum over q
// of Y(i, q)*A(q, l) for i >= l, mirrored, and period t's term for A(i, l)
// is 2*(sum over q of Pp(l, q)*Y(q, i)) + xbar_i*xp_l, 2*(Pbar*A*Pp)(i, l)
// + xbar_i*xp_l. The prediction forms its covariance from the rows of
// A*Pp against the rows of A, the upper triangle of A*Pp*A' mirrored: for
// the first period, where P0 is taken as given and may be asymmetric, Pp
// there stands for (P0 + P0')/2, and the part of P0 that is not symmetric
// adds Delta*A*(P0' - P0), Delta the upper triangle of Pbar less its lower
// one, to A's derivative first. `firstPeriod` says that Pp is P0 (P* of P0
// with a diffuse start); the covariance of workspace.state is then free and
// holds the symmetric part. In the diffuse phase, `Pinf` is P_inf before the
// prediction P_inf <- A*P_inf*A' (symmetric), and the diffuse adjoint's
// Qbar is carried the same way, Qbar <- A'*Qbar*A, with A's term
// 2*(Qbar*A*Pinf)(i, l) added after the others; null after the phase.
void goBackOverPrediction(GradientWorkspace &workspace, uint64_t t, const double *xp, const double *Pp,
                          bool firstPeriod, const GradientOutputs &outputs, const TransitionAdjointScratch &scratch,
                          const double *Pinf = nullptr);
