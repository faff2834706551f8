#include "backward_pass.h"

#include "dense_products.h"
#include "diffuse_smoothing.h"
#include "model_preparation.h"

namespace {

// L = I - K*c row by row, every element as the forward step of the used
// observation would have formed it.
void formUpdateMatrix(double *L, const double *identity, const double *K, const double *c, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l < m; ++l) {
      L[i * m + l] = identity[i * m + l] - K[i] * c[l];
    }
  }
}

// r <- r + c'*((1/F)*v), element l of the score formed as ((1/F)*v)*c(l).
void addScore(double *r, double scaledInnovation, const double *c, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    r[i] = r[i] + scaledInnovation * c[i];
  }
}

void prefetchPeriod(const SmootherWorkspace &workspace, uint64_t t) {
  const StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  prefetchDoubles(workspace.predictedCovariances + t * lowerTriangleCount(m), lowerTriangleCount(m));
  prefetchDoubles(workspace.observationGains + t * n * m, n * m);
  if (changesByPeriod(model.A)) {
    prefetchDoubles(pageOfPeriod(model.A, t).data, m * m);
  }
  if (changesByPeriod(model.C)) {
    prefetchDoubles(pageOfPeriod(model.C, t).data, n * m);
  }
}

// The period whose transition leads out of period t: the next, or the last
// period itself, which has no successor.
uint64_t outgoingPeriod(const StateSpaceModel &model, uint64_t t) { return t + 1 < model.T ? t + 1 : t; }

// Compiled twice: without the covariances, the way back of the means is the
// same code as if they did not exist.
template <bool withCovariances>
[[gnu::noinline]] void carryBack(SmootherWorkspace &workspace, const SmoothedCovarianceWorkspace *covariances,
                                 MissingTest isMissing) {
  StateSpaceModel &model = workspace.model;
  const uint64_t T = model.T;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  const uint64_t mm = m * m;
  const double *transitionRows = model.period.transitionRows;
  double *r = workspace.smoothingCumulant;
  double *previous = workspace.scratch.stateCopy;
  const bool changes = changesByPeriod(model);
  // The periods of a diffuse phase take their own way back, after this one.
  const uint64_t firstPeriod = workspace.diffuseRecords.periods;
  for (uint64_t t = T; t-- > firstPeriod;) {
    if (t > 0) {
      prefetchPeriod(workspace, t - 1);
    }
    // Period t+1's state is A_{t+1}*x_t, so r goes back from period t+1 to
    // period t through A_{t+1}', not through the A_t that predicted period t;
    // the last period, with no successor, keeps its own.
    if (changes) {
      preparePeriod(model, outgoingPeriod(model, t), transitionRowsForm);
      preparePeriod(model, t, measurementForm | observationNoiseForm);
    }
    const double *measurementRows = measurementRowsTaken(workspace, t, isMissing);
    for (uint64_t j = n; j-- > 0;) {
      const uint64_t o = t * n + j;
      const double *measurementRow = measurementRows + j * m;
      const bool used = workspace.skipFlags[o] < 0.5;
      for (uint64_t l = 0; l < m; ++l) {
        previous[l] = r[l];
      }
      const double *gain = workspace.observationGains + o * m;
      const double scaledInnovation = used ? workspace.scaledInnovations[o] : 0.0;  // written for used ones only
      if (j + 1 < n) {
        if (used) {
          cumulantThroughUpdate(r, previous, gain, measurementRow, scaledInnovation, m);
          if constexpr (withCovariances) {
            carryInformationThroughUpdate(covariances->information, gain, measurementRow,
                                          covariances->reciprocalVariances[o], covariances->informationTimesGain, m);
          }
        } else {
          // r is multiplied by I all the same: the arithmetic must not
          // depend on what a transfer matrix happens to hold. N stays as it
          // is: I'*N*I is N.
          vectorTimesRows(r, previous, workspace.identityMatrix, m);
        }
        continue;
      }
      if constexpr (withCovariances) {
        carryInformationThroughTransition(covariances->information, transitionRows,
                                          pageOfPeriod(model.A, outgoingPeriod(model, t)).data, covariances->product, m);
        if (used) {
          carryInformationThroughUpdate(covariances->information, gain, measurementRow,
                                        covariances->reciprocalVariances[o], covariances->informationTimesGain, m);
        }
      }
      if (used) {
        formUpdateMatrix(workspace.updateMatrix, workspace.identityMatrix, gain, measurementRow, m);
        rowsTimesRows(workspace.transitionUpdateMatrix, transitionRows, workspace.updateMatrix, m);
        vectorTimesRows(r, previous, workspace.transitionUpdateMatrix, m);
        addScore(r, scaledInnovation, measurementRow, m);
      } else {
        // The transition itself, not its product with I, which would turn an
        // infinite element into NaN.
        vectorTimesRows(r, previous, transitionRows, m);
      }
    }
    // P_t is symmetric, so its rows stand for its columns; the sum is
    // complete before the prediction is added to it. The prediction's scratch
    // is free on the way back.
    double *covariance = workspace.scratch.transitionTimesCov;
    restoreSymmetric(covariance, workspace.predictedCovariances + t * lowerTriangleCount(m), m);
    double *deviation = workspace.predictedStates + t * m;
    double *covarianceTimesR = previous;
    vectorTimesRows(covarianceTimesR, r, covariance, m);
    for (uint64_t i = 0; i < m; ++i) {
      deviation[i] = covarianceTimesR[i] + deviation[i];
    }
    if constexpr (withCovariances) {
      writeSmoothedCovariance(covariances->out + t * mm, covariance, covariances->information, covariances->product,
                              covariances->secondProduct, m);
    }
  }
}

}  // namespace

void runBackwardPass(SmootherWorkspace &workspace, MissingTest isMissing,
                     const SmoothedCovarianceWorkspace *covariances) {
  if (covariances != nullptr) {
    carryBack<true>(workspace, covariances, isMissing);
  } else {
    carryBack<false>(workspace, nullptr, isMissing);
  }
  if (workspace.diffuseRecords.periods > 0) {
    carryBackThroughDiffusePhase(workspace, covariances, isMissing);
  }
}
