#include "forward_pass.h"

#include "dense_kernels.h"
#include "filter_period.h"
#include "measurement_update.h"
#include "model_preparation.h"
#include "time_update.h"

#include <algorithm>

namespace {

// What the way back needs of the series of period t.
ObservationRecords recordsOfPeriod(const StateSpaceModel &model, uint64_t t, SmootherWorkspace &workspace,
                                   double *reciprocalVariances) {
  const uint64_t first = t * model.n;
  return {workspace.meanObservations + first, workspace.observationGains + first * model.m,
          workspace.scaledInnovations + first, workspace.skipFlags + first,
          reciprocalVariances != nullptr ? reciprocalVariances + first : nullptr};
}

// Room in the records of the diffuse phase for period t: the phase seldom
// lasts more than a few periods, and the records grow with it.
void makeRoomForDiffusePeriod(DiffusePhaseRecords &kept, uint64_t t, const StateSpaceModel &model) {
  if (t < kept.capacity) {
    return;
  }
  const uint64_t capacity = std::min(model.T, std::max<uint64_t>(2 * kept.capacity, 4));
  const uint64_t m = model.m;
  const uint64_t n = model.n;
  // Within the smoother's own blocks, whose sizes the gateway checked: at
  // most T periods.
  kept.infiniteParts = static_cast<double *>(
      kept.grow(kept.infiniteParts, capacity * lowerTriangleCount(m) * sizeof(double)));
  kept.gainCorrections = static_cast<double *>(kept.grow(kept.gainCorrections, capacity * n * m * sizeof(double)));
  kept.finiteTerms = static_cast<double *>(kept.grow(kept.finiteTerms, capacity * n * sizeof(double)));
  kept.capacity = capacity;
}

// Period t of the diffuse phase, x and P* predicted and kept by the caller:
// the prediction of P_inf, kept; the updates, each recorded, with what a
// diffuse step leaves for the way back; the end of the phase.
void filterAndRecordInDiffusePhase(SmootherWorkspace &workspace, uint64_t t, MissingTest isMissing,
                                   const ObservationRecords &records) {
  StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  DiffuseStart &diffuse = workspace.diffuse;
  DiffusePhaseRecords &kept = workspace.diffuseRecords;
  predictInfinitePart(diffuse, model.period.transitionColumns, workspace.scratch.transitionTimesCov, m);
  makeRoomForDiffusePeriod(kept, t, model);
  storeLowerTriangle(kept.infiniteParts + t * lowerTriangleCount(m), diffuse.infinitePart, m);
  const SeriesTaken taken =
      seriesTaken(model, workspace.observationsByPeriod + t * n, 1, isMissing, workspace.decorrelation, &records);
  const DiffuseStepRecords steps{kept.gainCorrections + t * n * m, kept.finiteTerms + t * n};
  updateInDiffusePhase(taken.y, taken.yStride, taken.count, taken.period, model.tol, m, workspace.state,
                       workspace.scratch, diffuse, taken.isMissing, &taken.records, &steps);
  kept.periods = t + 1;
  endDiffusePhaseWhenDone(diffuse, m);
}

// Periods `first` to T - 1 of the local level model, one state and one
// series, after any diffuse phase, each kept for the way back: the
// operations of predictOneState, of updateAndRecordEachSeries and of its
// records for one state and one series, in their order, with x and P held in
// registers from one period to the next, where the general steps send them
// through memory. The host is asked which observations are missing before
// the loop, which the test does not change: a call inside it would send x
// and P through the stack every period.
void filterAndRecordOneState(SmootherWorkspace &workspace, uint64_t first, MissingTest isMissing,
                             double *reciprocalVariances) {
  StateSpaceModel &model = workspace.model;
  const PreparedModel &prepared = model.period;
  const bool changes = changesByPeriod(model);
  // skipFlags are zero on entry: a missing observation's 1.0 is its record.
  for (uint64_t t = first; t < model.T; ++t) {
    if (isMissing(workspace.observationsByPeriod[t])) {
      workspace.skipFlags[t] = 1.0;
    }
  }
  double x = workspace.state.x[0];
  double P = workspace.state.P[0];
  for (uint64_t t = first; t < model.T; ++t) {
    if (changes) {
      preparePeriod(model, t, filteringForms);
    }
    const double y = workspace.observationsByPeriod[t];
    const bool present = workspace.skipFlags[t] == 0.0;
    const OneStatePrediction predicted = predictedOneState(prepared, x, P);
    x = predicted.x;
    P = predicted.P;
    workspace.predictedStates[t] = x;
    workspace.predictedCovariances[t] = P;
    if (!present) {
      continue;
    }
    const double c = prepared.measurementRows[0];
    const OneStateVariance variance = oneStateInnovationVariance(c, prepared.observationNoiseVar[0], P);
    if (variance.F <= model.tol) {  // ordered: a NaN F or tol is used
      workspace.skipFlags[t] = 1.0;
      continue;
    }
    const OneStateCorrection corrected = correctedOneState(y - workspace.meanObservations[t], c, x, P, variance);
    x = corrected.x;
    P = corrected.P;
    workspace.observationGains[t] = corrected.K;
    workspace.scaledInnovations[t] = corrected.reciprocal * corrected.v;
    if (reciprocalVariances != nullptr) {
      reciprocalVariances[t] = corrected.reciprocal;
    }
  }
  workspace.state.x[0] = x;
  workspace.state.P[0] = P;
}

// Compiled twice, like the way back: without the reciprocals the records
// take no more than the means need.
template <bool keepsReciprocals>
void filterAndRecord(SmootherWorkspace &workspace, MissingTest isMissing, double *reciprocalVariances) {
  if constexpr (!keepsReciprocals) {
    reciprocalVariances = nullptr;
  }
  StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  const PreparedModel &prepared = model.period;
  FilterState &state = workspace.state;
  const bool changes = changesByPeriod(model);
  // The reference kernel path takes the general steps, whose bits these are.
  const bool localLevel = m == 1 && n == 1 && denseKernels().oneStateInRegisters;
  for (uint64_t t = 0; t < model.T; ++t) {
    if (localLevel && !workspace.diffuse.active) {
      filterAndRecordOneState(workspace, t, isMissing, reciprocalVariances);
      return;
    }
    // Only what the prediction reads: the way back prepares A's rows itself.
    if (changes) {
      preparePeriod(model, t, filteringForms);
    }
    predictState(state, prepared, workspace.scratch, m);
    for (uint64_t i = 0; i < m; ++i) {
      workspace.predictedStates[t * m + i] = state.x[i];
    }
    // Every prediction leaves P exactly symmetric: its lower triangle is all of it.
    storeLowerTriangle(workspace.predictedCovariances + t * lowerTriangleCount(m), state.P, m);
    const ObservationRecords records = recordsOfPeriod(model, t, workspace, reciprocalVariances);
    const double *observations = workspace.observationsByPeriod + t * n;
    if (workspace.diffuse.active) [[unlikely]] {
      filterAndRecordInDiffusePhase(workspace, t, isMissing, records);
    } else if (prepared.sharedNoiseLoadings != nullptr) [[unlikely]] {
      updateWithSeriesThatMayShareNoise(model, state, workspace.scratch, observations, 1, isMissing,
                                        workspace.decorrelation, &records);
    } else {
      updateWithObservations(observations, 1, n, prepared, model.tol, m, state, workspace.scratch, isMissing,
                             &records);
    }
  }
}

}  // namespace

void runForwardPass(SmootherWorkspace &workspace, MissingTest isMissing, double *reciprocalVariances) {
  if (reciprocalVariances != nullptr) {
    filterAndRecord<true>(workspace, isMissing, reciprocalVariances);
  } else {
    filterAndRecord<false>(workspace, isMissing, nullptr);
  }
}
