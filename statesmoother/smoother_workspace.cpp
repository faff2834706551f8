#include "smoother_workspace.h"

#include "model_preparation.h"

namespace {

void fillZeros(double *values, uint64_t count) {
  for (uint64_t e = 0; e < count; ++e) {
    values[e] = 0.0;
  }
}

}  // namespace

void initialiseSmootherWorkspace(SmootherWorkspace &workspace, const double *Y, const double *P0) {
  StateSpaceModel &model = workspace.model;
  const uint64_t T = model.T;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  fillZeros(workspace.state.x, m);
  fillZeros(workspace.skipFlags, n * T);
  fillZeros(workspace.smoothingCumulant, m);
  fillZeros(workspace.identityMatrix, m * m);
  for (uint64_t i = 0; i < m; ++i) {
    workspace.identityMatrix[i + i * m] = 1.0;
  }
  transposeCopy(workspace.observationsByPeriod, Y, T, n);
  for (uint64_t e = 0; e < m * m; ++e) {
    workspace.state.P[e] = P0[e];
  }
  if (workspace.diffuse.infinitePart != nullptr) {
    startDiffusePhase(workspace.diffuse, workspace.state.P, m);
  }
  // With no period nothing is ever computed, and a paged coefficient has no
  // page 0 to prepare from.
  if (T == 0) {
    return;
  }
  // A's rows as well as its columns: the way back reads both.
  preparePeriod(model, 0, transitionRowsForm | filteringForms, true);
}

DecorrelatedSeries decorrelatedSeriesTaken(SmootherWorkspace &workspace, uint64_t t, MissingTest isMissing) {
  const StateSpaceModel &model = workspace.model;
  const PeriodSeries series{model.period, model.n, model.h,   model.m, workspace.observationsByPeriod + t * model.n,
                            1,            nullptr, isMissing, true,    measurementStaysTheSame(model)};
  return decorrelateSeries(series, workspace.decorrelation);
}

const double *decorrelatedRowsTaken(SmootherWorkspace &workspace, uint64_t t, MissingTest isMissing) {
  return decorrelatedSeriesTaken(workspace, t, isMissing).period.measurementRows;
}
