// The entry point of the statefilter module: checks the inputs against their
// table, takes the working blocks of its own, runs the filter and gives the
// blocks back. Outputs: the log-likelihood of every period, then, when asked,
// the filtered state means and covariances.
#include "gateway_checks.h"
#include "gateway_model.h"
#include "orrim.h"
#include "state_filter.h"
#include "statefilter_inputs.h"

extern "C" void orrimGateway(int32_t outputCount, OrrimArray *outputs[], int32_t inputCount,
                             const OrrimArray *inputs[]) {
  requireRunnableKernelPath();
  const CheckedInputs checked = checkGatewayInputs(statefilterGateway, inputCount, inputs);
  const char *prefix = statefilterGateway.errorPrefix;
  const auto [T, n, m, k, h] = checked.sizes;
  BlockCounts counts{};
  counts[mDoubles] = m;
  counts[mmDoubles] = checkedProduct(prefix, m, m, "m*m");
  counts[nDoubles] = n;
  counts[nmDoubles] = checkedProduct(prefix, n, m, "n*m");
  for (const WorkingBlock &block : stateFilterBlocks) {
    checkedBytes(prefix, counts[block.size], blockSizeText[block.size]);
  }
  const bool diffuse = requireValidDiffuseStart(prefix, statefilterInputs[6].name, orrimRealData(inputs[6]), m);

  double *out = createOutput(outputs, 0, {T, 1});
  const FilteredOutputs filtered = createFilteredOutputs(outputCount, outputs, T, m);

  StateFilterWorkspace workspace{};
  workspace.model = checkedModel(checked, inputs, 7);
  takeBlocks(stateFilterBlocks, counts, &workspace, orrimAlloc);
  if (diffuse) {
    takeBlocks(diffuseStartBlocks, counts, &workspace.diffuse, orrimAlloc);
  }
  workspace.decorrelation.grow = orrimRealloc;
  runStateFilter(workspace, orrimRealData(inputs[0]), orrimRealData(inputs[5]), orrimRealData(inputs[6]), out,
                 orrimIsNaN, filtered);
  releaseBlocks(stateFilterBlocks, &workspace, orrimFree);
  if (diffuse) {
    releaseBlocks(diffuseStartBlocks, &workspace.diffuse, orrimFree);
  }
  releaseDecorrelation(workspace.decorrelation, orrimFree);
}
