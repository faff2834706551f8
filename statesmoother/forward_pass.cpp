#include "forward_pass.h"

#include "measurement_update.h"
#include "model_preparation.h"
#include "time_update.h"

namespace {

// What the way back needs of the series of period t.
ObservationRecords recordsOfPeriod(const StateSpaceModel &model, uint64_t t, SmootherWorkspace &workspace,
                                   double *reciprocalVariances) {
  const uint64_t first = t * model.n;
  return {workspace.meanObservations + first, workspace.observationGains + first * model.m,
          workspace.scaledInnovations + first, workspace.skipFlags + first,
          reciprocalVariances != nullptr ? reciprocalVariances + first : nullptr};
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
    const ObservationRecords records = recordsOfPeriod(model, t, workspace, reciprocalVariances);
    updateWithObservations(workspace.observationsByPeriod + t * n, 1, n, prepared, model.tol, m, state,
                           workspace.scratch, isMissing, &records);
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
