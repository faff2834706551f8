// The mean recursions of one period for a block of draws side by side: what
// every draw runs of the smoother, the covariances, gains and which
// observations are passed over being the covariance pass's, shared by all.
//
// A block's lanes: element (row, l) at row*lanes + l, lane l one draw. Both
// steps take the period's measurement rows and its series' starts as they
// are given, so a period whose series are transformed first goes through
// them unchanged.
//
// Inline templates: m and the lane count may be constants, 1 for the local
// level model's single draw, whose steps then compile to a few instructions.
#pragma once

#include "dense_kernels.h"
#include "reference_steps.h"

#include <cstdint>

// Steps of at most this many terms take the plain loops inline, which give
// the kernels' bits: for the local level model's single draw a kernel's call
// would cost more than the arithmetic.
inline constexpr uint64_t fewTerms = 8;

// What the covariance pass kept of the n series of one period.
struct PeriodRecords {
  const double *gains;        // K of a used series j at gains + j*m
  const double *reciprocals;  // 1/F of a used series
  const double *skipFlags;    // 1.0 for a series passed over, else 0.0
  bool used(uint64_t j) const { return skipFlags[j] < 0.5; }
};

// Forward, after the period's prediction of `deviations` (m rows of lanes,
// `stride` apart): each used series j in ascending order corrects them with
// its innovations, which start from row j of `starts` (n lanes), and leaves
// (1/F)*v in row j of `scaled` (n lanes); the rows of series passed over are
// not written.
template <typename StateCount, typename LaneCount>
inline void updateDrawMeansOfPeriod(const PeriodRecords &records, const double *measurementRows, uint64_t n,
                                    StateCount m, double *deviations, uint64_t stride, const double *starts,
                                    double *scaled, LaneCount lanes) {
  const bool few = m * lanes <= fewTerms;
  for (uint64_t j = 0; j < n; ++j) {
    if (!records.used(j)) continue;
    const double *c = measurementRows + j * m;
    const double *K = records.gains + j * m;
    if (few) {
      correctDrawMeansReference(deviations, stride, starts + j * lanes, c, K, records.reciprocals[j],
                                scaled + j * lanes, m, lanes);
    } else {
      denseKernels().correctDrawMeans(deviations, stride, starts + j * lanes, c, K, records.reciprocals[j],
                                      scaled + j * lanes, m, lanes);
    }
  }
}

// Backward, each used series from the last to the first: r <- L'r + c'*s,
// with s its row of `scaled`; `cumulants` is r (m lanes).
template <typename StateCount, typename LaneCount>
inline void carryDrawCumulantsOfPeriod(const PeriodRecords &records, const double *measurementRows, uint64_t n,
                                       StateCount m, double *cumulants, const double *scaled, LaneCount lanes) {
  const bool few = m * lanes <= fewTerms;
  for (uint64_t j = n; j-- > 0;) {
    if (!records.used(j)) continue;
    const double *c = measurementRows + j * m;
    const double *K = records.gains + j * m;
    if (few) {
      carryDrawCumulantsReference(cumulants, lanes, scaled + j * lanes, c, K, m, lanes);
    } else {
      denseKernels().carryDrawCumulants(cumulants, lanes, scaled + j * lanes, c, K, m, lanes);
    }
  }
}
