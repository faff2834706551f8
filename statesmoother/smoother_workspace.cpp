#include "smoother_workspace.h"

#include "model_preparation.h"

std::array<double **, smootherBlockCount> smootherBlocks(SmootherWorkspace &workspace) {
  return {&workspace.meanStates,
          &workspace.observationsByPeriod,
          &workspace.model.transitionRows,
          &workspace.model.stateNoiseCov,
          &workspace.model.measurementRows,
          &workspace.model.observationNoiseVar,
          &workspace.state.x,
          &workspace.state.P,
          &workspace.scratch.covTimesRow,
          &workspace.scratch.gain,
          &workspace.scratch.transitionTimesCov,
          &workspace.scratch.stateCopy,
          &workspace.predictedCovariances,
          &workspace.observationGains,
          &workspace.scaledInnovations,
          &workspace.skipFlags,
          &workspace.smoothingCumulant,
          &workspace.identityMatrix,
          &workspace.updateMatrix,
          &workspace.transitionUpdateMatrix,
          &workspace.predictedStates,
          &workspace.meanObservations};
}

std::array<uint64_t, smootherBlockCount> smootherBlockSizes(uint64_t T, uint64_t n, uint64_t m,
                                                            CountProduct multiply) {
  const uint64_t mT = multiply(m, T, "m*T");
  const uint64_t nT = multiply(n, T, "n*T");
  const uint64_t mm = multiply(m, m, "m*m");
  const uint64_t nm = multiply(n, m, "n*m");
  // m*(m+1)/2, the halving done first, on the even factor: fits whenever m*m does.
  const uint64_t triangle = m % 2 == 0 ? multiply(m / 2, m + 1, "m*(m+1)/2") : multiply(m, (m + 1) / 2, "m*(m+1)/2");
  const uint64_t triangleT = multiply(triangle, T, "m*(m+1)/2*T");
  const uint64_t mnT = multiply(mT, n, "m*n*T");
  return {mT, nT, mm, mm, nm, n, m, mm, m, m, mm, m, triangleT, mnT, nT, nT, m, mm, mm, mm, mT, nT};
}

namespace {

void fillZeros(double *values, uint64_t count) {
  for (uint64_t e = 0; e < count; ++e) {
    values[e] = 0.0;
  }
}

}  // namespace

void initialiseSmootherWorkspace(const SmootherModel &model, const double *Y, const double *P0,
                                 SmootherWorkspace &workspace) {
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
  // With no period nothing is ever computed, and a paged coefficient has no
  // page 0 to prepare from.
  if (T == 0) {
    return;
  }
  prepareTransitionForms(workspace.model, model.A.data, m);
  prepareStateNoise(workspace.model.stateNoiseCov, model.B.data, m, model.k);
  prepareMeasurement(workspace.model.measurementRows, model.C.data, n, m);
  prepareObservationNoise(workspace.model.observationNoiseVar, model.D.data, n, model.h);
}
