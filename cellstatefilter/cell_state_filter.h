// The Kalman filter over coefficients and observations that may change shape
// from period to period, writing every period's log-likelihood.
#pragma once

#include "cell_filter_inputs.h"
#include "filter_period.h"
#include "filter_types.h"
#include "working_blocks.h"

#include <cstddef>
#include <cstdint>

// The series buffers (measurementRows, observationNoiseVar and
// observationRow) have room for seriesCapacity series and grow with
// orrimRealloc when a period has more.
struct CellFilterWorkspace {
  PreparedModel model;
  double *observationRow;  // row t of a matrix Y
  FilterState state;
  FilterScratch scratch;
  uint64_t seriesCapacity;
};

// The eleven working blocks, in the order the gateway takes and releases
// them; n stands for seriesCapacity.
inline constexpr WorkingBlock cellFilterBlocks[] = {
    {offsetof(CellFilterWorkspace, model.transitionRows), mmDoubles},
    {offsetof(CellFilterWorkspace, model.stateNoiseCov), mmDoubles},
    {offsetof(CellFilterWorkspace, model.measurementRows), nmDoubles},
    {offsetof(CellFilterWorkspace, model.observationNoiseVar), nDoubles},
    {offsetof(CellFilterWorkspace, observationRow), nDoubles},
    {offsetof(CellFilterWorkspace, state.x), mDoubles},
    {offsetof(CellFilterWorkspace, state.P), mmDoubles},
    {offsetof(CellFilterWorkspace, scratch.covTimesRow), mDoubles},
    {offsetof(CellFilterWorkspace, scratch.gain), mDoubles},
    {offsetof(CellFilterWorkspace, scratch.transitionTimesCov), mmDoubles},
    {offsetof(CellFilterWorkspace, scratch.stateCopy), mDoubles},
};

// out[t] receives the log-likelihood sum of period t, and `filtered` the state
// after it when asked. The inputs must have passed checkCellFilterInputs,
// which gave `sizes`.
void runCellStateFilter(const CellFilterInputs &inputs, const CellFilterSizes &sizes, CellFilterWorkspace &workspace,
                        double *out, const FilteredOutputs &filtered = {});
