#include "forward_pass.h"

#include "correlated_noise.h"
#include "measurement_update.h"
#include "model_preparation.h"
#include "time_update.h"

#include <algorithm>

namespace {

// What the way back needs of the series of period t.
SmootherRecords recordsOfPeriod(const StateSpaceModel &model, uint64_t t, SmootherWorkspace &workspace,
                                double *reciprocalVariances) {
  const uint64_t first = t * model.n;
  return {workspace.meanObservations + first, workspace.observationGains + first * model.m,
          workspace.scaledInnovations + first, workspace.skipFlags + first,
          reciprocalVariances != nullptr ? reciprocalVariances + first : nullptr};
}

// The series a period's updates take, with what they leave for the way back:
// the period's own, or its decorrelated ones.
struct PeriodUpdate {
  const PreparedModel *prepared;
  uint64_t count;
  const double *observations;  // series j at observations[j]; its innovation starts from it less records.means[j]
  MissingTest isMissing;
  SmootherRecords records;
};

// The updates of a period for a model that usesFixedSizeSteps on the kernel
// path: the series go to the kernel in runs, with the same starts, tests and
// sums as one by one, and are recorded after it from the gains it returns.
void updateAndRecordOfFixedSize(const PeriodUpdate &update, uint64_t m, double tol, FilterState state) {
  constexpr uint64_t run = fixedSizeRunLength;
  const FixedAssimilateKernel assimilate = denseKernels().assimilateFixed[m];
  const SmootherRecords &records = update.records;
  for (uint64_t first = 0; first < update.count; first += run) {
    const uint64_t count = std::min(run, update.count - first);
    double starts[run];
    bool present[run];
    ObservationOutcome outcomes[run];
    double gains[run * largestCompiledFixedSize];
    for (uint64_t j = 0; j < count; ++j) {
      // Missing means a NaN observation; a NaN mean is used and spreads.
      present[j] = !update.isMissing(update.observations[first + j]);
      starts[j] = update.observations[first + j] - records.means[first + j];
    }
    assimilate(state.x, state.P, starts, present, count, update.prepared->measurementRows + first * m,
               update.prepared->observationNoiseVar + first, tol, outcomes, gains);
    for (uint64_t j = 0; j < count; ++j) {
      if (!outcomes[j].used) {
        records.skipFlags[first + j] = 1.0;
        continue;
      }
      recordUsedSeries(records, first + j, gains + j * m, {outcomes[j].innovation, outcomes[j].reciprocal}, m);
    }
  }
}

// Turns the update of a period whose series may share noise into that of
// its decorrelated series, when their noise covariance is not diagonal: they
// take the first records of the period, and the way back, which forms their
// rows again, passes over the rest. Returns the decorrelated series, whose
// prepared model the update is then to take.
DecorrelatedSeries decorrelatedUpdate(PeriodUpdate &update, const StateSpaceModel &model,
                                      Decorrelation &decorrelation) {
  const PeriodSeries series{*update.prepared, model.n, model.h, model.m, update.observations, 1,
                            update.records.means, update.isMissing, false, measurementStaysTheSame(model)};
  DecorrelatedSeries decorrelated = decorrelateSeries(series, decorrelation);
  if (decorrelated.transformed) {
    for (uint64_t j = decorrelated.count; j < model.n; ++j) {
      update.records.skipFlags[j] = 1.0;
    }
    update.records.means = decorrelation.zeros;
    update.count = decorrelated.count;
    update.observations = decorrelation.observations;
    update.isMissing = neverMissing;
  }
  return decorrelated;
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
                                   double *reciprocalVariances) {
  StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  DiffuseStart &diffuse = workspace.diffuse;
  DiffusePhaseRecords &kept = workspace.diffuseRecords;
  predictInfinitePart(diffuse, model.period.transitionColumns, workspace.scratch.transitionTimesCov, m);
  makeRoomForDiffusePeriod(kept, t, model);
  storeLowerTriangle(kept.infiniteParts + t * lowerTriangleCount(m), diffuse.infinitePart, m);
  PeriodUpdate update{&model.period, n, workspace.observationsByPeriod + t * n, isMissing,
                      recordsOfPeriod(model, t, workspace, reciprocalVariances)};
  DecorrelatedSeries decorrelated{};
  if (model.period.sharedNoiseLoadings != nullptr) {
    decorrelated = decorrelatedUpdate(update, model, workspace.decorrelation);
    if (decorrelated.transformed) {
      update.prepared = &decorrelated.period;
    }
  }
  const DiffuseStepRecords steps{kept.gainCorrections + t * n * m, kept.finiteTerms + t * n};
  updateInDiffusePhase(update.observations, 1, update.records.means, update.count, *update.prepared, model.tol, m,
                       workspace.state, workspace.scratch, diffuse, update.isMissing, &update.records, &steps);
  kept.periods = t + 1;
  endDiffusePhaseWhenDone(diffuse, m);
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
  const bool fixedSize = denseKernels().usesFixedSizeSteps(m);
  const bool formsNext = formsNextCovTimesRowInCorrection(m);
  const bool changes = changesByPeriod(model);
  DecorrelatedSeries decorrelated{};  // of the period in progress, when its series share noise
  for (uint64_t t = 0; t < model.T; ++t) {
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
    if (workspace.diffuse.active) [[unlikely]] {
      filterAndRecordInDiffusePhase(workspace, t, isMissing, reciprocalVariances);
      continue;
    }
    PeriodUpdate update{&prepared, n, workspace.observationsByPeriod + t * n, isMissing,
                        recordsOfPeriod(model, t, workspace, reciprocalVariances)};
    if (prepared.sharedNoiseLoadings != nullptr) [[unlikely]] {
      decorrelated = decorrelatedUpdate(update, model, workspace.decorrelation);
      if (decorrelated.transformed) {
        update.prepared = &decorrelated.period;
      }
    }
    SmootherRecords &records = update.records;
    if (fixedSize) {
      updateAndRecordOfFixedSize(update, m, model.tol, state);
      continue;
    }
    if (formsNext) {
      updateWithObservationsFormingNext(update.observations, 1, update.count, *update.prepared, model.tol, m, state,
                                        workspace.scratch, update.isMissing, &records);
      continue;
    }
    for (uint64_t j = 0; j < update.count; ++j) {
      const double *measurementRow = update.prepared->measurementRows + j * m;
      // Missing means a NaN observation; a NaN mean is used and spreads.
      if (update.isMissing(update.observations[j])) {
        records.skipFlags[j] = 1.0;
        continue;
      }
      const double F = innovationVariance(measurementRow, update.prepared->observationNoiseVar[j], state.P, m,
                                          workspace.scratch.covTimesRow);
      if (F <= model.tol) {  // ordered: a NaN F or tol is used
        records.skipFlags[j] = 1.0;
        continue;
      }
      const UsedObservation used = assimilateObservation(update.observations[j] - records.means[j], F,
                                                         measurementRow, m, state, workspace.scratch);
      recordUsedSeries(records, j, workspace.scratch.gain, used, m);
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
