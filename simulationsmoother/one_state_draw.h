// A single draw of a model of one state and one series: the local level
// model of a Gibbs sampler, drawn once in every iteration.
#pragma once

#include "simulation_draws.h"
#include "simulation_workspace.h"

#include <cstdint>

// Whether drawOneStateOneSeries draws the block: one draw of a model of one
// state and one series.
inline bool drawsOneStateOneSeries(const StateSpaceModel &model, const DrawBlock &block) {
  return block.lanes == 1 && model.m == 1 && model.n == 1;
}

// Draw `draw` into out (T x 1 x draws), after runCovariancePass, for a model
// that drawsOneStateOneSeries: the operations drawSmoothedStates documents,
// each in the same order from the same starts, so that the draw has the bits
// the steps for any number of states and lanes give it. Those steps keep
// their lanes in memory, and with one state and one lane every period then
// waits on a chain of stores and loads; here the path, the deviation and r
// stay in registers, and the coefficients are read from their pages (for one
// state and one series, A, B, C and D row by row are the pages themselves).
// Sets drawHasNaN[0] for a NaN among the variates the draw reads, whose
// draw the caller then marks.
void drawOneStateOneSeries(SimulationSmootherWorkspace &workspace, const DrawInputs &inputs, uint64_t draw,
                           double *out);
