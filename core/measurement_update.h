// The univariate measurement update: one observed series at a time.
//
// Inline, so that for a few states the whole update runs without a call; from
// the kernel path's smallest vectorised size on, the products go to its
// kernels, which give the same bits.
#pragma once

#include "dense_kernels.h"
#include "dense_products.h"
#include "filter_types.h"
#include "reference_steps.h"

#include <cmath>
#include <cstdint>

// ln(2*pi) as the decimal literal whose double every result is built on; a
// computed logarithm would differ in the last bits.
inline constexpr double logTwoPi = 1.837877066409345;

// A variance that rounding drove to zero or below drops its state until the
// next prediction: its row and column of the m x m P are zeroed. A NaN
// variance fails the test and is kept. Clearing one state never touches what
// another's test reads, so the order is free. Returns whether a state was
// cleared.
bool clearNonPositiveVariances(double *P, uint64_t m);

// The correction of P by a used observation on the kernel path, for the sizes
// it vectorises, with the clearing of non-positive variances.
void downdateCovarianceVectorised(double *P, const double *covTimesRow, const double *gain, uint64_t m);

// F = d + c*w accumulated onto d, from the w already in covTimesRow.
inline double varianceFromCovTimesRow(const double *measurementRow, double noiseVar, const double *covTimesRow,
                                      uint64_t m) {
  double F = noiseVar;
  for (uint64_t q = 0; q < m; ++q) {
    F += measurementRow[q] * covTimesRow[q];
  }
  return F;
}

// w = P*c' into covTimesRow; returns F = d + c*w accumulated onto d.
inline double innovationVariance(const double *measurementRow, double noiseVar, const double *P, uint64_t m,
                                 double *covTimesRow) {
  if (!denseKernels().vectorises(m)) {
    forStateCount(m, [&](uint64_t states) { covTimesRowReference(covTimesRow, measurementRow, P, states); });
  } else {
    // Column i of P is row i, since every prediction and update leaves P
    // symmetric: w is the row c against the rows of P.
    vectorTimesRows(covTimesRow, measurementRow, P, m);
  }
  return varianceFromCovTimesRow(measurementRow, noiseVar, covTimesRow, m);
}

struct UsedObservation {
  double innovation;  // v
  double reciprocal;  // 1/F, the one division of the update
};

// Corrects x with an observation already found usable, its variance F and the
// w that innovationVariance left in scratch.covTimesRow, and leaves K in
// scratch.gain; P is the caller's to correct. The innovation starts from
// `innovationStart` (the observation, or in the smoother the observation less
// its mean) and subtracts c(s)*x(s) in turn.
inline UsedObservation correctStateMean(double innovationStart, double F, const double *measurementRow, uint64_t m,
                                        FilterState state, FilterScratch scratch) {
  double *x = state.x;
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
  return UsedObservation{v, invF};
}

// correctStateMean, then the correction of P. A state variance left at or
// below zero has its row and column of P zeroed.
inline UsedObservation assimilateObservation(double innovationStart, double F, const double *measurementRow, uint64_t m,
                                             FilterState state, FilterScratch scratch) {
  const UsedObservation used = correctStateMean(innovationStart, F, measurementRow, m, state, scratch);
  if (!denseKernels().vectorises(m)) {
    forStateCount(m, [&](uint64_t states) {
      downdateCovarianceReference(state.P, scratch.covTimesRow, scratch.gain, states);
    });
  } else {
    downdateCovarianceVectorised(state.P, scratch.covTimesRow, scratch.gain, m);
  }
  return used;
}

// What the observation subtracts from its period's log-likelihood, grouped
// exactly: 0.5*((ln F + ln 2pi) + (v*v)*invF).
inline double logLikelihoodTerm(double F, double v, double reciprocal) {
  return 0.5 * ((std::log(F) + logTwoPi) + (v * v) * reciprocal);
}

// The update of the local level model on values, in the operations of
// innovationVariance and assimilateObservation for m = 1: first w = P*c from
// 0.0 and F = d + c*w, then, for an observation that is used, the
// innovation from its start, 1/F, K = (1/F)*w, x and P, a variance at or
// below zero cleared and a NaN one kept.
struct OneStateVariance {
  double w, F;
};
inline OneStateVariance oneStateInnovationVariance(double c, double noiseVar, double P) {
  double w = 0.0;
  w += P * c;
  double F = noiseVar;
  F += c * w;
  return {w, F};
}

struct OneStateCorrection {
  double x, P, v, reciprocal, K;
};
inline OneStateCorrection correctedOneState(double innovationStart, double c, double x, double P,
                                            OneStateVariance variance) {
  double v = innovationStart;
  v -= c * x;
  const double invF = 1.0 / variance.F;
  const double K = invF * variance.w;
  const double p = P - variance.w * K;
  return {v * K + x, p <= 0.0 ? 0.0 : p, v, invF, K};
}

// updateWithObservation for the local level model and an observation already
// found present, on values held in registers (see predictOneState): the same
// operations, in the same order.
inline bool updateOneStateWithPresentObservation(double y, const double *measurementRow, double noiseVar, double tol,
                                                 FilterState state, FilterScratch scratch, double *logLikelihood) {
  const double c = measurementRow[0];
  const double P = state.P[0];
  const OneStateVariance variance = oneStateInnovationVariance(c, noiseVar, P);
  if (variance.F <= tol) {  // ordered: a NaN F or tol never passes the observation over
    return false;
  }
  const OneStateCorrection corrected = correctedOneState(y, c, state.x[0], P, variance);
  state.x[0] = corrected.x;
  state.P[0] = corrected.P;
  scratch.covTimesRow[0] = variance.w;
  scratch.gain[0] = corrected.K;
  *logLikelihood -= logLikelihoodTerm(variance.F, corrected.v, corrected.reciprocal);
  return true;
}

// The whole update of the filter modules. Returns true when the observation
// was used (and its term subtracted from *logLikelihood); false when it was
// missing or its F is not above tol, with x, P and *logLikelihood untouched.
inline bool updateWithObservation(double y, const double *measurementRow, double noiseVar, double tol, uint64_t m,
                                  FilterState state, FilterScratch scratch, MissingTest isMissing,
                                  double *logLikelihood) {
  if (isMissing(y)) {
    return false;
  }
  if (m == 1 && denseKernels().oneStateInRegisters) {
    return updateOneStateWithPresentObservation(y, measurementRow, noiseVar, tol, state, scratch, logLikelihood);
  }
  const double F = innovationVariance(measurementRow, noiseVar, state.P, m, scratch.covTimesRow);
  if (F <= tol) {  // ordered: a NaN F or tol never passes the observation over
    return false;
  }
  const UsedObservation used = assimilateObservation(y, F, measurementRow, m, state, scratch);
  *logLikelihood -= logLikelihoodTerm(F, used.innovation, used.reciprocal);
  return true;
}

// Whether updateWithObservations forms each series' w during the correction
// by the series before (DenseKernels::formsNextCovTimesRowInCorrection).
inline bool formsNextCovTimesRowInCorrection(uint64_t m) {
  return denseKernels().formsNextCovTimesRowInCorrection(m);
}

// What a pass that goes back over the period keeps of each series: the
// smoother and the gradient. The smoother's innovations start from the
// observations less their means and it forms no log-likelihood; the
// gradient's start from the observations, as the filter's, and it forms the
// filter's log-likelihood beside the records.
struct ObservationRecords {
  const double *means;        // series j's innovation starts from y_j - means[j]; null: from y_j
  double *gains;              // K of a used series j at gains + j*m
  double *scaledInnovations;  // (1/F)*v of a used series
  double *skipFlags;          // 1.0 for a series passed over; a used one's is left as it is
  double *reciprocals;        // 1/F of a used series; null when the caller keeps none
  bool formsLogLikelihood = false;
};

// Where series j's innovation starts: the observation, less its mean when
// the records carry means (a NaN mean is used and spreads).
inline double innovationStartOf(const ObservationRecords *records, const double *y, uint64_t yStride, uint64_t j) {
  return records != nullptr && records->means != nullptr ? y[j * yStride] - records->means[j] : y[j * yStride];
}

// Whether the updates subtract their terms from the period's log-likelihood:
// always without records, and with them when asked.
inline bool formsLogLikelihood(const ObservationRecords *records) {
  return records == nullptr || records->formsLogLikelihood;
}

// Keeps what a way back needs of a used series j: the smoother forms L =
// I - K*c and the score c'*((1/F)*v) again from K and (1/F)*v, and the
// information c'*c/F of the covariances from 1/F; the gradient takes w, v
// and F again from the same three. The updates of known states form K
// where it is kept, and this keeps the rest.
inline void recordUsedScalars(const ObservationRecords &records, uint64_t j, UsedObservation used) {
  records.scaledInnovations[j] = used.reciprocal * used.innovation;
  if (records.reciprocals != nullptr) {
    records.reciprocals[j] = used.reciprocal;
  }
}

// The same with the gain copied in: the diffuse phase's steps.
inline void recordUsedSeries(const ObservationRecords &records, uint64_t j, const double *gain, UsedObservation used,
                             uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    records.gains[j * m + i] = gain[i];
  }
  recordUsedScalars(records, j, used);
}

// updateWithObservations for a model that the kernel path takes through the
// steps compiled for its size.
double updateWithObservationsOfFixedSize(const double *y, uint64_t yStride, uint64_t n, const PreparedModel &model,
                                         double tol, uint64_t m, FilterState state, MissingTest isMissing,
                                         const ObservationRecords *records = nullptr);

// updateWithObservations for a model that formsNextCovTimesRowInCorrection.
double updateWithObservationsFormingNext(const double *y, uint64_t yStride, uint64_t n, const PreparedModel &model,
                                         double tol, uint64_t m, FilterState state, FilterScratch scratch,
                                         MissingTest isMissing, const ObservationRecords *records = nullptr);

// The updates of the series by series path with records: the steps of
// updateWithObservation one by one, each used series recorded. For one
// state they are the operations of the local level model's own update.
inline double updateAndRecordEachSeries(const double *y, uint64_t yStride, uint64_t n, const PreparedModel &model,
                                        double tol, uint64_t m, FilterState state, FilterScratch scratch,
                                        MissingTest isMissing, const ObservationRecords &records) {
  double logLikelihood = 0.0;
  for (uint64_t j = 0; j < n; ++j) {
    if (isMissing(y[j * yStride])) {
      records.skipFlags[j] = 1.0;
      continue;
    }
    const double *c = model.measurementRows + j * m;
    const double F = innovationVariance(c, model.observationNoiseVar[j], state.P, m, scratch.covTimesRow);
    if (F <= tol) {  // ordered: a NaN F or tol is used
      records.skipFlags[j] = 1.0;
      continue;
    }
    // K is formed where it is kept rather than copied there.
    FilterScratch step = scratch;
    step.gain = records.gains + j * m;
    const UsedObservation used = assimilateObservation(innovationStartOf(&records, y, yStride, j), F, c, m, state,
                                                       step);
    recordUsedScalars(records, j, used);
    if (records.formsLogLikelihood) {
      logLikelihood -= logLikelihoodTerm(F, used.innovation, used.reciprocal);
    }
  }
  return logLikelihood;
}

// The updates of one period's n series in turn, observation j at y[j*yStride],
// each as updateWithObservation makes it. P must be symmetric, as every
// prediction leaves it. Returns the period's log-likelihood: 0.0 less the
// terms of the used observations, in series order (0.0 with records that
// form none). With records, every series is recorded as well: the same
// steps, so x, P and the log-likelihood keep their bits.
inline double updateWithObservations(const double *y, uint64_t yStride, uint64_t n, const PreparedModel &model,
                                     double tol, uint64_t m, const FilterState &state, const FilterScratch &scratch,
                                     MissingTest isMissing, const ObservationRecords *records = nullptr) {
  const DenseKernels &kernels = denseKernels();
  double logLikelihood = 0.0;
  if (kernels.usesFixedSizeSteps(m)) {
    logLikelihood = updateWithObservationsOfFixedSize(y, yStride, n, model, tol, m, state, isMissing, records);
  } else if (kernels.formsNextCovTimesRowInCorrection(m)) {
    logLikelihood = updateWithObservationsFormingNext(y, yStride, n, model, tol, m, state, scratch, isMissing, records);
  } else if (records != nullptr) {
    logLikelihood = updateAndRecordEachSeries(y, yStride, n, model, tol, m, state, scratch, isMissing, *records);
  } else {
    for (uint64_t j = 0; j < n; ++j) {
      updateWithObservation(y[j * yStride], model.measurementRows + j * m, model.observationNoiseVar[j], tol, m,
                            state, scratch, isMissing, &logLikelihood);
    }
  }
  return logLikelihood;
}
