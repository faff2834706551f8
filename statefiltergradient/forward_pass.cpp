#include "forward_pass.h"

#include "filter_period.h"
#include "model_preparation.h"

ObservationRecords recordsOfPeriod(const GradientWorkspace &workspace, uint64_t t) {
  const uint64_t first = t * workspace.model.n;
  ObservationRecords records{nullptr,
                             workspace.observationGains + first * workspace.model.m,
                             workspace.scaledInnovations + first,
                             workspace.skipFlags + first,
                             workspace.reciprocalVariances + first};
  records.formsLogLikelihood = true;
  return records;
}

void runForwardPass(GradientWorkspace &workspace, const double *Y, const double *x0, const double *P0, double *out,
                    MissingTest isMissing, bool keepsRecords) {
  StateSpaceModel &model = workspace.model;
  const uint64_t T = model.T;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  // With no series every period's sum is 0.0 and nothing depends on the
  // coefficients; with no period a paged coefficient has no page to read.
  if (T == 0 || n == 0) {
    for (uint64_t t = 0; t < T; ++t) out[t] = 0.0;
    return;
  }
  preparePeriod(model, 0, filteringForms, true);
  initialiseState(workspace.state, x0, P0, m);
  if (keepsRecords) {
    for (uint64_t o = 0; o < n * T; ++o) workspace.skipFlags[o] = 0.0;
  }
  const bool changes = changesByPeriod(model);
  for (uint64_t t = 0; t < T; ++t) {
    if (changes) {
      preparePeriod(model, t, filteringForms);
    }
    if (!keepsRecords) {
      out[t] = filterPeriod(model, workspace.state, workspace.scratch, Y + t, T, true, isMissing, workspace.decorrelation);
      continue;
    }
    const ObservationRecords records = recordsOfPeriod(workspace, t);
    out[t] = filterPeriod(model, workspace.state, workspace.scratch, Y + t, T, true, isMissing, workspace.decorrelation,
                          &records);
    for (uint64_t i = 0; i < m; ++i) {
      workspace.filteredStates[t * m + i] = workspace.state.x[i];
    }
    double *covariance = workspace.filteredCovariances + t * m * m;
    for (uint64_t e = 0; e < m * m; ++e) {
      covariance[e] = workspace.state.P[e];
    }
  }
}
