#include "measurement_update.h"

#include "dense_kernels.h"
#include "dense_products.h"
#include "reference_steps.h"

#include <cmath>

namespace {

// A variance that rounding drove to zero or below drops its state until the
// next prediction; a NaN variance fails the test and is kept. Clearing one
// state never touches what another's test reads, so the order is free.
void clearNonPositiveVariances(double *P, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    if (P[i + i * m] <= 0.0) {
      for (uint64_t l = 0; l < m; ++l) {
        P[l + i * m] = 0.0;
        P[i + l * m] = 0.0;
      }
    }
  }
}

}  // namespace

double innovationVariance(const double *measurementRow, double noiseVar, const double *P, uint64_t m,
                          double *covTimesRow) {
  if (m < smallestVectorisedSize) {
    covTimesRowReference(covTimesRow, measurementRow, P, m);
  } else {
    // Column i of P is row i, since every prediction and update leaves P
    // symmetric: w is the row c against the rows of P.
    vectorTimesRows(covTimesRow, measurementRow, P, m);
  }
  double F = noiseVar;
  for (uint64_t q = 0; q < m; ++q) {
    F += measurementRow[q] * covTimesRow[q];
  }
  return F;
}

UsedObservation assimilateObservation(double innovationStart, double F, const double *measurementRow,
                                      uint64_t m, FilterState state, FilterScratch scratch) {
  double *x = state.x;
  double *P = state.P;
  const double *w = scratch.covTimesRow;
  double *K = scratch.gain;

  double v = innovationStart;
  for (uint64_t s = 0; s < m; ++s) {
    v -= measurementRow[s] * x[s];
  }
  const double invF = 1.0 / F;
  for (uint64_t s = 0; s < m; ++s) {
    K[s] = invF * w[s];
    x[s] = v * K[s] + x[s];
  }
  if (m < smallestVectorisedSize) {
    downdateCovarianceReference(P, w, K, m);
  } else {
    denseKernels().symmetricDowndate(P, w, K, m);
    clearNonPositiveVariances(P, m);
  }
  return UsedObservation{v, invF};
}

double logLikelihoodTerm(double F, double v, double reciprocal) {
  return 0.5 * ((std::log(F) + logTwoPi) + (v * v) * reciprocal);
}

bool updateWithObservation(double y, const double *measurementRow, double noiseVar, double tol, uint64_t m,
                           FilterState state, FilterScratch scratch, MissingTest isMissing,
                           double *logLikelihood) {
  if (isMissing(y)) {
    return false;
  }
  const double F = innovationVariance(measurementRow, noiseVar, state.P, m, scratch.covTimesRow);
  if (F <= tol) {  // ordered: a NaN F or tol never passes the observation over
    return false;
  }
  const UsedObservation used = assimilateObservation(y, F, measurementRow, m, state, scratch);
  *logLikelihood -= logLikelihoodTerm(F, used.innovation, used.reciprocal);
  return true;
}
