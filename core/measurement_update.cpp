#include "measurement_update.h"

#include <cmath>

double innovationVariance(const double *measurementRow, double noiseVar, const double *P, uint64_t m,
                          double *covTimesRow) {
  for (uint64_t i = 0; i < m; ++i) {
    double s = 0.0;
    for (uint64_t q = 0; q < m; ++q) {
      s += P[q + i * m] * measurementRow[q];
    }
    covTimesRow[i] = s;
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
  for (uint64_t i = 0; i < m; ++i) {
    const double p = P[i + i * m] - w[i] * K[i];
    P[i + i * m] = p;
    if (p <= 0.0) {
      // A variance that rounding drove to zero or below: drop the state until
      // the next prediction. A NaN p fails the test and is kept.
      for (uint64_t l = 0; l < m; ++l) {
        P[l + i * m] = 0.0;
        P[i + l * m] = 0.0;
      }
      continue;
    }
    for (uint64_t l = i + 1; l < m; ++l) {
      const double q = P[l + i * m] - w[i] * K[l];
      P[l + i * m] = q;
      P[i + l * m] = q;
    }
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
