// The draw of the state one step before the first period: x+ = x0 + G*z0,
// with G the lower Cholesky factor of the finite block of P0.
#pragma once

#include <cstdint>

// A pivot within this fraction of P0's largest finite diagonal element of
// zero is zero: its direction gets no draw. One below minus this fraction
// means P0 is not positive semidefinite.
inline constexpr double zeroPivotFraction = 1e-12;

// A state whose variance in P0 is +inf starts at its x0 as given: it has no
// row or column in G and its row of z0 is not read.
inline bool startsDiffuse(const double *P0, uint64_t m, uint64_t i) {
  return P0[i + i * m] == __builtin_inf();
}

// Why a P0 was refused, for the message; `positiveSemidefinite` when not.
struct InitialFactorOutcome {
  bool positiveSemidefinite;
  bool offDiagonal;   // refused for a residual beside a zero pivot, not for a pivot
  uint64_t state;     // the state of the pivot, or the row of the residual
  uint64_t column;    // the zero pivot's state, for a residual
  double value;       // the pivot or the residual
  double scale;       // the largest finite diagonal element (0.0 when none is above zero)
};

// G (m x m, column-major, zero above the diagonal) from the lower triangle of
// P0, states in ascending order, diffuse states skipped. With scale the
// largest finite diagonal element of P0 (0.0 if none is above it) and tiny =
// zeroPivotFraction*scale, column j of G takes the pivot
//   d = P0(j, j) - G(j, 0)*G(j, 0) - ... - G(j, j-1)*G(j, j-1),
// each square subtracted in turn; and for each later state i the residual
//   q = P0(i, j) - G(i, 0)*G(j, 0) - ... - G(i, j-1)*G(j, j-1).
// d < -tiny refuses P0. d <= tiny is zero: column j stays zero, and P0 is
// refused if a residual of that column exceeds sqrt(tiny*scale) in absolute
// value, which no positive semidefinite matrix allows (a residual is at most
// the square root of the product of two residual variances). Otherwise
// G(j, j) = sqrt(d) and G(i, j) = q / G(j, j). A NaN pivot or residual passes
// both tests and spreads into G.
InitialFactorOutcome factorInitialCovariance(double *G, const double *P0, uint64_t m);

// The start of `lanes` draws side by side: x+(i, l) = x0_i + G(i, 0)*z(0, l)
// + ... + G(i, i)*z(i, l), one accumulator from x0_i in ascending column,
// columns of diffuse states skipped; a diffuse state's x+ is its x0. z is m
// rows `lanes` apart, x+ m rows `stride` apart.
void startSimulatedStates(double *simulated, uint64_t stride, const double *z, const double *G, const double *x0,
                          const double *P0, uint64_t m, uint64_t lanes);
