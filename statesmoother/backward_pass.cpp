#include "backward_pass.h"

#include "dense_products.h"

void runBackwardPass(uint64_t T, uint64_t n, uint64_t m, SmootherWorkspace &workspace) {
  const uint64_t mm = m * m;
  double *r = workspace.smoothingCumulant;
  double *previous = workspace.scratch.stateCopy;
  for (uint64_t t = T; t-- > 0;) {
    for (uint64_t j = n; j-- > 0;) {
      const uint64_t o = t * n + j;
      const double *transfer = workspace.transferMatrices + o * mm;
      for (uint64_t l = 0; l < m; ++l) {
        previous[l] = r[l];
      }
      // r = M'q, with M stored row by row: q against the rows of M. Always
      // multiplied, also for an identity record: the arithmetic must not
      // depend on what a record happens to hold.
      vectorTimesRows(r, previous, transfer, m);
      if (workspace.skipFlags[o] < 0.5) {
        const double *score = workspace.scoreVectors + o * m;
        for (uint64_t i = 0; i < m; ++i) {
          r[i] = r[i] + score[i];
        }
      }
    }
    // P_t is symmetric, so its rows stand for its columns; the sum is
    // complete before the prediction is added to it.
    const double *covariance = workspace.predictedCovariances + t * mm;
    double *deviation = workspace.predictedStates + t * m;
    double *covarianceTimesR = previous;
    vectorTimesRows(covarianceTimesR, r, covariance, m);
    for (uint64_t i = 0; i < m; ++i) {
      deviation[i] = covarianceTimesR[i] + deviation[i];
    }
  }
}
