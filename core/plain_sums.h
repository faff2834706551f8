// Sums of a few terms as plain loops, for the steps that run the same on
// every kernel path (those of the diffuse phase): one accumulator from 0.0,
// terms in ascending index.
#pragma once

#include <cstdint>

// The sum over l of a_l*b_l.
inline double plainDot(const double *a, const double *b, uint64_t m) {
  double s = 0.0;
  for (uint64_t l = 0; l < m; ++l) {
    s += a[l] * b[l];
  }
  return s;
}

// out_i = the sum over l of X(i, l)*v_l, X row by row (X(i, l) at i*m + l);
// for a symmetric X, X times v.
inline void plainRowsTimesVector(double *out, const double *X, const double *v, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    out[i] = plainDot(X + i * m, v, m);
  }
}
