#include "smoother_workspace.h"

#include "model_preparation.h"

BlockCounts smootherBlockCounts(uint64_t T, uint64_t n, uint64_t m, CountProduct multiply) {
  BlockCounts counts{};
  counts[mTDoubles] = multiply(m, T, "m*T");
  counts[nTDoubles] = multiply(n, T, "n*T");
  counts[mmDoubles] = multiply(m, m, "m*m");
  counts[nmDoubles] = multiply(n, m, "n*m");
  // m*(m+1)/2, the halving done first, on the even factor: fits whenever m*m does.
  const uint64_t triangle = m % 2 == 0 ? multiply(m / 2, m + 1, "m*(m+1)/2") : multiply(m, (m + 1) / 2, "m*(m+1)/2");
  counts[triangleTDoubles] = multiply(triangle, T, "m*(m+1)/2*T");
  counts[mnTDoubles] = multiply(counts[mTDoubles], n, "m*n*T");
  counts[mDoubles] = m;
  counts[nDoubles] = n;
  counts[eightMDoubles] = multiply(m, 8, "8*m");
  counts[threeMMDoubles] = multiply(counts[mmDoubles], 3, "3*m*m");
  return counts;
}

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

const double *decorrelatedRowsTaken(SmootherWorkspace &workspace, uint64_t t, MissingTest isMissing) {
  const StateSpaceModel &model = workspace.model;
  const PeriodSeries series{model.period, model.n, model.h,   model.m, workspace.observationsByPeriod + t * model.n,
                            1,            nullptr, isMissing, true,    measurementStaysTheSame(model)};
  return decorrelateSeries(series, workspace.decorrelation).period.measurementRows;
}
