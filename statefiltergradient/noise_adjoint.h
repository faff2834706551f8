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
// -((sum over s of R_i(s)*C_q(s)) + b_i*y_q) * (1/Delta_q) (zero where
// Delta_q is a zero pivot by the rule): a D whose series share no innovation
// still has derivatives in the elements that would make them share one.
//
// D's derivative is (H' + H)*D with H the derivative with respect to the
// lower triangle of H_O. For a constant D of n series, n <= m*T (so that n x
// n stays within the records), the derivatives are summed over the periods,
// from the last, into an n x n lower triangle, and D's derivative formed once
// from it; otherwise each period adds to it straight away: its diagonal,
// 2*H(j, j)*D(j, l) (written for page t of a paged D), then for each pair (i,
// q), i > q ascending, D(O_i, l) gains H(i, q)*D(O_q, l) and D(O_q, l) gains
// H(i, q)*D(O_i, l), l ascending. A product with a zero element of D is left
// out, as the forward pass leaves it out. Every other sum is one accumulator
// in ascending index, in plain loops that run the same on every kernel path
// (or the kernels' products, which give their bits).
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

// Period t's derivatives with respect to H_O (its diagonal the noise
// variances' in noiseGradients) into D's: a constant D's n x n sums, when
// the workspace keeps them, or else D's derivative itself, `out`: page t of
// a paged D (written), or a constant D's (added to).
void addNoiseGradients(GradientWorkspace &workspace, uint64_t t, const SeriesTaken &taken, double *out);

// A constant D's derivative from the sums over periods, S*D with S their
// symmetric whole: element (a, l) over q ascending of S(a, q)*D(q, l), a zero
// element of D left out, S(a, a) twice the sum.
void finishNoiseGradient(const GradientWorkspace &workspace, double *out);
