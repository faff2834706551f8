#include "forward_pass.h"

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

// The updates of period t for a model that usesFixedSizeSteps on the kernel
// path: the series go to the kernel in runs, with the same starts, tests and
// sums as one by one, and are recorded after it from the gains it returns.
void updateAndRecordOfFixedSize(const StateSpaceModel &model, uint64_t t, SmootherWorkspace &workspace,
                                MissingTest isMissing, double *reciprocalVariances) {
  constexpr uint64_t run = fixedSizeRunLength;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  const PreparedModel &prepared = model.period;
  const FixedAssimilateKernel assimilate = denseKernels().assimilateFixed[m];
  const SmootherRecords records = recordsOfPeriod(model, t, workspace, reciprocalVariances);
  const double *observations = workspace.observationsByPeriod + t * n;
  for (uint64_t first = 0; first < n; first += run) {
    const uint64_t count = std::min(run, n - first);
    double starts[run];
    bool present[run];
    ObservationOutcome outcomes[run];
    double gains[run * largestCompiledFixedSize];
    for (uint64_t j = 0; j < count; ++j) {
      // Missing means a NaN observation; a NaN mean is used and spreads.
      present[j] = !isMissing(observations[first + j]);
      starts[j] = observations[first + j] - records.means[first + j];
    }
    assimilate(workspace.state.x, workspace.state.P, starts, present, count, prepared.measurementRows + first * m,
               prepared.observationNoiseVar + first, model.tol, outcomes, gains);
    for (uint64_t j = 0; j < count; ++j) {
      if (!outcomes[j].used) {
        records.skipFlags[first + j] = 1.0;
        continue;
      }
      recordUsedSeries(records, first + j, gains + j * m, {outcomes[j].innovation, outcomes[j].reciprocal}, m);
    }
  }
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
    if (fixedSize) {
      updateAndRecordOfFixedSize(model, t, workspace, isMissing, reciprocalVariances);
      continue;
    }
    const SmootherRecords records = recordsOfPeriod(model, t, workspace, reciprocalVariances);
    const double *observations = workspace.observationsByPeriod + t * n;
    if (formsNext) {
      updateWithObservationsFormingNext(observations, 1, n, prepared, model.tol, m, state, workspace.scratch,
                                        isMissing, &records);
      continue;
    }
    for (uint64_t j = 0; j < n; ++j) {
      const double *measurementRow = prepared.measurementRows + j * m;
      // Missing means a NaN observation; a NaN mean is used and spreads.
      if (isMissing(observations[j])) {
        records.skipFlags[j] = 1.0;
        continue;
      }
      const double F = innovationVariance(measurementRow, prepared.observationNoiseVar[j], state.P, m,
                                          workspace.scratch.covTimesRow);
      if (F <= model.tol) {  // ordered: a NaN F or tol is used
        records.skipFlags[j] = 1.0;
        continue;
      }
      const UsedObservation used =
          assimilateObservation(observations[j] - records.means[j], F, measurementRow, m, state, workspace.scratch);
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
