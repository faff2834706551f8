#include "backward_pass.h"

#include "dense_kernels.h"
#include "dense_products.h"
#include "diffuse_adjoint.h"
#include "filter_period.h"
#include "measurement_update.h"
#include "model_preparation.h"
#include "noise_adjoint.h"
#include "observation_adjoint.h"
#include "reference_steps.h"
#include "time_update.h"
#include "transition_adjoint.h"
#include "way_back_steps.h"

#include <limits>

namespace {

// Whether the guard may have cleared a state in the period: a cleared state
// keeps a variance of exactly 0.0 to the period's end, and a variance at or
// below zero left by the prediction is the guard's to clear.
bool mayHaveClearedAState(const double *P, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    if (P[i + i * m] <= 0.0) return true;
  }
  return false;
}

// The period's prediction again, from the state after the period before (x0
// and P0 as given before the first), with the filter's own step.
void predictPeriodAgain(GradientWorkspace &workspace, uint64_t t, const double *x0, const double *P0) {
  const uint64_t m = workspace.model.m;
  FilterState &state = workspace.state;
  copyDoubles(state.x, t == 0 ? x0 : stateAfterPeriod(workspace, t - 1), m);
  copyDoubles(state.P, t == 0 ? P0 : covarianceAfterPeriod(workspace, t - 1), m * m);
  predictState(state, workspace.model.period, workspace.scratch, m);
  copyDoubles(workspace.predictedState, state.x, m);
  copyDoubles(workspace.predictedCovariance, state.P, m * m);
}

// With many states, each used row's P*dw with the P before its observation:
// the P after the period with the updates of its observation and those after
// it taken back, P + sum over j' >= j of F_j'*K_j'*K_j''. For row j: the
// product of dw_j with the P after the period, y_i over q of dw_j(q)*P(q, i),
// then for j' from j up, plus (F_j'*(K_j'*dw_j))*K_j', each K_j'*dw_j one sum
// in ascending index. The rows go in groups of four: the K_j'*dw_j of a
// group against the gains from its first row on in one product, then each
// row's terms up to the group's last row, and the terms of the rows after the
// group for the four at once, in the same order. A row passed over has zero
// gain and direction. Added to the row's derivative. The first `count` rows
// of the period have records.
void addCovarianceTimesDirections(GradientWorkspace &workspace, uint64_t t, uint64_t count) {
  const uint64_t m = workspace.model.m;
  const double *gains = workspace.observationGains + t * workspace.model.n * m;
  const uint64_t n = count;
  const uint64_t first = t * workspace.model.n;
  const double *flags = workspace.skipFlags + first;
  double *y = workspace.covarianceTimesDirections;
  const RowsTimesColumnsKernel product = denseKernels().rowsTimesColumns;
  // P is symmetric: the rows of the product are the directions against its rows.
  product(y, m, nullptr, 0, workspace.directions, m, covarianceAfterPeriod(workspace, t), m, n, m, m);
  transposeCopy(workspace.transposedGains, gains, m, n);
  // Each F once, not once for every row before it: one division each.
  double *variances = workspace.seriesScalars;
  for (uint64_t q = 0; q < n; ++q) {
    variances[q] = flags[q] >= 0.5 ? 0.0 : 1.0 / workspace.reciprocalVariances[first + q];
  }
  constexpr uint64_t group = 4;
  double *alongGroup = workspace.pairs;                 // 4 rows of n
  double *coefficients = workspace.groupCoefficients;  // 4 rows of n
  for (uint64_t j0 = 0; j0 < n; j0 += group) {
    const uint64_t rows = n - j0 < group ? n - j0 : group;
    const uint64_t after = j0 + rows;
    // Against the gains from the group's first row on: those before it are not used.
    product(alongGroup + j0, n, nullptr, 0, workspace.directions + j0 * m, m, workspace.transposedGains + j0, n, rows,
            n - j0, m);
    for (uint64_t r = 0; r < rows; ++r) {
      for (uint64_t q = j0 + r; q < n; ++q) {
        coefficients[r * n + q] = flags[q] >= 0.5 ? 0.0 : variances[q] * alongGroup[r * n + q];
      }
      if (flags[j0 + r] >= 0.5) continue;
      double *yj = y + (j0 + r) * m;
      product(yj, 0, yj, 0, coefficients + r * n + j0 + r, 0, gains + (j0 + r) * m, m, 1, m, after - j0 - r);
    }
    if (after < n) {
      // A row passed over takes these terms too, and is not read.
      double *yGroup = y + j0 * m;
      product(yGroup, m, yGroup, m, coefficients + after, n, gains + after * m, m, rows, m, n - after);
    }
    for (uint64_t r = 0; r < rows; ++r) {
      if (flags[j0 + r] >= 0.5) continue;
      const double *yj = y + (j0 + r) * m;
      double *rowGradient = workspace.rowGradients + (j0 + r) * m;
      for (uint64_t i = 0; i < m; ++i) {
        rowGradient[i] = yj[i] + rowGradient[i];
      }
    }
  }
}

// Period t's records and outputs from its observation `first` on, with the
// measurement rows its updates took.
ObservationAdjointPeriod adjointPeriod(GradientWorkspace &workspace, uint64_t t, uint64_t first,
                                       const double *measurementRows) {
  const uint64_t n = workspace.model.n;
  const uint64_t m = workspace.model.m;
  const uint64_t o = t * n + first;
  return {workspace.observationGains + o * m,
          workspace.scaledInnovations + o,
          workspace.reciprocalVariances + o,
          workspace.skipFlags + o,
          measurementRows + first * m,
          workspace.directions + first * m,
          workspace.rowGradients + first * m,
          workspace.noiseGradients + first,
          workspace.innovationGradients + first,
          nullptr};  // P*dw added by the caller unless it says otherwise
}

// Adds to u_r, for the rows r from `first` to first + count - 1, the
// corrections of `used` rows of a block gone back over, the last first: for
// each such row i, (g_i*K_r)*c_i' and then (c_i*K_r)*g_i, as one sum of
// depth 2*used onto u_r, the bits of adding them row by row. c_i and g_i are
// the rows 2k and 2k + 1 of `stacked` (m each), g_i and c_i the columns 2k
// and 2k + 1 of `across` (m rows of `acrossStride`), so that K_r times
// `across` gives the coefficients of the rows of `stacked` in order; each
// one sum over the states, ascending (K_r*g_i has the bits of g_i*K_r).
void addCorrectionsOfRows(double *U, const double *gains, const double *stacked, const double *across,
                          uint64_t acrossStride, uint64_t used, uint64_t first, uint64_t count, uint64_t m,
                          double *coefficients) {
  const RowsTimesColumnsKernel product = denseKernels().rowsTimesColumns;
  product(coefficients, 2 * used, nullptr, 0, gains + first * m, m, across, acrossStride, count, 2 * used, m);
  double *rows = U + first * m;
  product(rows, m, rows, m, coefficients, 2 * used, stacked, m, count, m, 2 * used);
}

// Observation adjoints of a period for many states, with the corrections of
// the covariance adjoint M put off to the period's end: the steps of each
// used observation j (observationAdjointSteps) take u_j = M_{j+1}*K_j as M*K_j
// for the M after the period (the product of every gain with it at once)
// plus, in the order the observations after j are gone back over, last
// first, (g_i*K_j)*c_i' and then (c_i*K_j)*g_i for each later i (the two
// products of one sum of depth two, onto u_j). The rows go back in blocks:
// each used row takes those of the rows of its block above it just before its
// steps, and the rows below a block take those of all its used rows at its
// end (addCorrectionsOfRows), in the same order. At the end M(i, l) gains the
// sum over j of c_j(i)*g_j(l), then that of g_j(i)*c_j(l), j ascending,
// formed for i >= l and mirrored. Each sum one accumulator in ascending
// index, through the kernel, whose bits are the plain loops'. The first
// `count` rows of the period have records; `rowsAcross` holds the
// measurement rows transposed (m x count) when they are the model's own, and
// is null when they must be.
void goBackOverObservationsDeferred(GradientWorkspace &workspace, uint64_t t, const double *measurementRows,
                                    const double *rowsAcross, uint64_t count) {
  const uint64_t n = count;
  const uint64_t m = workspace.model.m;
  const ObservationAdjointPeriod period = adjointPeriod(workspace, t, 0, measurementRows);
  const RowsTimesColumnsKernel product = denseKernels().rowsTimesColumns;
  double *M = workspace.covarianceAdjoint;
  double *U = workspace.covarianceTimesDirections;
  // M is symmetric: its rows stand for its columns.
  product(U, m, nullptr, 0, period.gains, m, M, m, n, m, m);
  // With many states m > 2*block: the rows and columns of a block's c and g
  // fit in the m x m scratch blocks, its coefficients in n x m.
  constexpr uint64_t block = 8;
  static_assert(2 * block <= largestCompiledFixedSize);
  double *stacked = workspace.product;           // 2*block rows of m
  double *across = workspace.transitionProduct;  // m rows of 2*block
  double *coefficients = workspace.pairs;         // n rows of 2*block at most
  for (uint64_t end = n; end > 0;) {
    const uint64_t start = end > block ? end - block : 0;
    uint64_t used = 0;
    for (uint64_t j = end; j-- > start;) {
      if (period.skipFlags[j] >= 0.5) continue;
      double *g = U + j * m;
      if (used > 0) {
        addCorrectionsOfRows(U, period.gains, stacked, across, 2 * block, used, j, 1, m, coefficients);
      }
      observationAdjointSteps(workspace.stateAdjoint, workspace.state.x, period, j, m, g);
      workspace.recordsAhead.advance(12);
      const double *c = period.measurementRows + j * m;
      copyDoubles(stacked + 2 * used * m, c, m);
      copyDoubles(stacked + (2 * used + 1) * m, g, m);
      for (uint64_t q = 0; q < m; ++q) {
        across[q * 2 * block + 2 * used] = g[q];
        across[q * 2 * block + 2 * used + 1] = c[q];
      }
      ++used;
    }
    if (start > 0 && used > 0) {
      addCorrectionsOfRows(U, period.gains, stacked, across, 2 * block, used, 0, start, m, coefficients);
    }
    end = start;
  }
  // Rows passed over have no g.
  for (uint64_t j = 0; j < n; ++j) {
    if (period.skipFlags[j] >= 0.5) fillZeros(U + j * m, m);
  }
  if (rowsAcross == nullptr) {
    transposeCopy(workspace.transposedRows, period.measurementRows, m, n);
    rowsAcross = workspace.transposedRows;
  }
  transposeCopy(workspace.transposedHalves, U, m, n);
  constexpr uint64_t band = 8;
  for (uint64_t first = 0; first < m; first += band) {
    const uint64_t rows = m - first < band ? m - first : band;
    double *to = M + first * m;
    product(to, m, to, m, rowsAcross + first * n, n, U, m, rows, first + rows, n);
    product(to, m, to, m, workspace.transposedHalves + first * n, n, period.measurementRows, m, rows, first + rows, n);
  }
  mirrorLowerTriangle(M, m);
}

// Goes back over the observations of period t, last to first: the series its
// updates took (taken), decorrelated where they share noise. On entry the
// adjoints are those of the state after the period, on return those of its
// prediction; rowGradients, noiseGradients and innovationGradients receive
// the derivatives with respect to each taken row, noise variance and
// innovation start (zero for a row passed over). The state before each
// observation is the state after it less v*K; the covariance before it
// enters only through P*dw, formed for the whole period at its end
// (addCovarianceTimesDirections). In a period where the guard may have
// cleared a state, whose row then no longer holds what the update took from
// it, the covariance before each observation is formed instead by running
// the period's updates again from its prediction up to it, with the filter's
// own steps and so its bits and its decisions, and the adjoint of the
// covariance is cleared where the guard cleared the state.
void goBackOverObservations(GradientWorkspace &workspace, uint64_t t, const SeriesTaken &taken, const double *x0,
                            const double *P0) {
  StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  const uint64_t count = taken.count;
  const double *rows = taken.period.measurementRows;
  FilterState &state = workspace.state;
  // A row passed over has no derivatives, and no gain: the steps write those
  // of the others.
  for (uint64_t j = 0; j < n; ++j) {
    if (workspace.skipFlags[t * n + j] < 0.5) continue;
    fillZeros(workspace.directions + j * m, m);
    fillZeros(workspace.rowGradients + j * m, m);
    fillZeros(workspace.observationGains + (t * n + j) * m, m);
    workspace.noiseGradients[j] = 0.0;
    workspace.innovationGradients[j] = 0.0;
  }
  if (!mayHaveClearedAState(covarianceAfterPeriod(workspace, t), m)) {
    copyDoubles(state.x, stateAfterPeriod(workspace, t), m);
    if (m > largestCompiledFixedSize) {
      goBackOverObservationsDeferred(workspace, t, rows, taken.decorrelated ? nullptr : workspace.transposedMeasurement,
                                     count);
      addCovarianceTimesDirections(workspace, t, count);
      return;
    }
    // A few states: the steps take the covariance back with the updates
    // themselves and add each row's P*dw, in the P after the period made
    // whole, which nothing reads after them.
    ObservationAdjointPeriod period = adjointPeriod(workspace, t, 0, rows);
    period.covariance = covarianceAfterPeriodToChange(workspace, t);
    goBackOverObservationsOfPeriod(workspace.covarianceAdjoint, workspace.stateAdjoint, state.x, period, count, m,
                                   workspace.adjointTimesGain);
    return;
  }
  predictPeriodAgain(workspace, t, x0, P0);
  copyDoubles(state.x, stateAfterPeriod(workspace, t), m);
  copyDoubles(state.P, covarianceAfterPeriod(workspace, t), m * m);
  for (uint64_t j = count; j-- > 0;) {
    if (workspace.skipFlags[t * n + j] >= 0.5) {
      continue;  // passed over: it contributes nothing, and at F = tol nothing is asked
    }
    // x and P are the state after observation j.
    maskClearedStates(workspace.covarianceAdjoint, state.P, m);
    goBackOverObservationsOfPeriod(workspace.covarianceAdjoint, workspace.stateAdjoint, state.x,
                                   adjointPeriod(workspace, t, j, rows), 1, m, workspace.adjointTimesGain);
    copyDoubles(state.x, workspace.predictedState, m);
    copyDoubles(state.P, workspace.predictedCovariance, m * m);
    updateWithObservations(taken.y, taken.yStride, j, taken.period, model.tol, m, state, workspace.scratch,
                           taken.isMissing);
    vectorTimesRows(workspace.vector, workspace.directions + j * m, state.P, m);
    double *rowGradient = workspace.rowGradients + j * m;
    for (uint64_t i = 0; i < m; ++i) {
      rowGradient[i] = workspace.vector[i] + rowGradient[i];
    }
  }
}

// The derivatives with respect to period t's rows into C's output: a paged
// C's page t, or the sums of a constant C in rowGradientSums (transposed
// once at the end).
void addRowGradients(GradientWorkspace &workspace, uint64_t t, const GradientOutputs &outputs) {
  const StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  if (outputs.C == nullptr) {
    return;
  }
  if (changesByPeriod(model.C)) {
    double *C = outputs.C + t * n * m;
    for (uint64_t j = 0; j < n; ++j) {
      for (uint64_t l = 0; l < m; ++l) {
        C[j + l * n] = workspace.rowGradients[j * m + l];
      }
    }
  } else {
    for (uint64_t e = 0; e < n * m; ++e) {
      workspace.rowGradientSums[e] = workspace.rowGradientSums[e] + workspace.rowGradients[e];
    }
  }
}

// B, C and D given as one matrix: 2*(sum of the adjoints of B*B')*B, the
// sums of C's rows, and D's from its sums when they are kept.
void finishConstantGradients(GradientWorkspace &workspace, const GradientOutputs &outputs) {
  const StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  if (outputs.C != nullptr && !changesByPeriod(model.C)) {
    transposeCopy(outputs.C, workspace.rowGradientSums, m, n);
  }
  if (outputs.B != nullptr && !changesByPeriod(model.B)) {
    stateNoiseLoadingGradient(outputs.B, workspace.stateNoiseAdjoint, model.B.data, m, model.k);
  }
  if (outputs.D != nullptr && workspace.noiseCovarianceSums != nullptr) {
    finishNoiseGradient(workspace, outputs.D);
  }
}

}  // namespace

void runBackwardPass(GradientWorkspace &workspace, const double *Y, const double *x0, const double *P0,
                     const GradientOutputs &outputs, MissingTest isMissing) {
  StateSpaceModel &model = workspace.model;
  const uint64_t T = model.T;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  if (T == 0 || n == 0) {
    return;  // nothing depends on the inputs: every derivative is the zero the outputs hold
  }
  workspace.wholeCovariancePeriods[0] = workspace.wholeCovariancePeriods[1] = T;
  fillZeros(workspace.stateAdjoint, m);
  fillZeros(workspace.covarianceAdjoint, m * m);
  fillZeros(workspace.stateNoiseAdjoint, m * m);
  if (workspace.noiseCovarianceSums != nullptr) {
    fillZeros(workspace.noiseCovarianceSums, n * n);
  }
  fillZeros(workspace.rowGradientSums, n * m);
  const uint64_t diffusePeriods = workspace.diffuseEnds.periods;
  if (diffusePeriods > 0) {
    fillZeros(workspace.diffuseAdjoint.infiniteAdjoint, m * m);
  }
  const TransitionAdjointScratch transitionScratch{workspace.transitionProduct, workspace.product, workspace.vector};
  const bool changes = changesByPeriod(model);
  const bool wantsNoise = outputs.D != nullptr;
  for (uint64_t t = T; t-- > 0;) {
    if (t > 1) {
      // The records of the period after the next, as the smoother's way back
      // does, once those of the period before are all asked for. With many
      // states a few lines go after each observation gone back over.
      LinesAhead &ahead = workspace.recordsAhead;
      ahead.advance(LinesAhead::every);
      ahead.ask(0, workspace.filteredCovariances + (t - 2) * lowerTriangleCount(m), lowerTriangleCount(m));
      ahead.ask(1, workspace.observationGains + (t - 2) * n * m, n * m);
      if (m <= largestCompiledFixedSize) ahead.advance(LinesAhead::every);
    }
    // A's rows as well as its columns: the way back reads both.
    if (t + 1 == T || changes) {
      preparePeriod(model, t, transitionRowsForm | filteringForms, t + 1 == T);
      if (m > largestCompiledFixedSize && (t + 1 == T || changesByPeriod(model.C))) {
        transposeCopy(workspace.transposedMeasurement, model.period.measurementRows, model.m, n);
      }
    }
    // The series the way forward took, decorrelated again where they share noise.
    const SeriesTaken taken = seriesTaken(model, Y + t, T, isMissing, workspace.decorrelation, nullptr);
    const bool diffusePeriod = t < diffusePeriods;
    if (diffusePeriod) {
      goBackOverDiffusePeriod(workspace, t, taken, x0, P0);
    } else {
      goBackOverObservations(workspace, t, taken, x0, P0);
    }
    if (outputs.C != nullptr || wantsNoise) {
      goBackThroughDecorrelation(workspace, taken, wantsNoise);
    }
    addRowGradients(workspace, t, outputs);
    if (wantsNoise) {
      addNoiseGradients(workspace, t, taken, outputs.D + (changesByPeriod(model.D) ? t * n * model.h : 0));
    }
    // The state and covariance the prediction started from.
    if (diffusePeriod) {
      DiffuseAdjoint &back = workspace.diffuseAdjoint;
      diffusePeriodStart(workspace, t, x0, P0, back.stateBefore, back.covarianceBefore, back.infiniteBefore);
      goBackOverPrediction(workspace, t, back.stateBefore, back.covarianceBefore, t == 0, outputs, transitionScratch,
                           back.infiniteBefore);
    } else {
      goBackOverPrediction(workspace, t, t == 0 ? x0 : stateAfterPeriod(workspace, t - 1),
                           t == 0 ? P0 : covarianceAfterPeriod(workspace, t - 1), t == 0, outputs, transitionScratch);
    }
  }
  finishConstantGradients(workspace, outputs);
  if (outputs.x0 != nullptr) {
    copyDoubles(outputs.x0, workspace.stateAdjoint, m);
  }
  if (outputs.P0 != nullptr) {
    copyDoubles(outputs.P0, workspace.covarianceAdjoint, m * m);
    // A diffuse state's row and column of P0 are not read: its variance is
    // +inf by its mark, the rest zero.
    for (uint64_t i = 0; i < m; ++i) {
      if (P0[i + i * m] != std::numeric_limits<double>::infinity()) continue;
      for (uint64_t l = 0; l < m; ++l) {
        outputs.P0[l + i * m] = 0.0;
        outputs.P0[i + l * m] = 0.0;
      }
    }
  }
}
