#include "measurement_update.h"

#include "dense_kernels.h"

#include <algorithm>

bool clearNonPositiveVariances(double *P, uint64_t m) {
  bool cleared = false;
  for (uint64_t i = 0; i < m; ++i) {
    if (P[i + i * m] <= 0.0) {
      cleared = true;
      for (uint64_t l = 0; l < m; ++l) {
        P[l + i * m] = 0.0;
        P[i + l * m] = 0.0;
      }
    }
  }
  return cleared;
}

void downdateCovarianceVectorised(double *P, const double *covTimesRow, const double *gain, uint64_t m) {
  denseKernels().symmetricDowndate(P, covTimesRow, gain, m);
  clearNonPositiveVariances(P, m);
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

double updateWithObservationsFormingNext(const double *y, uint64_t yStride, uint64_t n, const PreparedModel &model,
                                         double tol, uint64_t m, FilterState state, FilterScratch scratch,
                                         MissingTest isMissing, const SmootherRecords *records) {
  const DowndateWithNextKernel downdateWithNext = denseKernels().downdateWithNext;
  // Each observation is asked about once, as the series come.
  auto nextPresent = [&](uint64_t from) {
    while (from < n && isMissing(y[from * yStride])) {
      if (records != nullptr) records->skipFlags[from] = 1.0;
      ++from;
    }
    return from;
  };
  double *w = scratch.covTimesRow;
  double logLikelihood = 0.0;
  // Whether w is already that of series j, formed by the correction before.
  bool formed = false;
  for (uint64_t j = nextPresent(0); j < n;) {
    const double *c = model.measurementRows + j * m;
    const double d = model.observationNoiseVar[j];
    const double F = formed ? varianceFromCovTimesRow(c, d, w, m) : innovationVariance(c, d, state.P, m, w);
    const uint64_t next = nextPresent(j + 1);
    formed = false;
    if (F <= tol) {  // ordered: a NaN F or tol never passes the observation over
      if (records != nullptr) records->skipFlags[j] = 1.0;
      j = next;
      continue;
    }
    // The smoother's innovation starts from the observation less its mean;
    // a NaN mean is used and spreads.
    const double start = records != nullptr ? y[j * yStride] - records->means[j] : y[j * yStride];
    const UsedObservation used = correctStateMean(start, F, c, m, state, scratch);
    if (next < n) {
      // The next w goes where w was; K stays.
      downdateWithNext(state.P, w, scratch.gain, model.measurementRows + next * m, w, m);
      // A cleared state changes P after the next w was formed from it.
      formed = !clearNonPositiveVariances(state.P, m);
    } else {
      downdateCovarianceVectorised(state.P, w, scratch.gain, m);
    }
    if (records != nullptr) {
      recordUsedSeries(*records, j, scratch.gain, used, m);
    } else {
      logLikelihood -= logLikelihoodTerm(F, used.innovation, used.reciprocal);
    }
    j = next;
  }
  return logLikelihood;
}
