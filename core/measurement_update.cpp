#include "measurement_update.h"

#include "dense_kernels.h"

void downdateCovarianceVectorised(double *P, const double *covTimesRow, const double *gain, uint64_t m) {
  denseKernels().symmetricDowndate(P, covTimesRow, gain, m);
  // A variance that rounding drove to zero or below drops its state until the
  // next prediction; a NaN variance fails the test and is kept. Clearing one
  // state never touches what another's test reads, so the order is free.
  for (uint64_t i = 0; i < m; ++i) {
    if (P[i + i * m] <= 0.0) {
      for (uint64_t l = 0; l < m; ++l) {
        P[l + i * m] = 0.0;
        P[i + l * m] = 0.0;
      }
    }
  }
}
