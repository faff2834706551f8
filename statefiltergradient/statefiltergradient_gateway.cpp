// The entry point of the statefiltergradient module: checks the inputs
// against statefilter's table, runs the filter with statefilter's steps and,
// when a gradient is asked for, keeps what the way back needs and goes back.
// Outputs: the log-likelihood of every period, then the derivatives of their
// sum with respect to A, B, C, D, x0 and P0, each shaped as the module reads
// its input: a paged coefficient with one page per period, a constant one
// one matrix, x0 m x 1, P0 m x m (the symmetric derivative: the change of
// the sum is the sum of G(i, l)*dP0(i, l) for a symmetric dP0).
#include "backward_pass.h"
#include "forward_pass.h"
#include "gateway_checks.h"
#include "gateway_model.h"
#include "gradient_workspace.h"
#include "orrim.h"
#include "statefiltergradient_inputs.h"

namespace {

constexpr const char *errorPrefix = statefiltergradientGateway.errorPrefix;

uint64_t checkedCount(uint64_t a, uint64_t b, const char *what) { return checkedProduct(errorPrefix, a, b, what); }

// A coefficient's derivative, shaped as the module reads it.
double *createCoefficientGradient(OrrimArray *outputs[], int slot, const PeriodInput &input, uint64_t T) {
  if (input.form == InputForm::paged) {
    return createOutput(outputs, slot, {input.rows, input.columns, T});
  }
  return createOutput(outputs, slot, {input.rows, input.columns});
}

// The blocks that grew with the call: the way back through decorrelated
// periods and the ends of a diffuse phase (null when none was taken).
void releaseGrownBlocks(GradientWorkspace &workspace) {
  for (double *block : {workspace.decorrelationAdjoint.factorAdjoint, workspace.decorrelationAdjoint.covarianceAdjoint,
                        workspace.diffuseEnds.infiniteParts, workspace.diffuseEnds.largest}) {
    orrimFree(block);
  }
}

}  // namespace

extern "C" void orrimGateway(int32_t outputCount, OrrimArray *outputs[], int32_t inputCount,
                             const OrrimArray *inputs[]) {
  requireRunnableKernelPath();
  const CheckedInputs checked = checkGatewayInputs(statefiltergradientGateway, inputCount, inputs);
  const auto [T, n, m, k, h] = checked.sizes;
  const bool gradientWanted = outputCount >= 2;
  // Every count and byte count the blocks use, checked before anything is made.
  BlockCounts counts = modelBlockCounts(T, n, m, checkedCount);
  // A paged coefficient's derivative has its columns times T as its column
  // count, which the input need not bound: pages of no element may claim any
  // number of columns.
  const uint64_t columnsOf[] = {m, k, m, h};
  const char *pagedColumnsText[] = {"m*T of the derivative of A", "k*T of the derivative of B",
                                    "m*T of the derivative of C", "h*T of the derivative of D"};
  for (int slot = 1; slot <= 4 && slot < outputCount; ++slot) {
    if (checked.paged[slot]) {
      checkedCount(columnsOf[slot - 1], T, pagedColumnsText[slot - 1]);
    }
  }
  for (const WorkingBlock &block : gradientFilterBlocks) {
    checkedBytes(errorPrefix, counts[block.size], blockSizeText[block.size]);
  }
  if (gradientWanted) {
    for (const WorkingBlock &block : gradientRecordBlocks) {
      checkedBytes(errorPrefix, counts[block.size], blockSizeText[block.size]);
    }
  }

  const bool diffuse =
      requireValidDiffuseStart(errorPrefix, statefiltergradientGateway.inputs[6].name, orrimRealData(inputs[6]), m);
  if (diffuse && gradientWanted) {
    // The ends of the diffuse phase grow to T lower triangles at most.
    checkedBytes(errorPrefix, counts[triangleTDoubles], blockSizeText[triangleTDoubles]);
  }

  double *out = createOutput(outputs, 0, {T, 1});
  GradientWorkspace workspace{};
  workspace.model = checkedModel(checked, inputs, 7);
  const StateSpaceModel &model = workspace.model;
  GradientOutputs gradient;
  double **slots[] = {&gradient.A, &gradient.B, &gradient.C, &gradient.D};
  const PeriodInput *coefficients[] = {&model.A, &model.B, &model.C, &model.D};
  for (int slot = 1; slot <= 4 && slot < outputCount; ++slot) {
    *slots[slot - 1] = createCoefficientGradient(outputs, slot, *coefficients[slot - 1], T);
  }
  if (outputCount >= 6) gradient.x0 = createOutput(outputs, 5, {m, 1});
  if (outputCount >= 7) gradient.P0 = createOutput(outputs, 6, {m, m});

  const double *Y = orrimRealData(inputs[0]);
  const double *x0 = orrimRealData(inputs[5]);
  const double *P0 = orrimRealData(inputs[6]);
  takeBlocks(gradientFilterBlocks, counts, &workspace, orrimAlloc);
  // D's derivative summed over periods in n x n: n <= m*T, and m*n*T, checked, bounds n*n.
  const bool sumsNoise = outputCount >= 5 && sumsNoiseCovariance(model);
  counts[nnDoubles] = sumsNoise ? n * n : 0;
  if (gradientWanted) {
    takeBlocks(gradientRecordBlocks, counts, &workspace, orrimAlloc);
  }
  if (sumsNoise) {
    takeBlocks(noiseCovarianceSumBlocks, counts, &workspace, orrimAlloc);
  }
  if (diffuse) {
    takeBlocks(diffuseStartBlocks, counts, &workspace.diffuse, orrimAlloc);
    if (gradientWanted) {
      takeBlocks(diffuseAdjointBlocks, counts, &workspace.diffuseAdjoint, orrimAlloc);
    }
  }
  workspace.decorrelation.grow = orrimRealloc;
  workspace.decorrelationAdjoint.grow = orrimRealloc;
  workspace.diffuseEnds.grow = orrimRealloc;
  runForwardPass(workspace, Y, x0, P0, out, orrimIsNaN, gradientWanted);
  if (gradientWanted) {
    runBackwardPass(workspace, Y, x0, P0, gradient, orrimIsNaN);
    releaseBlocks(gradientRecordBlocks, &workspace, orrimFree);
  }
  releaseBlocks(gradientFilterBlocks, &workspace, orrimFree);
  releaseDecorrelation(workspace.decorrelation, orrimFree);
  releaseGrownBlocks(workspace);
  if (sumsNoise) {
    releaseBlocks(noiseCovarianceSumBlocks, &workspace, orrimFree);
  }
  if (diffuse) {
    releaseBlocks(diffuseStartBlocks, &workspace.diffuse, orrimFree);
    if (gradientWanted) {
      releaseBlocks(diffuseAdjointBlocks, &workspace.diffuseAdjoint, orrimFree);
    }
  }
}
