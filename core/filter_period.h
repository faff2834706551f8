// One period of the filter modules: the prediction, then the update by each
// observed series in turn.
#pragma once

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
                           uint64_t yStride, bool predict, MissingTest isMissing,
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
  if (predict) {
    predictState(state, period, scratch, m);
  }
  return updateWithObservations(y, yStride, n, period, model.tol, m, state, scratch, isMissing, records);
}
