// The working storage of one simulation smoother call: the smoother's blocks,
// whose forward pass keeps the records every draw shares, then the blocks of
// the draws, which go through the mean recursions side by side, a block of
// at most drawsSideBySide draws at a time.
#pragma once

#include "smoother_workspace.h"
#include "working_blocks.h"

#include <cstddef>
#include <cstdint>

// Draws are independent sums, so they run side by side, one per lane of the
// vectors; a block of at most this many shares each pass over the periods.
// The width changes no bit of any draw.
inline constexpr uint64_t drawsSideBySide = 32;

// The variates are read and the draws written a tile of periods at a time:
// each draw's column of variates, and each of its states in the output,
// then moves along runs of memory rather than one element per period.
inline constexpr uint64_t periodsPerTile = 32;

// The blocks S draws are taken in: `count` blocks of `width` draws, at most
// drawsSideBySide, the last of what is left; full blocks keep every vector
// of lanes full.
struct DrawBlocks {
  uint64_t draws, width, count;
};
DrawBlocks drawBlocksOf(uint64_t draws);

// The draws of block b: from `first`, `lanes` of them.
struct DrawBlock {
  uint64_t first, lanes;
};
DrawBlock drawBlock(const DrawBlocks &blocks, uint64_t b);

// The lanes of a block: element (row, l) of each lane block at row*lanes + l,
// for the block's `lanes` draws, lane l being draw first + l.
struct SimulationSmootherWorkspace {
  SmootherWorkspace covariancePass;  // smootherBlocks: the records of the one covariance pass
  double *initialFactor;             // m x m, column-major: G, lower, with G*G' the finite block of P0
  double *reciprocalVariances;       // n*T: 1/F of a used observation
  double *stateLoadingRows;          // m x k: B row by row
  double *observationLoadingRows;    // n x h: D row by row
  double *drawnStates;               // a tile of m lanes: the draws of period t at (t % periodsPerTile)*m*L,
                                     // on their way to the output
  // Two lanes per draw and row, side by side, so that one product with A
  // moves both: row i holds x+ in lanes 0 .. L-1 and the filtered deviation
  // of Y - y+ in lanes L .. 2L-1.
  double *pathAndDeviations;         // m double lanes: those of the period before
  double *nextPathAndDeviations;     // m double lanes: those of the period
  double *transitionStarts;          // m double lanes: where the product with A starts, s + B*u and zeros
  double *stateLanes;                // m lanes: z0, the state intercepts; on the way back A'r
  double *cumulants;                 // m lanes: r, r0 in a diffuse phase
  double *laterCumulants;            // m lanes: r1 in a diffuse phase; taken with a diffuse start only
  double *simulatedObservations;     // n lanes: y+, then Y - y+ where the innovations start
  double *observationLanes;          // n lanes: the observation intercepts, sums in progress
  double *shocks;                    // a tile of k + h lanes: u_t then e_t of each period
  double *drawHasNaN;                // 1 lane: 1.0 for a draw with a NaN among its variates
  double *predictedDeviations;       // T x m lanes: the deviation after the prediction of period t
  double *scaledInnovations;         // T x n lanes: (1/F)*v of each used observation
};

// The factor of P0 is taken first, alone: a P0 it refuses ends the call
// before the other blocks are taken.
inline constexpr WorkingBlock initialFactorBlocks[] = {
    {offsetof(SimulationSmootherWorkspace, initialFactor), mmDoubles},
};

// The draws' blocks, after smootherBlocks, in the order they are taken and
// released.
inline constexpr WorkingBlock simulationBlocks[] = {
    {offsetof(SimulationSmootherWorkspace, reciprocalVariances), nTDoubles},
    {offsetof(SimulationSmootherWorkspace, stateLoadingRows), mkDoubles},
    {offsetof(SimulationSmootherWorkspace, observationLoadingRows), nhDoubles},
    {offsetof(SimulationSmootherWorkspace, drawnStates), drawMTileDoubles},
    {offsetof(SimulationSmootherWorkspace, pathAndDeviations), drawMPairDoubles},
    {offsetof(SimulationSmootherWorkspace, nextPathAndDeviations), drawMPairDoubles},
    {offsetof(SimulationSmootherWorkspace, transitionStarts), drawMPairDoubles},
    {offsetof(SimulationSmootherWorkspace, stateLanes), drawMDoubles},
    {offsetof(SimulationSmootherWorkspace, cumulants), drawMDoubles},
    {offsetof(SimulationSmootherWorkspace, simulatedObservations), drawNDoubles},
    {offsetof(SimulationSmootherWorkspace, observationLanes), drawNDoubles},
    {offsetof(SimulationSmootherWorkspace, shocks), drawShockTileDoubles},
    {offsetof(SimulationSmootherWorkspace, drawHasNaN), drawDoubles},
    {offsetof(SimulationSmootherWorkspace, predictedDeviations), drawMTDoubles},
    {offsetof(SimulationSmootherWorkspace, scaledInnovations), drawNTDoubles},
};

// With a diffuse start, beside the smoother's diffuseStartBlocks that its
// forward pass runs the phase in: r1 of the block's draws.
inline constexpr WorkingBlock diffuseDrawBlocks[] = {
    {offsetof(SimulationSmootherWorkspace, laterCumulants), drawMDoubles},
};

// The double counts of every block of the tables, for blocks of
// `width` draws, each product formed through `multiply`; k + h must fit in
// 64 bits, as the gateway's check of the variates makes sure.
BlockCounts simulationBlockCounts(uint64_t T, uint64_t n, uint64_t m, uint64_t k, uint64_t h, uint64_t width,
                                  CountProduct multiply);
