// The Kalman filter over coefficients and observations that may change shape
// from period to period, writing every period's log-likelihood.
#pragma once

#include "cell_filter_inputs.h"
#include "correlated_noise.h"
#include "filter_period.h"
#include "filter_types.h"
#include "state_space_model.h"
#include "working_blocks.h"

#include <cstddef>
#include <cstdint>

// The series buffers (measurementRows and observationNoiseVar) have room for
// seriesCapacity series and grow with orrimRealloc when a period has more;
// observationRow holds the series of every period of a matrix Y.
struct CellFilterWorkspace {
  StateSpaceModel model;
  double *observationRow;  // row t of a matrix Y
  FilterState state;
  FilterScratch scratch;
  uint64_t seriesCapacity;
  // Taken only in a period whose series share innovations, and grown with
  // the periods that need more; the caller sets its grow and gives its
  // blocks back.
  Decorrelation decorrelation;
  // The diffuse part of the state; its blocks are taken by the caller, only
  // when P0 marks a diffuse state, and null otherwise.
  DiffuseStart diffuse;
};

// The working blocks of fixed size, in the order the gateway takes and
// releases them; n stands for seriesCapacity.
inline constexpr WorkingBlock cellFilterBlocks[] = {
    {offsetof(CellFilterWorkspace, model.period.transitionRows), mmDoubles},
    {offsetof(CellFilterWorkspace, model.period.stateNoiseCov), mmDoubles},
    {offsetof(CellFilterWorkspace, observationRow), nDoubles},
    {offsetof(CellFilterWorkspace, state.x), mDoubles},
    {offsetof(CellFilterWorkspace, state.P), mmDoubles},
    {offsetof(CellFilterWorkspace, scratch.covTimesRow), mDoubles},
    {offsetof(CellFilterWorkspace, scratch.gain), mDoubles},
    {offsetof(CellFilterWorkspace, scratch.transitionTimesCov), mmDoubles},
    {offsetof(CellFilterWorkspace, scratch.stateCopy), mDoubles},
};

// The series buffers, which grow when a period has more series than any
// before it: each a block of its own.
inline constexpr WorkingBlock cellSeriesBlocks[] = {
    {offsetof(CellFilterWorkspace, model.period.measurementRows), nmDoubles},
    {offsetof(CellFilterWorkspace, model.period.observationNoiseVar), nDoubles},
};

// The model of inputs that passed checkCellFilterInputs, which gave `sizes`:
// n, k and h those of period 0, A to D each one matrix or a cell array.
StateSpaceModel cellFilterModel(const CellFilterInputs &inputs, const CellFilterSizes &sizes);

// Runs the filter of workspace.model over Y from x0 and P0 (inputs.Y,
// inputs.x0 and inputs.P0). out[t] receives the log-likelihood sum of period
// t, and `filtered` the state after it when asked.
void runCellStateFilter(CellFilterWorkspace &workspace, const CellFilterInputs &inputs, double *out,
                        const FilteredOutputs &filtered = {});
