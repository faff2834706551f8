#include "smoothed_output.h"

#include "model_preparation.h"

void writeSmoothedOutput(uint64_t T, uint64_t m, SmootherWorkspace &workspace, double *out, BlockRelease release) {
  for (uint64_t e = 0; e < m * T; ++e) {
    workspace.meanStates[e] = workspace.predictedStates[e] + workspace.meanStates[e];
  }
  transposeCopy(out, workspace.meanStates, m, T);
  releaseBlocks(smootherBlocks, &workspace, release);
}
