#include "forward_pass.h"

#include "dense_products.h"
#include "measurement_update.h"
#include "model_preparation.h"
#include "time_update.h"

#include <algorithm>
#include <cstring>

namespace {

void preparePagedCoefficients(const SmootherModel &model, uint64_t t, PreparedModel &prepared) {
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  if (model.A.paged) {
    prepareTransitionForms(prepared, coefficientOfPeriod(model.A, t, m * m), m);
  }
  if (model.B.paged) {
    prepareStateNoise(prepared.stateNoiseCov, coefficientOfPeriod(model.B, t, m * model.k), m, model.k);
  }
  if (model.C.paged) {
    prepareMeasurement(prepared.measurementRows, coefficientOfPeriod(model.C, t, n * m), n, m);
  }
  if (model.D.paged) {
    prepareObservationNoise(prepared.observationNoiseVar, coefficientOfPeriod(model.D, t, n * model.h), n,
                            model.h);
  }
}

// Period t+1's state is A_{t+1}*x_t, so r must go back from period t+1 to
// period t through A_{t+1}', not through the A_t that predicted period t.
// That matrix is only prepared at the start of period t+1, so the last record
// of a period holds L (or I) until then and is completed here, with the
// transition in transitionRows. Records are stored row by row, the layout of
// transitionRows, so that the way back reads them along rows.
void foldTransitionIntoRecord(const double *transitionRows, uint64_t m, double skipFlag, double *transfer,
                              double *product) {
  const size_t bytes = m * m * sizeof(double);
  if (m == 0) {
    return;
  }
  if (skipFlag >= 0.5) {
    // The record holds I: it becomes the transition itself, copied, since a
    // product with I would turn an infinite element into NaN.
    std::memcpy(transfer, transitionRows, bytes);
    return;
  }
  rowsTimesRows(product, transitionRows, transfer, m);
  std::memcpy(transfer, product, bytes);
}

void recordPassedOver(const double *identity, uint64_t m, double *transfer, double *score, double *skipFlag) {
  for (uint64_t e = 0; e < m * m; ++e) {
    transfer[e] = identity[e];
  }
  for (uint64_t l = 0; l < m; ++l) {
    score[l] = 0.0;
  }
  *skipFlag = 1.0;
}

void recordUsed(const double *identity, const double *gain, const double *measurementRow, UsedObservation used,
                uint64_t m, double *updateMatrix, double *transfer, double *score) {
  // L = I - K*c, row i from K_i and the row c.
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l < m; ++l) {
      updateMatrix[i * m + l] = identity[i * m + l] - gain[i] * measurementRow[l];
    }
  }
  for (uint64_t e = 0; e < m * m; ++e) {
    transfer[e] = updateMatrix[e];
  }
  const double scaledInnovation = used.reciprocal * used.innovation;
  for (uint64_t l = 0; l < m; ++l) {
    score[l] = scaledInnovation * measurementRow[l];
  }
}

// The updates of period t for a model that usesFixedSizeSteps: the series go
// to the kernel in runs, with the same starts, tests and sums as one by one,
// and are recorded after it from the gains it returns.
void updateAndRecordOfFixedSize(const SmootherModel &model, uint64_t t, SmootherWorkspace &workspace,
                                MissingTest isMissing) {
  constexpr uint64_t run = fixedSizeRunLength;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  const PreparedModel &prepared = workspace.model;
  const FixedAssimilateKernel assimilate = denseKernels().assimilateFixed[m];
  for (uint64_t first = 0; first < n; first += run) {
    const uint64_t count = std::min(run, n - first);
    double starts[run];
    bool present[run];
    ObservationOutcome outcomes[run];
    double gains[run * largestFixedSize];
    for (uint64_t j = 0; j < count; ++j) {
      const uint64_t o = t * n + first + j;
      // Missing means a NaN observation; a NaN mean is used and spreads.
      present[j] = !isMissing(workspace.observationsByPeriod[o]);
      starts[j] = workspace.observationsByPeriod[o] - workspace.meanObservations[o];
    }
    assimilate(workspace.state.x, workspace.state.P, starts, present, count, prepared.measurementRows + first * m,
               prepared.observationNoiseVar + first, model.tol, outcomes, gains);
    for (uint64_t j = 0; j < count; ++j) {
      const uint64_t o = t * n + first + j;
      double *transfer = workspace.transferMatrices + o * m * m;
      double *score = workspace.scoreVectors + o * m;
      if (!outcomes[j].used) {
        recordPassedOver(workspace.identityMatrix, m, transfer, score, workspace.skipFlags + o);
        continue;
      }
      const UsedObservation used{outcomes[j].innovation, outcomes[j].reciprocal};
      recordUsed(workspace.identityMatrix, gains + j * m, prepared.measurementRows + (first + j) * m, used, m,
                 workspace.updateMatrix, transfer, score);
    }
  }
}

}  // namespace

void runForwardPass(const SmootherModel &model, SmootherWorkspace &workspace, MissingTest isMissing) {
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  const uint64_t mm = m * m;
  PreparedModel &prepared = workspace.model;
  FilterState &state = workspace.state;
  for (uint64_t t = 0; t < model.T; ++t) {
    preparePagedCoefficients(model, t, prepared);
    if (t > 0 && n > 0) {
      const uint64_t last = t * n - 1;
      foldTransitionIntoRecord(prepared.transitionRows, m, workspace.skipFlags[last],
                               workspace.transferMatrices + last * mm, workspace.transitionUpdateMatrix);
    }
    predictState(state, prepared, workspace.scratch, m);
    for (uint64_t i = 0; i < m; ++i) {
      workspace.predictedStates[t * m + i] = state.x[i];
    }
    for (uint64_t e = 0; e < mm; ++e) {
      workspace.predictedCovariances[t * mm + e] = state.P[e];
    }
    if (usesFixedSizeSteps(m)) {
      updateAndRecordOfFixedSize(model, t, workspace, isMissing);
      continue;
    }
    for (uint64_t j = 0; j < n; ++j) {
      const uint64_t o = t * n + j;
      const double y = workspace.observationsByPeriod[o];
      const double mean = workspace.meanObservations[o];
      const double *measurementRow = prepared.measurementRows + j * m;
      double *transfer = workspace.transferMatrices + o * mm;
      double *score = workspace.scoreVectors + o * m;
      // Missing means a NaN observation; a NaN mean is used and spreads.
      if (isMissing(y)) {
        recordPassedOver(workspace.identityMatrix, m, transfer, score, workspace.skipFlags + o);
        continue;
      }
      const double F = innovationVariance(measurementRow, prepared.observationNoiseVar[j], state.P, m,
                                          workspace.scratch.covTimesRow);
      if (F <= model.tol) {  // ordered: a NaN F or tol is used
        recordPassedOver(workspace.identityMatrix, m, transfer, score, workspace.skipFlags + o);
        continue;
      }
      const UsedObservation used = assimilateObservation(y - mean, F, measurementRow, m, state, workspace.scratch);
      recordUsed(workspace.identityMatrix, workspace.scratch.gain, measurementRow, used, m, workspace.updateMatrix,
                 transfer, score);
    }
  }
  // The last period has no successor: r enters it as zeros, and its record
  // keeps the period's own transition.
  if (model.T > 0 && n > 0) {
    const uint64_t last = model.T * n - 1;
    foldTransitionIntoRecord(prepared.transitionRows, m, workspace.skipFlags[last],
                             workspace.transferMatrices + last * mm, workspace.transitionUpdateMatrix);
  }
}
