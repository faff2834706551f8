// One period of the filter modules: the prediction, then the update by each
// observed series in turn.
#pragma once

#include "correlated_noise.h"
#include "diffuse_start.h"
#include "filter_types.h"
#include "measurement_update.h"
#include "state_space_model.h"
#include "time_update.h"

#include <cstdint>

// Where a filter writes the state at the end of every period, when the caller
// asks for it; a null pointer asks for nothing and costs nothing.
struct FilteredOutputs {
  double *means = nullptr;        // T x m column-major: row t is x after period t
  double *covariances = nullptr;  // m x m x T: page t is P after period t
  bool wanted() const { return means != nullptr || covariances != nullptr; }
};

// Copies x and P as period t of the model's T left them. P holds both
// triangles equal.
inline void recordFilteredState(const FilteredOutputs &filtered, const StateSpaceModel &model,
                                const FilterState &state, uint64_t t) {
  const uint64_t m = model.m;
  const uint64_t T = model.T;
  if (filtered.means != nullptr) {
    for (uint64_t i = 0; i < m; ++i) {
      filtered.means[t + i * T] = state.x[i];
    }
  }
  if (filtered.covariances != nullptr) {
    double *page = filtered.covariances + t * m * m;
    for (uint64_t e = 0; e < m * m; ++e) {
      page[e] = state.P[e];
    }
  }
}

// The series a period's updates take: its own, or, where they share noise
// and their noise covariance is not diagonal, its decorrelated ones (see
// correlated_noise.h), observed at decorrelation.observations. Records then
// take the decorrelated series at the period's first places, the rest passed
// over, and the means of series that have none.
struct SeriesTaken {
  const double *y;
  uint64_t yStride;
  uint64_t count;
  PreparedModel period;
  MissingTest isMissing;
  ObservationRecords records;  // valid when the caller gave records
  bool decorrelated;           // the decorrelated series, whose factor is decorrelation's
};
SeriesTaken seriesTaken(const StateSpaceModel &model, const double *y, uint64_t yStride, MissingTest isMissing,
                        Decorrelation &decorrelation, const ObservationRecords *records);

// A period of the diffuse phase (diffuse_start.h): the prediction of x, P*
// and P_inf, then the updates by the period's series, decorrelated where they
// share noise; ends the phase after it when P_inf has become zero. Returns
// the period's log-likelihood.
double filterPeriodInDiffusePhase(const StateSpaceModel &model, FilterState state, FilterScratch scratch,
                                  const double *y, uint64_t yStride, MissingTest isMissing,
                                  Decorrelation &decorrelation, DiffuseStart &diffuse);

// Copies x and, where P_inf is not zero, infinity in place of P's elements,
// as a period of the diffuse phase left them.
inline void recordDiffuseFilteredState(const FilteredOutputs &filtered, const StateSpaceModel &model,
                                       const FilterState &state, const DiffuseStart &diffuse, uint64_t t) {
  recordFilteredState(filtered, model, state, t);
  if (filtered.covariances != nullptr) {
    writeDiffuseCovariance(filtered.covariances + t * model.m * model.m, state.P, diffuse, model.m);
  }
}

// The updates of a period whose series may share innovations, the series
// seriesTaken gives, each recorded with records. Returns the period's
// log-likelihood (0.0 with records that form none).
double updateWithSeriesThatMayShareNoise(const StateSpaceModel &model, FilterState state, FilterScratch scratch,
                                         const double *y, uint64_t yStride, MissingTest isMissing,
                                         Decorrelation &decorrelation, const ObservationRecords *records = nullptr);

// filterPeriod for every model but the local level one in registers. Not
// inline: in a loop beside the local level model's few instructions, its
// code would take their registers.
[[gnu::noinline]] inline double filterPeriodOfManyStates(const StateSpaceModel &model, FilterState state,
                                                         FilterScratch scratch, const double *y, uint64_t yStride,
                                                         bool predict, MissingTest isMissing,
                                                         Decorrelation &decorrelation,
                                                         const ObservationRecords *records) {
  const uint64_t m = model.m;
  const PreparedModel &period = model.period;
  if (predict) {
    predictState(state, period, scratch, m);
  }
  if (period.sharedNoiseLoadings != nullptr) [[unlikely]] {
    return updateWithSeriesThatMayShareNoise(model, state, scratch, y, yStride, isMissing, decorrelation, records);
  }
  return updateWithObservations(y, yStride, model.n, period, model.tol, m, state, scratch, isMissing, records);
}

// Predicts (when `predict`) and updates with the model's n series of the
// period, observation j at y[j*yStride]; returns the period's log-likelihood.
// The local level model asks the host whether its observation is missing
// before the prediction: a call between prediction and update would send x
// and P through memory, a round trip on the chain from one period to the
// next. The test has no effect on the state, so asking earlier changes no
// result. The reference kernel path takes the plain loops instead. With
// records, each series is recorded as well (updateWithObservations), and the
// local level model takes the general steps, whose operations its own are.
inline double filterPeriod(const StateSpaceModel &model, FilterState state, FilterScratch scratch, const double *y,
                           uint64_t yStride, bool predict, MissingTest isMissing, Decorrelation &decorrelation,
                           const ObservationRecords *records = nullptr) {
  const uint64_t m = model.m;
  const uint64_t n = model.n;
  const PreparedModel &period = model.period;
  if (m == 1 && n == 1 && denseKernels().oneStateInRegisters && records == nullptr) {
    const bool present = !isMissing(y[0]);
    if (predict) {
      predictOneState(state, period, scratch);
    }
    double logLikelihood = 0.0;
    if (present) {
      updateOneStateWithPresentObservation(y[0], period.measurementRows, period.observationNoiseVar[0], model.tol,
                                           state, scratch, &logLikelihood);
    }
    return logLikelihood;
  }
  return filterPeriodOfManyStates(model, state, scratch, y, yStride, predict, isMissing, decorrelation, records);
}
