#include "smoothed_output.h"

#include "model_preparation.h"

void writeSmoothedOutput(SmootherWorkspace &workspace, double *out, BlockRelease release) {
  const uint64_t T = workspace.model.T;
  const uint64_t m = workspace.model.m;
  for (uint64_t e = 0; e < m * T; ++e) {
    workspace.meanStates[e] = workspace.predictedStates[e] + workspace.meanStates[e];
  }
  transposeCopy(out, workspace.meanStates, m, T);
  releaseBlocks(smootherBlocks, &workspace, release);
}
