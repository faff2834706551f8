// The entry point of the cellstatefilter module: checks the inputs in every
// period they serve, takes the working blocks of cellFilterBlocks, runs the
// filter and gives the blocks back. Outputs as statefilter's.
#include "cell_filter_inputs.h"
#include "cellstatefilter_inputs.h"
#include "cell_state_filter.h"
#include "gateway_checks.h"
#include "gateway_model.h"
#include "orrim.h"

extern "C" void orrimGateway(int32_t outputCount, OrrimArray *outputs[], int32_t inputCount,
                             const OrrimArray *inputs[]) {
  requireRunnableKernelPath();
  const CellFilterInputs cellInputs = readCellFilterInputs(inputCount, inputs);
  const CellFilterSizes sizes = checkCellFilterInputs(cellInputs);
  const uint64_t m = sizes.m;
  const bool diffuse = requireValidDiffuseStart(cellstatefilterGateway.errorPrefix, cellstatefilterInputs[6].name,
                                                orrimRealData(cellInputs.P0), m);

  double *out = createOutput(outputs, 0, {sizes.T, 1});
  const FilteredOutputs filtered = createFilteredOutputs(outputCount, outputs, sizes.T, m);

  // Room for at least one series, so that a first period without series
  // still leaves buffers that can grow; the checks have bounded every count
  // by that of the most series.
  const uint64_t capacity = sizes.firstSeries > 0 ? sizes.firstSeries : 1;
  BlockCounts counts{};
  counts[mDoubles] = m;
  counts[mmDoubles] = m * m;
  counts[nDoubles] = capacity;
  counts[nmDoubles] = capacity * m;
  CellFilterWorkspace workspace{};
  workspace.model = cellFilterModel(cellInputs, sizes);
  workspace.seriesCapacity = capacity;
  takeBlocks(cellFilterBlocks, counts, &workspace, orrimAlloc);
  takeEachBlock(cellSeriesBlocks, counts, &workspace, orrimAlloc);
  if (diffuse) {
    takeBlocks(diffuseStartBlocks, counts, &workspace.diffuse, orrimAlloc);
  }
  workspace.decorrelation.grow = orrimRealloc;
  runCellStateFilter(workspace, cellInputs, out, filtered);
  releaseEachBlock(cellSeriesBlocks, &workspace, orrimFree);
  releaseBlocks(cellFilterBlocks, &workspace, orrimFree);
  if (diffuse) {
    releaseBlocks(diffuseStartBlocks, &workspace.diffuse, orrimFree);
  }
  releaseDecorrelation(workspace.decorrelation, orrimFree);
}
