#include "forward_pass.h"

#include "measurement_update.h"
#include "model_preparation.h"
#include "time_update.h"

#include <algorithm>

namespace {

void preparePagedCoefficients(const SmootherModel &model, uint64_t t, PreparedModel &prepared) {
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  if (model.A.paged) {
    prepareTransitionForms(prepared, coefficientOfPeriod(model.A, t, m * m), m);
  }
  if (model.B.paged) {
    prepareStateNoise(prepared.stateNoiseCov, coefficientOfPeriod(model.B, t, m * model.k), m, model.k);
  }
  if (model.C.paged) {
    prepareMeasurement(prepared.measurementRows, coefficientOfPeriod(model.C, t, n * m), n, m);
  }
  if (model.D.paged) {
    prepareObservationNoise(prepared.observationNoiseVar, coefficientOfPeriod(model.D, t, n * model.h), n,
                            model.h);
  }
}

// The way back forms a used observation's L = I - K*c and score c'*((1/F)*v)
// again from its gain and scaled innovation; a passed-over one needs only its
// flag.
void recordUsed(const double *gain, UsedObservation used, uint64_t m, double *observationGain,
                double *scaledInnovation) {
  for (uint64_t i = 0; i < m; ++i) {
    observationGain[i] = gain[i];
  }
  *scaledInnovation = used.reciprocal * used.innovation;
}

// The updates of period t for a model that usesFixedSizeSteps: the series go
// to the kernel in runs, with the same starts, tests and sums as one by one,
// and are recorded after it from the gains it returns.
void updateAndRecordOfFixedSize(const SmootherModel &model, uint64_t t, SmootherWorkspace &workspace,
                                MissingTest isMissing) {
  constexpr uint64_t run = fixedSizeRunLength;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  const PreparedModel &prepared = workspace.model;
  const FixedAssimilateKernel assimilate = denseKernels().assimilateFixed[m];
  for (uint64_t first = 0; first < n; first += run) {
    const uint64_t count = std::min(run, n - first);
    double starts[run];
    bool present[run];
    ObservationOutcome outcomes[run];
    double gains[run * largestFixedSize];
    for (uint64_t j = 0; j < count; ++j) {
      const uint64_t o = t * n + first + j;
      // Missing means a NaN observation; a NaN mean is used and spreads.
      present[j] = !isMissing(workspace.observationsByPeriod[o]);
      starts[j] = workspace.observationsByPeriod[o] - workspace.meanObservations[o];
    }
    assimilate(workspace.state.x, workspace.state.P, starts, present, count, prepared.measurementRows + first * m,
               prepared.observationNoiseVar + first, model.tol, outcomes, gains);
    for (uint64_t j = 0; j < count; ++j) {
      const uint64_t o = t * n + first + j;
      if (!outcomes[j].used) {
        workspace.skipFlags[o] = 1.0;
        continue;
      }
      const UsedObservation used{outcomes[j].innovation, outcomes[j].reciprocal};
      recordUsed(gains + j * m, used, m, workspace.observationGains + o * m, workspace.scaledInnovations + o);
    }
  }
}

}  // namespace

void runForwardPass(const SmootherModel &model, SmootherWorkspace &workspace, MissingTest isMissing) {
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  const uint64_t mm = m * m;
  PreparedModel &prepared = workspace.model;
  FilterState &state = workspace.state;
  for (uint64_t t = 0; t < model.T; ++t) {
    preparePagedCoefficients(model, t, prepared);
    predictState(state, prepared, workspace.scratch, m);
    for (uint64_t i = 0; i < m; ++i) {
      workspace.predictedStates[t * m + i] = state.x[i];
    }
    for (uint64_t e = 0; e < mm; ++e) {
      workspace.predictedCovariances[t * mm + e] = state.P[e];
    }
    if (usesFixedSizeSteps(m)) {
      updateAndRecordOfFixedSize(model, t, workspace, isMissing);
      continue;
    }
    for (uint64_t j = 0; j < n; ++j) {
      const uint64_t o = t * n + j;
      const double y = workspace.observationsByPeriod[o];
      const double mean = workspace.meanObservations[o];
      const double *measurementRow = prepared.measurementRows + j * m;
      // Missing means a NaN observation; a NaN mean is used and spreads.
      if (isMissing(y)) {
        workspace.skipFlags[o] = 1.0;
        continue;
      }
      const double F = innovationVariance(measurementRow, prepared.observationNoiseVar[j], state.P, m,
                                          workspace.scratch.covTimesRow);
      if (F <= model.tol) {  // ordered: a NaN F or tol is used
        workspace.skipFlags[o] = 1.0;
        continue;
      }
      const UsedObservation used = assimilateObservation(y - mean, F, measurementRow, m, state, workspace.scratch);
      recordUsed(workspace.scratch.gain, used, m, workspace.observationGains + o * m, workspace.scaledInnovations + o);
    }
  }
}
