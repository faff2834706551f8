#include "lower_triangle.h"

#include "dense_products.h"

void restoreSymmetricInBands(double *P, const double *triangle, uint64_t m) {
  // The triangle's columns are P's on and below the diagonal, whole runs;
  // they are then mirrored onto P's rows.
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = i; l < m; ++l) {
      P[l + i * m] = *triangle++;
    }
  }
  mirrorUpperTriangle(P, m);
}
