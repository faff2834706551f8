// The entry point of the simulationsmoother module: checks the inputs against
// their table, factors P0's finite block (refusing one that is not positive
// semidefinite before the other blocks are taken), runs the one covariance
// pass (with the blocks of a diffuse phase when P0 marks diffuse states) and
// then every draw, and gives every block back.
#include "gateway_checks.h"
#include "gateway_model.h"
#include "initial_factor.h"
#include "orrim.h"
#include "simulation_draws.h"
#include "simulation_workspace.h"
#include "simulationsmoother_inputs.h"

#include <cinttypes>

namespace {

constexpr const char *errorPrefix = simulationsmootherGateway.errorPrefix;

uint64_t checkedCount(uint64_t a, uint64_t b, const char *what) { return checkedProduct(errorPrefix, a, b, what); }

// Every count and byte count is checked before anything is allocated.
BlockCounts checkedBlockCounts(const ModelSizes &sizes, uint64_t width) {
  const BlockCounts counts = simulationBlockCounts(sizes.T, sizes.n, sizes.m, sizes.k, sizes.h, width, checkedCount);
  for (size_t size = 0; size < counts.size(); ++size) {
    checkedBytes(errorPrefix, counts[size], blockSizeText[size]);
  }
  return counts;
}

[[noreturn]] void raiseNotPositiveSemidefinite(const InitialFactorOutcome &outcome) {
  const char *name = simulationsmootherInputs[5].name;
  if (outcome.offDiagonal) {
    raiseGatewayError(errorPrefix, "NotPositiveSemidefinite",
                      "%s is not positive semidefinite: state %" PRIu64 " has a residual covariance of %g with state "
                      "%" PRIu64 ", whose pivot is zero (within %g times the largest diagonal element, %g).",
                      name, outcome.state + 1, outcome.value, outcome.column + 1, zeroPivotFraction, outcome.scale);
  }
  raiseGatewayError(errorPrefix, "NotPositiveSemidefinite",
                    "%s is not positive semidefinite: the Cholesky pivot of state %" PRIu64
                    " is %g, below -%g times the largest diagonal element, %g.",
                    name, outcome.state + 1, outcome.value, zeroPivotFraction, outcome.scale);
}

}  // namespace

extern "C" void orrimGateway(int32_t /*outputCount*/, OrrimArray *outputs[], int32_t inputCount,
                             const OrrimArray *inputs[]) {
  // Every stage reads on trust, so everything it will address is checked
  // before the output exists.
  requireRunnableKernelPath();
  const CheckedInputs checked = checkGatewayInputs(simulationsmootherGateway, inputCount, inputs);
  const ModelSizes sizes = checked.sizes;
  const auto [T, n, m, k, h] = sizes;
  const OrrimArray *variates = inputs[10];
  const uint64_t draws = orrimColumns(variates);
  const BlockCounts counts = checkedBlockCounts(sizes, drawBlocksOf(draws).width);
  const double *P0 = orrimRealData(inputs[5]);
  const bool diffuse = requireValidDiffuseStart(errorPrefix, simulationsmootherInputs[5].name, P0, m);

  double *out = createOutput(outputs, 0, {T, m, draws});

  SimulationSmootherWorkspace workspace{};
  workspace.covariancePass.model = checkedModel(checked, inputs, 6);
  takeBlocks(initialFactorBlocks, counts, &workspace, orrimAlloc);
  const InitialFactorOutcome factor = factorInitialCovariance(workspace.initialFactor, P0, m);
  if (!factor.positiveSemidefinite) {
    releaseBlocks(initialFactorBlocks, &workspace, orrimFree);
    raiseNotPositiveSemidefinite(factor);
  }
  SmootherWorkspace &pass = workspace.covariancePass;
  takeBlocks(smootherBlocks, counts, &pass, orrimAlloc);
  takeBlocks(simulationBlocks, counts, &workspace, orrimAlloc);
  pass.decorrelation.grow = orrimRealloc;
  pass.diffuseRecords.grow = orrimRealloc;
  if (diffuse) {
    takeBlocks(diffuseStartBlocks, counts, &pass.diffuse, orrimAlloc);
    takeBlocks(diffuseDrawBlocks, counts, &workspace, orrimAlloc);
  }

  // With no state every draw is empty; Y with no column may claim more
  // periods than any loop could visit, so none is.
  if (m != 0 && T != 0) {
    runCovariancePass(workspace, orrimRealData(inputs[0]), P0, orrimIsNaN);
    const DrawInputs drawInputs{orrimRealData(variates),  orrimRows(variates),       draws,
                                orrimRealData(inputs[7]), P0,                        interceptData(inputs[8]),
                                interceptData(inputs[9]), orrimIsNaN};
    drawSmoothedStates(workspace, drawInputs, out);
  }
  if (diffuse) {
    releaseDiffusePhaseRecords(pass.diffuseRecords, orrimFree);
    releaseBlocks(diffuseDrawBlocks, &workspace, orrimFree);
    releaseBlocks(diffuseStartBlocks, &pass.diffuse, orrimFree);
  }
  releaseBlocks(simulationBlocks, &workspace, orrimFree);
  releaseBlocks(smootherBlocks, &pass, orrimFree);
  releaseBlocks(initialFactorBlocks, &workspace, orrimFree);
  releaseDecorrelation(pass.decorrelation, orrimFree);
}
