#include "backward_pass.h"

#include "dense_products.h"

#include <algorithm>

namespace {

// The records are read in the reverse of the order they were written, and the
// hardware does not fetch far enough ahead along that way: each record's lines
// are asked for about this many bytes before the pass reaches them.
constexpr uint64_t prefetchDistanceBytes = 16384;

void prefetchRecord(const double *record, uint64_t doubles) {
  const char *bytes = reinterpret_cast<const char *>(record);
  for (uint64_t offset = 0; offset < doubles * sizeof(double); offset += 64) {
    __builtin_prefetch(bytes + offset);
  }
}

}  // namespace

void runBackwardPass(uint64_t T, uint64_t n, uint64_t m, SmootherWorkspace &workspace) {
  const uint64_t mm = m * m;
  const uint64_t recordBytes = std::max<uint64_t>(mm * sizeof(double), 1);
  const uint64_t recordsAhead = std::max<uint64_t>(prefetchDistanceBytes / recordBytes, 1);
  double *r = workspace.smoothingCumulant;
  double *previous = workspace.scratch.stateCopy;
  for (uint64_t t = T; t-- > 0;) {
    for (uint64_t j = n; j-- > 0;) {
      const uint64_t o = t * n + j;
      const double *transfer = workspace.transferMatrices + o * mm;
      if (o >= recordsAhead) {
        prefetchRecord(workspace.transferMatrices + (o - recordsAhead) * mm, mm);
      }
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
