#include "mean_path.h"

#include "model_preparation.h"

void computeMeanPath(const SmootherModel &model, const double *x0, const double *stateIntercept,
                     const double *observationIntercept, SmootherWorkspace &workspace) {
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  const double *A = workspace.model.transitionRows;
  const double *C = workspace.model.measurementRows;
  for (uint64_t t = 0; t < model.T; ++t) {
    if (model.A.paged) {
      prepareTransitionForms(workspace.model, coefficientOfPeriod(model.A, t, m * m), m);
    }
    if (model.C.paged) {
      prepareMeasurement(workspace.model.measurementRows, coefficientOfPeriod(model.C, t, n * m), n, m);
    }
    const double *previous = t == 0 ? x0 : workspace.meanStates + (t - 1) * m;
    double *states = workspace.meanStates + t * m;
    for (uint64_t i = 0; i < m; ++i) {
      // The intercept is the accumulator's first term, not added at the end.
      double s = stateIntercept != nullptr ? stateIntercept[t * m + i] : 0.0;
      for (uint64_t l = 0; l < m; ++l) {
        s += A[i * m + l] * previous[l];
      }
      states[i] = s;
    }
    for (uint64_t j = 0; j < n; ++j) {
      double s = observationIntercept != nullptr ? observationIntercept[t * n + j] : 0.0;
      for (uint64_t l = 0; l < m; ++l) {
        s += C[j * m + l] * states[l];
      }
      workspace.meanObservations[t * n + j] = s;
    }
  }
}
