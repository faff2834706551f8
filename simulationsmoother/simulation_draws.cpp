#include "simulation_draws.h"

#include "dense_kernels.h"
#include "draw_means.h"
#include "forward_pass.h"
#include "initial_factor.h"
#include "model_preparation.h"
#include "one_state_draw.h"
#include "reference_steps.h"

#include <limits>
#include <type_traits>
#include <utility>

namespace {

// out = init + M*b for the rows x depth matrix M held row by row and `depth`
// rows of `lanes` lanes b; a null init starts every sum from 0.0. Each lane is
// its own sums, in ascending index: the same bits on every kernel path. The
// strides are those of the rows of out, init and b. A product of a few terms,
// the local level model's for a single draw, takes the plain loops inline: a
// call of the kernel would cost it more than its arithmetic, in every period.
[[gnu::always_inline]] inline void productOfLanes(double *out, uint64_t outStride, const double *init,
                                                   uint64_t initStride, const double *rowsOfM, uint64_t rows,
                                                   uint64_t depth, const double *b, uint64_t bStride, uint64_t lanes) {
  if (rows * depth * lanes <= fewTerms) {
    if (rows * depth * lanes == 1) {
      // The sum of one term, from its start.
      double s = init != nullptr ? init[0] : 0.0;
      s += rowsOfM[0] * b[0];
      out[0] = s;
      return;
    }
    rowsTimesColumnsReference(out, outStride, init, initStride, rowsOfM, depth, b, bStride, rows, lanes, depth);
    return;
  }
  denseKernels().rowsTimesColumns(out, outStride, init, initStride, rowsOfM, depth, b, bStride, rows, lanes, depth);
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
  constexpr uint64_t strip = 8;
  for (uint64_t q0 = 0; q0 < rows; q0 += strip) {
    const uint64_t q1 = q0 + strip < rows ? q0 + strip : rows;
    for (uint64_t l = 0; l < block.lanes; ++l) {
      const double *column = inputs.variates + (block.first + l) * inputs.variateRows + firstRow;
      bool hasNaN = false;
      for (uint64_t q = q0; q < q1; ++q) {
        const double value = column[q];
        lanes[q * block.lanes + l] = value;
        hasNaN |= value != value;
      }
      if (hasNaN) drawHasNaN[l] = 1.0;
    }
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
// out(t, i, s) at t + i*T + s*T*m, so each state of a draw is one run,
// stored past the caches: the call does not read the output.
void writeTile(double *out, const double *tile, uint64_t T, uint64_t m, uint64_t first, uint64_t last,
               const DrawBlock &block) {
  const uint64_t lanes = block.lanes;
  for (uint64_t l = 0; l < lanes; ++l) {
    double *draw = out + (block.first + l) * T * m;
    for (uint64_t i = 0; i < m; ++i) {
      double *run = draw + i * T;
      for (uint64_t t = first; t < last; ++t) {
        storeStreaming(run + t, tile[((t % periodsPerTile) * m + i) * lanes + l]);
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
// the noise variances and D where series share it, which decorrelate the
// period; and B and D row by row, which the filter never needs.
void prepareDrawPeriod(SimulationSmootherWorkspace &workspace, uint64_t t) {
  StateSpaceModel &model = workspace.covariancePass.model;
  const bool first = t == 0;
  if (first || changesByPeriod(model.A) || changesByPeriod(model.C) || changesByPeriod(model.D)) {
    preparePeriod(model, t, transitionRowsForm | measurementForm | observationNoiseForm, first);
  }
  if (first || changesByPeriod(model.B)) {
    transposeCopy(workspace.stateLoadingRows, pageOfPeriod(model.B, t).data, model.m, model.k);
  }
  if (first || changesByPeriod(model.D)) {
    transposeCopy(workspace.observationLoadingRows, pageOfPeriod(model.D, t).data, model.n, model.h);
  }
}

// The measurement rows the covariance pass took in period t, whose series
// may share noise; where it decorrelated them, the draws' Y - y+ of the
// observed series go through the same L^-1, lane by lane, into the first
// rows of `observations` (n lanes).
const double *decorrelateDrawObservations(SmootherWorkspace &pass, uint64_t t, MissingTest isMissing,
                                          double *observations, uint64_t lanes) {
  const DecorrelatedSeries taken = decorrelatedSeriesTaken(pass, t, isMissing);
  if (taken.transformed) {
    decorrelateRowsInPlace(pass.decorrelation, taken.count, observations, lanes);
  }
  return taken.period.measurementRows;
}

// Forward through every period for the block's draws: x+ + a_t and the
// scaled innovations into their stores.
// m and `lanes`, the block's, are constants for a single draw of one state.
template <typename StateCount, typename LaneCount>
void simulateAndFilter(SimulationSmootherWorkspace &workspace, const DrawInputs &inputs, const DrawBlock &block,
                       StateCount m, LaneCount lanes) {
  const StateSpaceModel &model = workspace.covariancePass.model;
  const uint64_t T = model.T, n = model.n, k = model.k, h = model.h;
  const uint64_t pair = 2 * lanes;
  const PreparedModel &prepared = model.period;
  const double *observations = workspace.covariancePass.observationsByPeriod;
  double *simulatedObservations = workspace.simulatedObservations;
  double *current = workspace.pathAndDeviations;
  double *next = workspace.nextPathAndDeviations;
  double *transitionStarts = workspace.transitionStarts;
  // The deviations start from zero, and so does their product with A.
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = lanes; l < pair; ++l) current[i * pair + l] = transitionStarts[i * pair + l] = 0.0;
  }
  for (uint64_t l = 0; l < lanes; ++l) workspace.drawHasNaN[l] = 0.0;
  gatherStart(workspace.stateLanes, inputs, m, block, workspace.drawHasNaN);
  startSimulatedStates(current, pair, workspace.stateLanes, workspace.initialFactor, inputs.x0, inputs.P0, m, lanes);
  for (uint64_t t = 0; t < T; ++t) {
    const uint64_t slot = t % periodsPerTile;
    if (slot == 0) {
      // The variates of the tile's periods, each draw's a run of its column;
      // those of the next tile are asked for now.
      gatherVariates(workspace.shocks, (tileEnd(t, T) - t) * (k + h), inputs, m + t * (k + h), block,
                     workspace.drawHasNaN);
      if (tileEnd(t, T) < T) {
        const uint64_t following = tileEnd(t, T);
        for (uint64_t l = 0; l < lanes; ++l) {
          prefetchDoubles(inputs.variates + (block.first + l) * inputs.variateRows + m + following * (k + h),
                          (tileEnd(following, T) - following) * (k + h));
        }
      }
    }
    prepareDrawPeriod(workspace, t);
    const double *stateShocks = workspace.shocks + slot * (k + h) * lanes;
    const double *observationShocks = stateShocks + k * lanes;

    // x+ of period t, from s + B*u; and in the same product with A, the
    // predicted deviation a_t, from zeros.
    const double *init = nullptr;
    if (inputs.stateIntercept != nullptr) {
      broadcastRows(workspace.stateLanes, inputs.stateIntercept + t * m, m, lanes);
      init = workspace.stateLanes;
    }
    productOfLanes(transitionStarts, pair, init, lanes, workspace.stateLoadingRows, m, k, stateShocks, lanes, lanes);
    productOfLanes(next, pair, transitionStarts, pair, prepared.transitionRows, m, m, current, pair, pair);
    // y+ of period t, and Y - y+ where the innovations start: NaN where Y is
    // missing, never read.
    init = nullptr;
    if (inputs.observationIntercept != nullptr) {
      broadcastRows(simulatedObservations, inputs.observationIntercept + t * n, n, lanes);
      init = simulatedObservations;
    }
    productOfLanes(workspace.observationLanes, lanes, init, lanes, prepared.measurementRows, n, m, next, pair, lanes);
    productOfLanes(simulatedObservations, lanes, workspace.observationLanes, lanes, workspace.observationLoadingRows,
                   n, h, observationShocks, lanes, lanes);
    for (uint64_t j = 0; j < n; ++j) {
      const double y = observations[t * n + j];
      double *row = simulatedObservations + j * lanes;
      for (uint64_t l = 0; l < lanes; ++l) row[l] = y - row[l];
    }
    const double *measurementRows = prepared.measurementRows;
    if (prepared.sharedNoiseLoadings != nullptr) [[unlikely]] {
      measurementRows =
          decorrelateDrawObservations(workspace.covariancePass, t, inputs.isMissing, simulatedObservations, lanes);
    }

    // The way back needs a_t only as x+ + a_t, the term the draw starts from;
    // then the mean recursions of the deviations, from a_t.
    double *kept = workspace.predictedDeviations + t * m * lanes;
    for (uint64_t i = 0; i < m; ++i) {
      for (uint64_t l = 0; l < lanes; ++l) kept[i * lanes + l] = next[i * pair + l] + next[i * pair + lanes + l];
    }
    updateDrawMeansOfPeriod(recordsOfPeriod(workspace, t), measurementRows, n, m, next + lanes, pair,
                            simulatedObservations, workspace.scaledInnovations + t * n * lanes, lanes);
    std::swap(current, next);
  }
}

// Backward through every period: r, and the draws (x+ + a_t) + P_t*r into the
// output; through the periods of a diffuse phase r0 and r1, and the draws
// ((x+ + a_t) + P*_t*r0) + P_inf_t*r1.
template <typename StateCount, typename LaneCount>
void smoothDeviations(SimulationSmootherWorkspace &workspace, const DrawBlock &block, MissingTest isMissing,
                      double *out, StateCount m, LaneCount lanes) {
  SmootherWorkspace &pass = workspace.covariancePass;
  StateSpaceModel &model = pass.model;
  const uint64_t T = model.T, n = model.n;
  const DiffusePhaseRecords &phase = pass.diffuseRecords;
  double *r = workspace.cumulants;
  double *r1 = workspace.laterCumulants;
  double *spare = workspace.stateLanes;
  for (uint64_t e = 0; e < m * lanes; ++e) r[e] = 0.0;
  // The prediction's scratch holds P_t whole, and P_inf_t the diffuse part's
  // block, free once the covariance pass is over.
  double *covariance = pass.scratch.transitionTimesCov;
  double *infinitePart = pass.diffuse.infinitePart;
  const bool changes = changesByPeriod(model.C) || changesByPeriod(model.D);
  for (uint64_t t = T; t-- > 0;) {
    if (t > 0) {
      // What the period before reads, in the reverse of the order it was written.
      prefetchDoubles(pass.predictedCovariances + (t - 1) * lowerTriangleCount(m), lowerTriangleCount(m));
      prefetchDoubles(pass.observationGains + (t - 1) * n * m, n * m);
      prefetchDoubles(workspace.predictedDeviations + (t - 1) * m * lanes, m * lanes);
      prefetchDoubles(workspace.scaledInnovations + (t - 1) * n * lanes, n * lanes);
    }
    const bool diffuse = t < phase.periods;
    if (diffuse && t + 1 == phase.periods) {
      // r1 starts from zero after the last period of the phase.
      for (uint64_t e = 0; e < m * lanes; ++e) r1[e] = 0.0;
    }
    if (t + 1 < T) {
      // A_{t+1} carried period t into t+1; its columns are the rows of its transpose.
      const double *A = pageOfPeriod(model.A, t + 1).data;
      productOfLanes(spare, lanes, nullptr, 0, A, m, m, r, lanes, lanes);
      std::swap(r, spare);
      if (diffuse) {
        productOfLanes(spare, lanes, nullptr, 0, A, m, m, r1, lanes, lanes);
        std::swap(r1, spare);
      }
    }
    if (changes) {
      preparePeriod(model, t, measurementForm | observationNoiseForm);
    }
    const double *measurementRows = measurementRowsTaken(pass, t, isMissing);
    const PeriodRecords records = recordsOfPeriod(workspace, t);
    const double *scaled = workspace.scaledInnovations + t * n * lanes;
    const double *start = workspace.predictedDeviations + t * m * lanes;
    double *drawn = workspace.drawnStates + (t % periodsPerTile) * m * lanes;
    restoreSymmetric(covariance, pass.predictedCovariances + t * lowerTriangleCount(m), m);
    if (diffuse) [[unlikely]] {
      carryDrawCumulantsOfDiffusePeriod(records, phase.gainCorrections + t * n * m, measurementRows, n, m, r, r1,
                                        scaled, lanes);
      restoreSymmetric(infinitePart, phase.infiniteParts + t * lowerTriangleCount(m), m);
      productOfLanes(spare, lanes, start, lanes, covariance, m, m, r, lanes, lanes);
      productOfLanes(drawn, lanes, spare, lanes, infinitePart, m, m, r1, lanes, lanes);
    } else {
      carryDrawCumulantsOfPeriod(records, measurementRows, n, m, r, scaled, lanes);
      productOfLanes(drawn, lanes, start, lanes, covariance, m, m, r, lanes, lanes);
    }
    if (t == tileStart(t)) {
      writeTile(out, workspace.drawnStates, T, m, t, tileEnd(t, T), block);
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
    // A single draw of the local level model, a Gibbs sampler's every
    // iteration, keeps its values in registers; of another model of one
    // state, it takes loops compiled for one state and one lane.
    constexpr std::integral_constant<uint64_t, 1> one;
    if (drawsOneStateOneSeries(model, block)) {
      drawOneStateOneSeries(workspace, inputs, block.first, out);
    } else if (block.lanes == 1 && model.m == 1) {
      simulateAndFilter(workspace, inputs, block, one, one);
      smoothDeviations(workspace, block, inputs.isMissing, out, one, one);
    } else {
      simulateAndFilter(workspace, inputs, block, model.m, block.lanes);
      smoothDeviations(workspace, block, inputs.isMissing, out, model.m, block.lanes);
    }
    finishStreamingStores();
    markDrawsWithNaN(workspace, block, model.T, model.m, out);
  }
}
