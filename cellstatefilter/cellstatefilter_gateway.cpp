// The entry point of the cellstatefilter module: checks the eight inputs in
// every period they serve, takes the eleven working blocks, runs the filter
// and gives the blocks back.
#include "cell_filter_inputs.h"
#include "cell_state_filter.h"
#include "gateway_checks.h"
#include "orrim.h"

extern "C" void orrimGateway(int32_t /*outputCount*/, OrrimArray *outputs[], int32_t inputCount,
                             const OrrimArray *inputs[]) {
  requireRunnableKernelPath();
  if (inputCount != 8) {
    orrimRaiseError("tarv:ssm:kfctv:NotEnoughInputs", "This function requires 8 input matrices.");
  }
  const CellFilterInputs cellInputs = readCellFilterInputs(inputs);
  const CellFilterSizes sizes = checkCellFilterInputs(cellInputs);
  const uint64_t m = sizes.m;
  const uint64_t mm = m * m;

  outputs[0] = orrimCreateRealMatrix(sizes.T, 1, orrimReal);
  double *out = orrimRealData(outputs[0]);

  // Room for at least one series, so that a first period without series
  // still leaves buffers that can grow.
  const uint64_t capacity = sizes.firstSeries > 0 ? sizes.firstSeries : 1;
  const char *prefix = cellFilterErrorPrefix;
  CellFilterWorkspace workspace{};
  workspace.seriesCapacity = capacity;
  workspace.model.transitionRows = allocateDoubles(prefix, mm, "m*m doubles");
  workspace.model.stateNoiseCov = allocateDoubles(prefix, mm, "m*m doubles");
  workspace.model.measurementRows = allocateDoubles(prefix, capacity * m, "n*m doubles");
  workspace.model.observationNoiseVar = allocateDoubles(prefix, capacity, "n doubles");
  workspace.observationRow = allocateDoubles(prefix, capacity, "n doubles");
  workspace.state.x = allocateDoubles(prefix, m, "m doubles");
  workspace.state.P = allocateDoubles(prefix, mm, "m*m doubles");
  workspace.scratch.covTimesRow = allocateDoubles(prefix, m, "m doubles");
  workspace.scratch.gain = allocateDoubles(prefix, m, "m doubles");
  workspace.scratch.transitionTimesCov = allocateDoubles(prefix, mm, "m*m doubles");
  workspace.scratch.stateCopy = allocateDoubles(prefix, m, "m doubles");

  runCellStateFilter(cellInputs, sizes, workspace, out);

  orrimFree(workspace.model.transitionRows);
  orrimFree(workspace.model.stateNoiseCov);
  orrimFree(workspace.model.measurementRows);
  orrimFree(workspace.model.observationNoiseVar);
  orrimFree(workspace.observationRow);
  orrimFree(workspace.state.x);
  orrimFree(workspace.state.P);
  orrimFree(workspace.scratch.covTimesRow);
  orrimFree(workspace.scratch.gain);
  orrimFree(workspace.scratch.transitionTimesCov);
  orrimFree(workspace.scratch.stateCopy);
}
