// The entry point of the statesmoother module: checks the inputs against
// their table, takes the working blocks of smootherBlocks, runs mean path,
// forward pass and backward pass, and lets the output step write the result
// and give the blocks back. Asked for two outputs, it also takes the blocks
// of the smoothed covariances and writes them as the second.
#include "backward_pass.h"
#include "forward_pass.h"
#include "gateway_checks.h"
#include "gateway_model.h"
#include "mean_path.h"
#include "orrim.h"
#include "smoothed_covariance.h"
#include "smoothed_output.h"
#include "smoother_workspace.h"
#include "statesmoother_inputs.h"

namespace {

constexpr const char *errorPrefix = statesmootherGateway.errorPrefix;

uint64_t checkedCount(uint64_t a, uint64_t b, const char *what) { return checkedProduct(errorPrefix, a, b, what); }

// The working storage grows as m*m*T/2 + m*n*T: every count and byte count is
// checked before anything is allocated.
BlockCounts checkedBlockCounts(uint64_t T, uint64_t n, uint64_t m) {
  const BlockCounts counts = modelBlockCounts(T, n, m, checkedCount);
  for (const WorkingBlock &block : smootherBlocks) {
    checkedBytes(errorPrefix, counts[block.size], "of a working block in bytes");
  }
  return counts;
}

// The blocks of a diffuse start, the records of its phase among them.
void releaseDiffuseBlocks(SmootherWorkspace &workspace, bool covariancesWanted) {
  releaseBlocks(diffuseStartBlocks, &workspace.diffuse, orrimFree);
  releaseBlocks(diffuseCarryBlocks, &workspace.diffuseCarry, orrimFree);
  if (covariancesWanted) {
    releaseBlocks(diffuseInformationBlocks, &workspace.diffuseCarry, orrimFree);
  }
  releaseDiffusePhaseRecords(workspace.diffuseRecords, orrimFree);
}

}  // namespace

extern "C" void orrimGateway(int32_t outputCount, OrrimArray *outputs[], int32_t inputCount,
                             const OrrimArray *inputs[]) {
  // Every stage reads on trust, so everything it will address is checked
  // before the output exists.
  requireRunnableKernelPath();
  const CheckedInputs checked = checkGatewayInputs(statesmootherGateway, inputCount, inputs);
  const auto [T, n, m, k, h] = checked.sizes;
  const BlockCounts counts = checkedBlockCounts(T, n, m);
  const bool diffuse = requireValidDiffuseStart(errorPrefix, statesmootherInputs[5].name, orrimRealData(inputs[5]), m);
  const OrrimArray *Y = inputs[0];
  const double *stateIntercept = interceptData(inputs[8]);
  const double *observationIntercept = interceptData(inputs[9]);

  double *out = createOutput(outputs, 0, {T, m});

  SmootherWorkspace workspace{};
  workspace.model = checkedModel(checked, inputs, 6);
  takeBlocks(smootherBlocks, counts, &workspace, orrimAlloc);
  workspace.decorrelation.grow = orrimRealloc;
  workspace.diffuseRecords.grow = orrimRealloc;
  if (diffuse) {
    takeBlocks(diffuseStartBlocks, counts, &workspace.diffuse, orrimAlloc);
    takeBlocks(diffuseCarryBlocks, counts, &workspace.diffuseCarry, orrimAlloc);
  }
  // The covariances only when the caller asks for them: a caller of the
  // means pays for nothing more.
  const bool covariancesWanted = outputCount >= 2;
  SmoothedCovarianceWorkspace covariances{};
  if (covariancesWanted) {
    covariances.out = createOutput(outputs, 1, {m, m, T});
    takeBlocks(smoothedCovarianceBlocks, counts, &covariances, orrimAlloc);
    clearInformation(covariances.information, m);
    if (diffuse) {
      takeBlocks(diffuseInformationBlocks, counts, &workspace.diffuseCarry, orrimAlloc);
    }
  }

  // With neither a state nor a series every period is empty and so are the
  // T x 0 result and the 0 x 0 x T covariances; Y with no column may claim
  // more periods than any loop could visit, so none is.
  if (m != 0 || n != 0) {
    initialiseSmootherWorkspace(workspace, orrimRealData(Y), orrimRealData(inputs[5]));
    computeMeanPath(workspace, orrimRealData(inputs[7]), stateIntercept, observationIntercept);
    runForwardPass(workspace, orrimIsNaN, covariances.reciprocalVariances);
    runBackwardPass(workspace, orrimIsNaN, covariancesWanted ? &covariances : nullptr);
    writeSmoothedOutput(workspace, out, orrimFree);
  } else {
    releaseBlocks(smootherBlocks, &workspace, orrimFree);
  }
  if (covariancesWanted) {
    releaseBlocks(smoothedCovarianceBlocks, &covariances, orrimFree);
  }
  releaseDecorrelation(workspace.decorrelation, orrimFree);
  if (diffuse) {
    releaseDiffuseBlocks(workspace, covariancesWanted);
  }
}
