#include "smoothed_covariance.h"

#include "dense_products.h"

void clearInformation(double *N, uint64_t m) {
  for (uint64_t e = 0; e < m * m; ++e) {
    N[e] = 0.0;
  }
}

void carryInformationThroughTransition(double *N, const double *transitionRows, const double *transitionColumns,
                                       double *scratch, uint64_t m) {
  rowsTimesRows(scratch, N, transitionRows, m);
  // The columns of A are the rows of A'.
  rowsTimesRowsLower(N, transitionColumns, scratch, m);
  mirrorLowerTriangle(N, m);
}

void carryInformationThroughUpdate(double *N, const double *K, const double *c, double reciprocal, double *u,
                                   uint64_t m) {
  // N is symmetric, so its rows stand for its columns.
  vectorTimesRows(u, K, N, m);
  double s = 0.0;
  for (uint64_t l = 0; l < m; ++l) {
    s += K[l] * u[l];
  }
  // Row by row along contiguous memory, which the compiler vectorises across
  // the independent elements; the upper triangle is mirrored afterwards.
  for (uint64_t i = 0; i < m; ++i) {
    double *__restrict row = N + i * m;
    const double *__restrict ur = u;
    const double *__restrict cr = c;
    const double ci = c[i];
    const double ui = u[i];
    for (uint64_t l = 0; l <= i; ++l) {
      row[l] = (((row[l] - ci * ur[l]) - ui * cr[l]) + ci * (s * cr[l])) + (ci * cr[l]) * reciprocal;
    }
  }
  mirrorLowerTriangle(N, m);
}

void writeSmoothedCovariance(double *page, const double *P, const double *N, double *first, double *second,
                             uint64_t m) {
  rowsTimesRows(first, P, N, m);
  rowsTimesRowsLower(second, first, P, m);
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l <= i; ++l) {
      const double value = P[i * m + l] - second[i * m + l];
      page[i * m + l] = value;
      page[l * m + i] = value;
    }
  }
}
