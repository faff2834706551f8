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

namespace {

// Compiled for each use, so that each pays only for what it asks: without
// records (the filters), with records and means and no terms (the
// smoother), with records and terms from the observations (the gradient).
template <bool withRecords, bool withMeans, bool formsTerms>
double assimilateRunsOfFixedSize(const double *y, uint64_t yStride, uint64_t n, const PreparedModel &model,
                                 double tol, uint64_t m, FilterState state, MissingTest isMissing,
                                 const ObservationRecords *records) {
  constexpr uint64_t run = fixedSizeRunLength;
  const FixedAssimilateKernel assimilate = denseKernels().assimilateFixed[m];
  double logLikelihood = 0.0;
  for (uint64_t first = 0; first < n; first += run) {
    const uint64_t count = std::min(run, n - first);
    [[maybe_unused]] double observations[withRecords ? 1 : run];
    bool present[run];
    ObservationOutcome outcomes[run];
    [[maybe_unused]] double starts[withRecords ? run : 1];
    for (uint64_t j = 0; j < count; ++j) {
      const double value = y[(first + j) * yStride];
      present[j] = !isMissing(value);
      if constexpr (withRecords) {
        // A NaN mean is used and spreads.
        starts[j] = withMeans ? value - records->means[first + j] : value;
      } else {
        observations[j] = value;
      }
    }
    if constexpr (withRecords) {
      // The kernel writes the gain of each used series where it is kept.
      assimilate(state.x, state.P, starts, present, count, model.measurementRows + first * m,
                 model.observationNoiseVar + first, tol, outcomes, records->gains + first * m);
    } else {
      assimilate(state.x, state.P, observations, present, count, model.measurementRows + first * m,
                 model.observationNoiseVar + first, tol, outcomes, nullptr);
    }
    for (uint64_t j = 0; j < count; ++j) {
      const ObservationOutcome &outcome = outcomes[j];
      if constexpr (withRecords) {
        if (!outcome.used) {
          records->skipFlags[first + j] = 1.0;
          continue;
        }
        recordUsedScalars(*records, first + j, {outcome.innovation, outcome.reciprocal});
      }
      if constexpr (formsTerms) {
        if (outcome.used) {
          logLikelihood -= logLikelihoodTerm(outcome.variance, outcome.innovation, outcome.reciprocal);
        }
      }
    }
  }
  return logLikelihood;
}

}  // namespace

double updateWithObservationsOfFixedSize(const double *y, uint64_t yStride, uint64_t n, const PreparedModel &model,
                                         double tol, uint64_t m, FilterState state, MissingTest isMissing,
                                         const ObservationRecords *records) {
  if (records == nullptr) {
    return assimilateRunsOfFixedSize<false, false, true>(y, yStride, n, model, tol, m, state, isMissing, nullptr);
  }
  if (records->means != nullptr) {
    return records->formsLogLikelihood
               ? assimilateRunsOfFixedSize<true, true, true>(y, yStride, n, model, tol, m, state, isMissing, records)
               : assimilateRunsOfFixedSize<true, true, false>(y, yStride, n, model, tol, m, state, isMissing, records);
  }
  return records->formsLogLikelihood
             ? assimilateRunsOfFixedSize<true, false, true>(y, yStride, n, model, tol, m, state, isMissing, records)
             : assimilateRunsOfFixedSize<true, false, false>(y, yStride, n, model, tol, m, state, isMissing, records);
}

double updateWithObservationsFormingNext(const double *y, uint64_t yStride, uint64_t n, const PreparedModel &model,
                                         double tol, uint64_t m, FilterState state, FilterScratch scratch,
                                         MissingTest isMissing, const ObservationRecords *records) {
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
    // With records, K is formed where it is kept rather than copied there.
    FilterScratch step = scratch;
    if (records != nullptr) step.gain = records->gains + j * m;
    const UsedObservation used = correctStateMean(innovationStartOf(records, y, yStride, j), F, c, m, state, step);
    if (next < n) {
      // The next w goes where w was; K stays.
      downdateWithNext(state.P, w, step.gain, model.measurementRows + next * m, w, m);
      // A cleared state changes P after the next w was formed from it.
      formed = !clearNonPositiveVariances(state.P, m);
    } else {
      downdateCovarianceVectorised(state.P, w, step.gain, m);
    }
    if (records != nullptr) {
      recordUsedScalars(*records, j, used);
    }
    if (formsLogLikelihood(records)) {
      logLikelihood -= logLikelihoodTerm(F, used.innovation, used.reciprocal);
    }
    j = next;
  }
  return logLikelihood;
}
