#include "lower_triangle.h"

#include "dense_kernels.h"

void restoreSymmetricInBands(double *P, const double *triangle, uint64_t m) {
  // The triangle's columns are P's on and below the diagonal, whole runs.
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = i; l < m; ++l) {
      P[l + i * m] = *triangle++;
    }
  }
  // Then P's rows, a band of them at a time: the part of the band's columns
  // below its diagonal block goes onto the band's rows through the kernel's
  // tiles, the block's own part element by element.
  const TransposeKernel transpose = denseKernels().transpose;
  constexpr uint64_t band = 8;
  for (uint64_t first = 0; first < m; first += band) {
    const uint64_t end = m - first < band ? m : first + band;
    transpose(P + end * m + first, m, P + first * m + end, m, end - first, m - end);
    for (uint64_t i = first; i < end; ++i) {
      for (uint64_t l = i + 1; l < end; ++l) {
        P[i + l * m] = P[l + i * m];
      }
    }
  }
}
