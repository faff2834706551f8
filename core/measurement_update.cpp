#include "measurement_update.h"

#include "dense_kernels.h"

#include <algorithm>

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

double updateWithObservationsOfFixedSize(const double *y, uint64_t yStride, uint64_t n, const PreparedModel &model,
                                         double tol, uint64_t m, FilterState state, MissingTest isMissing) {
  constexpr uint64_t run = fixedSizeRunLength;
  const FixedAssimilateKernel assimilate = denseKernels().assimilateFixed[m];
  double logLikelihood = 0.0;
  for (uint64_t first = 0; first < n; first += run) {
    const uint64_t count = std::min(run, n - first);
    double observations[run];
    bool present[run];
    ObservationOutcome outcomes[run];
    for (uint64_t j = 0; j < count; ++j) {
      observations[j] = y[(first + j) * yStride];
      present[j] = !isMissing(observations[j]);
    }
    assimilate(state.x, state.P, observations, present, count, model.measurementRows + first * m,
               model.observationNoiseVar + first, tol, outcomes, nullptr);
    for (uint64_t j = 0; j < count; ++j) {
      if (outcomes[j].used) {
        logLikelihood -= logLikelihoodTerm(outcomes[j].variance, outcomes[j].innovation, outcomes[j].reciprocal);
      }
    }
  }
  return logLikelihood;
}
