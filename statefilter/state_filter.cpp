#include "state_filter.h"

#include "model_preparation.h"

void runStateFilter(const double *Y, uint64_t T, uint64_t n, CoefficientSource A, CoefficientSource B,
                    CoefficientSource C, CoefficientSource D, uint64_t m, uint64_t k, uint64_t h,
                    const double *x0, const double *P0, double tol, StateFilterWorkspace &workspace,
                    double *out, MissingTest isMissing, const FilteredOutputs &filtered) {
  // With no period the state is never looked at, and a paged coefficient has
  // no first page to prepare from.
  if (T == 0) {
    return;
  }
  PreparedModel &model = workspace.model;
  prepareTransitionForFiltering(model, A.data, m);
  prepareStateNoise(model.stateNoiseCov, B.data, m, k);
  prepareMeasurement(model.measurementRows, C.data, n, m);
  prepareObservationNoise(model.observationNoiseVar, D.data, n, h);
  initialiseState(workspace.state, x0, P0, m);

  for (uint64_t t = 0; t < T; ++t) {
    if (A.paged) {
      prepareTransitionForFiltering(model, coefficientOfPeriod(A, t, m * m), m);
    }
    if (B.paged) {
      prepareStateNoise(model.stateNoiseCov, coefficientOfPeriod(B, t, m * k), m, k);
    }
    if (C.paged) {
      prepareMeasurement(model.measurementRows, coefficientOfPeriod(C, t, n * m), n, m);
    }
    if (D.paged) {
      prepareObservationNoise(model.observationNoiseVar, coefficientOfPeriod(D, t, n * h), n, h);
    }
    // The prediction belongs to the first series: with no series the state is
    // never read again, and every period's sum is 0.0 either way, unless the
    // caller asked for the states.
    const bool predict = n > 0 || filtered.wanted();
    out[t] = filterPeriod(Y + t, T, n, predict, model, tol, m, workspace.state, workspace.scratch, isMissing);
    if (filtered.wanted()) {
      recordFilteredState(filtered, workspace.state, m, T, t);
    }
  }
}
