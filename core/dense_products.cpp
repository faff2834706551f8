#include "dense_products.h"

#include "dense_kernels.h"
#include "reference_steps.h"

void vectorTimesRows(double *out, const double *v, const double *M, uint64_t m) {
  if (usesFixedSizeSteps(m)) {
    denseKernels().vectorTimesRowsFixed[m](out, v, M);
    return;
  }
  if (m >= smallestVectorisedSize) {
    denseKernels().rowsTimesColumns(out, 0, nullptr, 0, v, 0, M, m, 1, m, m);
    return;
  }
  for (uint64_t i = 0; i < m; ++i) {
    double s = 0.0;
    for (uint64_t l = 0; l < m; ++l) {
      s += v[l] * M[l * m + i];
    }
    out[i] = s;
  }
}

void rowsTimesRows(double *out, const double *A, const double *B, uint64_t m) {
  if (usesFixedSizeSteps(m)) {
    denseKernels().rowsTimesRowsFixed[m](out, A, B);
    return;
  }
  if (m >= smallestVectorisedSize) {
    denseKernels().rowsTimesColumns(out, m, nullptr, 0, A, m, B, m, m, m, m);
    return;
  }
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l < m; ++l) {
      double s = 0.0;
      for (uint64_t q = 0; q < m; ++q) {
        s += A[i * m + q] * B[q * m + l];
      }
      out[i * m + l] = s;
    }
  }
}

void cumulantThroughUpdate(double *out, const double *q, const double *K, const double *c, double s, uint64_t m) {
  if (m >= smallestVectorisedSize) {
    denseKernels().cumulantThroughUpdate(out, q, K, c, s, m);
    return;
  }
  cumulantThroughUpdateReference(out, q, K, c, s, m);
}
