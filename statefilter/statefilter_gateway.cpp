// The entry point of the statefilter module: checks the inputs against their
// table, takes the working blocks of its own, runs the filter and gives the
// blocks back. Outputs: the log-likelihood of every period, then, when asked,
// the filtered state means and covariances.
#include "gateway_checks.h"
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

  const double tol = orrimScalar(inputs[7]);
  double *out = createOutput(outputs, 0, {T, 1});
  // The filtered states only when the caller asks for them.
  FilteredOutputs filtered;
  if (outputCount >= 2) filtered.means = createOutput(outputs, 1, {T, m});
  if (outputCount >= 3) filtered.covariances = createOutput(outputs, 2, {m, m, T});

  StateFilterWorkspace workspace{};
  takeBlocks(stateFilterBlocks, counts, &workspace, orrimAlloc);
  const auto source = [&](int position) {
    return CoefficientSource{orrimRealData(inputs[position]), checked.paged[position]};
  };
  runStateFilter(orrimRealData(inputs[0]), T, n, source(1), source(2), source(3), source(4), m, k, h,
                 orrimRealData(inputs[5]), orrimRealData(inputs[6]), tol, workspace, out, orrimIsNaN, filtered);
  releaseBlocks(stateFilterBlocks, &workspace, orrimFree);
}
