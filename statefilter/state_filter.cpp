#include "state_filter.h"

#include "model_preparation.h"

void runStateFilter(StateFilterWorkspace &workspace, const double *Y, const double *x0, const double *P0,
                    double *out, MissingTest isMissing, const FilteredOutputs &filtered) {
  StateSpaceModel &model = workspace.model;
  const uint64_t T = model.T;
  // With no period the state is never looked at, and a paged coefficient has
  // no first page to prepare from.
  if (T == 0) {
    return;
  }
  preparePeriod(model, 0, filteringForms, true);
  initialiseState(workspace.state, x0, P0, model.m);
  DiffuseStart &diffuse = workspace.diffuse;
  if (diffuse.infinitePart != nullptr) {
    startDiffusePhase(diffuse, workspace.state.P, model.m);
  }

  // The prediction belongs to the first series: with no series the state is
  // never read again, and every period's sum is 0.0 either way, unless the
  // caller asked for the states.
  const bool predict = model.n > 0 || filtered.wanted();
  const bool changes = changesByPeriod(model);
  for (uint64_t t = 0; t < T; ++t) {
    if (changes) {
      preparePeriod(model, t, filteringForms);
    }
    if (diffuse.active) [[unlikely]] {
      out[t] = filterPeriodInDiffusePhase(model, workspace.state, workspace.scratch, Y + t, T, isMissing,
                                          workspace.decorrelation, diffuse);
      if (filtered.wanted()) {
        recordDiffuseFilteredState(filtered, model, workspace.state, diffuse, t);
      }
      continue;
    }
    out[t] = filterPeriod(model, workspace.state, workspace.scratch, Y + t, T, predict, isMissing,
                          workspace.decorrelation);
    if (filtered.wanted()) {
      recordFilteredState(filtered, model, workspace.state, t);
    }
  }
}
