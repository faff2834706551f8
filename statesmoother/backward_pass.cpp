#include "backward_pass.h"

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
      // Always multiplied, also for an identity record: the arithmetic must
      // not depend on what a record happens to hold.
      for (uint64_t i = 0; i < m; ++i) {
        double s = 0.0;
        for (uint64_t l = 0; l < m; ++l) {
          s += previous[l] * transfer[l + i * m];
        }
        r[i] = s;
      }
      if (workspace.skipFlags[o] < 0.5) {
        const double *score = workspace.scoreVectors + o * m;
        for (uint64_t i = 0; i < m; ++i) {
          r[i] = r[i] + score[i];
        }
      }
    }
    // P_t is symmetric, so its column i stands for row i of P_t*r.
    const double *covariance = workspace.predictedCovariances + t * mm;
    double *deviation = workspace.predictedStates + t * m;
    for (uint64_t i = 0; i < m; ++i) {
      double s = 0.0;
      for (uint64_t l = 0; l < m; ++l) {
        s += r[l] * covariance[l + i * m];
      }
      deviation[i] = s + deviation[i];
    }
  }
}
