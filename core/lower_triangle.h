// A symmetric m x m matrix kept as its lower triangle, column by column
// (rows i to m-1 of column i), and made whole again by mirroring it: what a
// way back keeps of a covariance per period.
#pragma once

#include <cstdint>

// The doubles of the lower triangle of an m x m matrix, diagonal included.
inline uint64_t lowerTriangleCount(uint64_t m) { return m * (m + 1) / 2; }

// Inline: once a period, and for one state the copy of a single double.
inline void storeLowerTriangle(double *triangle, const double *P, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = i; l < m; ++l) {
      *triangle++ = P[l + i * m];
    }
  }
}

// P whole from its triangle, in bands of tiles (many states).
void restoreSymmetricInBands(double *P, const double *triangle, uint64_t m);

// Each element below the diagonal is written to its mirror as well, so P is
// symmetric to the bit. Inline for a few states, whose copies cost less than
// a call.
inline void restoreSymmetric(double *P, const double *triangle, uint64_t m) {
  if (m > 16) {
    restoreSymmetricInBands(P, triangle, m);
    return;
  }
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = i; l < m; ++l) {
      P[l + i * m] = *triangle;
      P[i + l * m] = *triangle++;
    }
  }
}
