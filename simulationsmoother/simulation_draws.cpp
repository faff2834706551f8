#include "simulation_draws.h"

#include "dense_kernels.h"
#include "draw_means.h"
#include "forward_pass.h"
#include "initial_factor.h"
#include "model_preparation.h"

#include <limits>
#include <utility>

namespace {

// out = init + M*b for the rows x depth matrix M held row by row and `depth`
// rows of lanes b; a null init starts every sum from 0.0. Each lane is its
// own sums, in ascending index: the same bits on every kernel path.
void productOfLanes(double *out, const double *init, const double *rowsOfM, uint64_t rows, uint64_t depth,
                    const double *b, uint64_t lanes) {
  denseKernels().rowsTimesColumns(out, lanes, init, lanes, rowsOfM, depth, b, lanes, rows, lanes, depth);
}

// Row i of the lanes holds values[i] in every lane.
void broadcastRows(double *lanes, const double *values, uint64_t rows, uint64_t count) {
  for (uint64_t i = 0; i < rows; ++i) {
    for (uint64_t l = 0; l < count; ++l) {
      lanes[i * count + l] = values[i];
    }
  }
}

// `rows` rows of the block's variates from row `firstRow`, one lane per draw;
// a NaN among them marks its draw.
void gatherVariates(double *lanes, uint64_t rows, const DrawInputs &inputs, uint64_t firstRow, const DrawBlock &block,
                    double *drawHasNaN) {
  for (uint64_t l = 0; l < block.lanes; ++l) {
    const double *column = inputs.variates + (block.first + l) * inputs.variateRows + firstRow;
    bool hasNaN = false;
    for (uint64_t q = 0; q < rows; ++q) {
      const double value = column[q];
      lanes[q * block.lanes + l] = value;
      hasNaN |= value != value;
    }
    if (hasNaN) drawHasNaN[l] = 1.0;
  }
}

// The lines of `count` doubles from `values`, asked for ahead of their use:
// the hardware fetches ahead along one run, not along many at once, nor
// backwards through the stores on the way back.
void prefetchDoubles(const double *values, uint64_t count) {
  const char *bytes = reinterpret_cast<const char *>(values);
  for (uint64_t offset = 0; offset < count * sizeof(double); offset += 64) {
    __builtin_prefetch(bytes + offset);
  }
}

// z0 of the block's draws; the rows of diffuse states are not read.
void gatherStart(double *lanes, const DrawInputs &inputs, uint64_t m, const DrawBlock &block, double *drawHasNaN) {
  for (uint64_t i = 0; i < m; ++i) {
    if (startsDiffuse(inputs.P0, m, i)) {
      for (uint64_t l = 0; l < block.lanes; ++l) lanes[i * block.lanes + l] = 0.0;
      continue;
    }
    gatherVariates(lanes + i * block.lanes, 1, inputs, i, block, drawHasNaN);
  }
}

// Periods `first` to `last` - 1 of every draw of the block, from a tile of m
// rows of lanes per period (period t at (t % periodsPerTile)*m*lanes):
// out(t, i, s) at t + i*T + s*T*m, so each state of a draw is one run.
void writeTile(double *out, const double *tile, uint64_t T, uint64_t m, uint64_t first, uint64_t last,
               const DrawBlock &block) {
  const uint64_t lanes = block.lanes;
  for (uint64_t l = 0; l < lanes; ++l) {
    double *draw = out + (block.first + l) * T * m;
    for (uint64_t i = 0; i < m; ++i) {
      double *run = draw + i * T;
      for (uint64_t t = first; t < last; ++t) {
        run[t] = tile[((t % periodsPerTile) * m + i) * lanes + l];
      }
    }
  }
}

// The periods of the tile that holds period t.
uint64_t tileStart(uint64_t t) { return t - t % periodsPerTile; }
uint64_t tileEnd(uint64_t t, uint64_t T) { return tileStart(t) + periodsPerTile < T ? tileStart(t) + periodsPerTile : T; }

// The records of period t, as the covariance pass left them.
PeriodRecords recordsOfPeriod(const SimulationSmootherWorkspace &workspace, uint64_t t) {
  const SmootherWorkspace &pass = workspace.covariancePass;
  const uint64_t first = t * pass.model.n;
  return {pass.observationGains + first * pass.model.m, workspace.reciprocalVariances + first,
          pass.skipFlags + first};
}

// The forms the draws read of period t's coefficients: A and C row by row,
// and B and D row by row, which the filter never needs.
void prepareDrawPeriod(SimulationSmootherWorkspace &workspace, uint64_t t) {
  StateSpaceModel &model = workspace.covariancePass.model;
  const bool first = t == 0;
  if (first || changesByPeriod(model.A) || changesByPeriod(model.C)) {
    preparePeriod(model, t, transitionRowsForm | measurementForm, first);
  }
  if (first || changesByPeriod(model.B)) {
    transposeCopy(workspace.stateLoadingRows, pageOfPeriod(model.B, t).data, model.m, model.k);
  }
  if (first || changesByPeriod(model.D)) {
    transposeCopy(workspace.observationLoadingRows, pageOfPeriod(model.D, t).data, model.n, model.h);
  }
}

// Forward through every period for the block's draws: x+ + a_t and the
// scaled innovations into their stores.
void simulateAndFilter(SimulationSmootherWorkspace &workspace, const DrawInputs &inputs, const DrawBlock &block) {
  const StateSpaceModel &model = workspace.covariancePass.model;
  const uint64_t T = model.T, n = model.n, m = model.m, k = model.k, h = model.h;
  const uint64_t lanes = block.lanes;
  const PreparedModel &prepared = model.period;
  const double *observations = workspace.covariancePass.observationsByPeriod;
  double *simulatedObservations = workspace.simulatedObservations;
  // x+ of period t in its slot of the tile; the start, period -1, in the last.
  auto simulatedOf = [&](uint64_t slot) { return workspace.simulatedStates + slot * m * lanes; };
  for (uint64_t e = 0; e < m * lanes; ++e) workspace.deviations[e] = 0.0;
  for (uint64_t l = 0; l < lanes; ++l) workspace.drawHasNaN[l] = 0.0;
  gatherStart(workspace.stateLanes, inputs, m, block, workspace.drawHasNaN);
  startSimulatedStates(simulatedOf(periodsPerTile - 1), workspace.stateLanes, workspace.initialFactor, inputs.x0,
                       inputs.P0, m, lanes);
  for (uint64_t t = 0; t < T; ++t) {
    const uint64_t slot = t % periodsPerTile;
    if (slot == 0) {
      // The variates of the tile's periods, each draw's a run of its column;
      // those of the next tile are asked for now.
      gatherVariates(workspace.shocks, (tileEnd(t, T) - t) * (k + h), inputs, m + t * (k + h), block,
                     workspace.drawHasNaN);
      if (tileEnd(t, T) < T) {
        const uint64_t next = tileEnd(t, T);
        for (uint64_t l = 0; l < lanes; ++l) {
          prefetchDoubles(inputs.variates + (block.first + l) * inputs.variateRows + m + next * (k + h),
                          (tileEnd(next, T) - next) * (k + h));
        }
      }
    }
    prepareDrawPeriod(workspace, t);
    const double *stateShocks = workspace.shocks + slot * (k + h) * lanes;
    const double *observationShocks = stateShocks + k * lanes;

    // The simulated state and observations of period t.
    const double *init = nullptr;
    if (inputs.stateIntercept != nullptr) {
      broadcastRows(workspace.stateLanes, inputs.stateIntercept + t * m, m, lanes);
      init = workspace.stateLanes;
    }
    double *simulated = simulatedOf(slot);
    productOfLanes(workspace.stateProducts, init, prepared.transitionRows, m, m,
                   simulatedOf((slot + periodsPerTile - 1) % periodsPerTile), lanes);
    productOfLanes(simulated, workspace.stateProducts, workspace.stateLoadingRows, m, k, stateShocks, lanes);
    init = nullptr;
    if (inputs.observationIntercept != nullptr) {
      broadcastRows(simulatedObservations, inputs.observationIntercept + t * n, n, lanes);
      init = simulatedObservations;
    }
    productOfLanes(workspace.observationLanes, init, prepared.measurementRows, n, m, simulated, lanes);
    productOfLanes(simulatedObservations, workspace.observationLanes, workspace.observationLoadingRows, n, h,
                   observationShocks, lanes);
    // Y - y+ where the innovations start; NaN where Y is missing, never read.
    for (uint64_t j = 0; j < n; ++j) {
      const double y = observations[t * n + j];
      double *row = simulatedObservations + j * lanes;
      for (uint64_t l = 0; l < lanes; ++l) row[l] = y - row[l];
    }

    // The mean recursions of the deviations, from the prediction a_t, which
    // the way back needs only as x+ + a_t, the term the draw starts from.
    double *predicted = workspace.predictedDeviations + t * m * lanes;
    productOfLanes(predicted, nullptr, prepared.transitionRows, m, m, workspace.deviations, lanes);
    for (uint64_t e = 0; e < m * lanes; ++e) {
      workspace.deviations[e] = predicted[e];
      predicted[e] = simulated[e] + predicted[e];
    }
    updateDrawMeansOfPeriod(recordsOfPeriod(workspace, t), prepared.measurementRows, n, m, workspace.deviations,
                            simulatedObservations, workspace.scaledInnovations + t * n * lanes, lanes);
  }
}

// Backward through every period: r, and the draws (x+ + a_t) + P_t*r into the
// output.
void smoothDeviations(SimulationSmootherWorkspace &workspace, const DrawBlock &block, double *out) {
  SmootherWorkspace &pass = workspace.covariancePass;
  StateSpaceModel &model = pass.model;
  const uint64_t T = model.T, n = model.n, m = model.m;
  const uint64_t lanes = block.lanes;
  double *r = workspace.cumulants;
  double *spare = workspace.stateLanes;
  for (uint64_t e = 0; e < m * lanes; ++e) r[e] = 0.0;
  // The prediction's scratch holds P_t whole.
  double *covariance = pass.scratch.transitionTimesCov;
  for (uint64_t t = T; t-- > 0;) {
    if (t > 0) {
      // What the period before reads, in the reverse of the order it was written.
      prefetchDoubles(pass.predictedCovariances + (t - 1) * lowerTriangleCount(m), lowerTriangleCount(m));
      prefetchDoubles(pass.observationGains + (t - 1) * n * m, n * m);
      prefetchDoubles(workspace.predictedDeviations + (t - 1) * m * lanes, m * lanes);
      prefetchDoubles(workspace.scaledInnovations + (t - 1) * n * lanes, n * lanes);
    }
    if (t + 1 < T) {
      // A_{t+1} carried period t into t+1; its columns are the rows of its transpose.
      productOfLanes(spare, nullptr, pageOfPeriod(model.A, t + 1).data, m, m, r, lanes);
      std::swap(r, spare);
    }
    if (changesByPeriod(model.C)) {
      preparePeriod(model, t, measurementForm);
    }
    carryDrawCumulantsOfPeriod(recordsOfPeriod(workspace, t), model.period.measurementRows, n, m, r,
                               workspace.scaledInnovations + t * n * lanes, lanes);
    restoreSymmetric(covariance, pass.predictedCovariances + t * lowerTriangleCount(m), m);
    productOfLanes(workspace.simulatedStates + (t % periodsPerTile) * m * lanes,
                   workspace.predictedDeviations + t * m * lanes, covariance, m, m, r, lanes);
    if (t == tileStart(t)) {
      writeTile(out, workspace.simulatedStates, T, m, t, tileEnd(t, T), block);
    }
  }
}

// Every element of a draw with a NaN among its variates.
void markDrawsWithNaN(const SimulationSmootherWorkspace &workspace, const DrawBlock &block, uint64_t T, uint64_t m,
                      double *out) {
  for (uint64_t l = 0; l < block.lanes; ++l) {
    if (workspace.drawHasNaN[l] < 0.5) continue;
    double *draw = out + (block.first + l) * T * m;
    for (uint64_t e = 0; e < T * m; ++e) draw[e] = std::numeric_limits<double>::quiet_NaN();
  }
}

}  // namespace

void runCovariancePass(SimulationSmootherWorkspace &workspace, const double *Y, const double *P0,
                       MissingTest isMissing) {
  SmootherWorkspace &pass = workspace.covariancePass;
  initialiseSmootherWorkspace(pass, Y, P0);
  // Zero means: the pass's own innovations are those of Y, never read; the
  // draws form theirs from Y - y+ through the records.
  for (uint64_t e = 0; e < pass.model.n * pass.model.T; ++e) pass.meanObservations[e] = 0.0;
  runForwardPass(pass, isMissing, workspace.reciprocalVariances);
}

void drawSmoothedStates(SimulationSmootherWorkspace &workspace, const DrawInputs &inputs, double *out) {
  const StateSpaceModel &model = workspace.covariancePass.model;
  const DrawBlocks blocks = drawBlocksOf(inputs.draws);
  for (uint64_t b = 0; b < blocks.count; ++b) {
    const DrawBlock block = drawBlock(blocks, b);
    simulateAndFilter(workspace, inputs, block);
    smoothDeviations(workspace, block, out);
    markDrawsWithNaN(workspace, block, model.T, model.m, out);
  }
}
