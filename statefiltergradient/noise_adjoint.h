// The way back through the observation noise of a period: from the
// derivatives with respect to the rows, noise variances and innovation
// starts of the series its updates took, those with respect to C and D.
//
// H = D*D' enters a period through the covariance H_O of its observed
// series O (ascending). Where that has an element off its diagonal, the
// updates took the decorrelated series (correlated_noise.h): H_O = L*Delta*L',
// C* = L^-1*C_O, y* = L^-1*y_O. Their adjoint, with R_i, e_i and b_i the
// derivatives with respect to row i of C*, Delta_i and y*_i:
// - G = L^-T*R and g = L^-T*b, row by row from the last: G_i(s) = R_i(s) less
//   L(q, i)*G_q(s) for q ascending above i, g likewise; G is the derivative
//   with respect to row O_i of C;
// - the derivative with respect to L(i, q), q < i, from the substitutions:
//   -((sum over s of G_i(s)*C*_q(s)) + g_i*y*_q);
// - then the factor's steps taken back row by row from the last, with W(i,
//   q) = L(i, q)*Delta_q the row's sums: L's derivative gains, from the
//   rows after i, less H(i', i)'s derivative times W(i', r) (i' ascending);
//   Delta_i's is e_i less (the sum over i' > i of L(i', i)'s derivative times
//   L(i', i)) / Delta_i; that is H(i, i)'s; L(i, q)'s gains -(H(i, i)'s)*W(i,
//   q); W(i, q)'s is L(i, q)'s / Delta_q - (H(i, i)'s)*L(i, q); and H(i, q)'s,
//   q from i - 1 down, is W(i, q)'s less L(q', q) times H(i, q')'s for q'
//   ascending from q + 1.
//   A pivot the rule set to zero, and its column of L, are constants: their
//   derivatives are zero.
// Where H_O is diagonal the updates took the series as they are, which is
// the same arithmetic with L = I and Delta = the noise variances, so the
// derivative with respect to H(i, q), q < i both observed, is
// -((sum over s of R_i(s)*C_q(s)) + b_i*y_q) / Delta_q (zero where Delta_q is
// a zero pivot by the rule): a D whose series share no innovation still has
// derivatives in the elements that would make them share one.
//
// D's derivative is (H' + H)*D with H the derivative with respect to the
// lower triangle of H_O: its diagonal, 2*H(j, j)*D(j, l), as the noise
// variances' derivatives are taken, and for each pair (i, q), i > q, D(O_i,
// l) gains H(i, q)*D(O_q, l) and D(O_q, l) gains H(i, q)*D(O_i, l), a product
// with a zero element of D left out as the forward pass leaves it out; pairs
// with i ascending, q ascending, l ascending, and for a constant D period by
// period from the last. Every other sum is one accumulator in ascending index,
// in plain loops that run the same on every kernel path.
#pragma once

#include "filter_period.h"
#include "gradient_workspace.h"

// After the way back over period t's observations, whose derivatives with
// respect to the taken series' rows, noise variances and innovation starts
// are in rowGradients, noiseGradients and innovationGradients (slot j for
// the series the updates took j-th): for a decorrelated period, puts those
// of the period's own rows of C and noise variances in their slots (zero
// for series not observed), keeping the derivatives with respect to H_O for
// addNoiseCovarianceGradients; `wantsNoise` whether D's derivative is asked.
void goBackThroughDecorrelation(GradientWorkspace &workspace, const SeriesTaken &taken, bool wantsNoise);

// Adds period t's terms off the diagonal of H_O to D's derivative: page t of
// a paged D (after its diagonal terms), or the sum of a constant D.
void addNoiseCovarianceGradients(GradientWorkspace &workspace, uint64_t t, const SeriesTaken &taken, double *out);
