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
#include "diffuse_start.h"
#include "reference_steps.h"

#include <cstdint>

// Steps of at most this many terms take the plain loops inline, which give
// the kernels' bits: for the local level model's single draw a kernel's call
// would cost more than the arithmetic.
inline constexpr uint64_t fewTerms = 8;

// What the covariance pass kept of the n series of one period.
struct PeriodRecords {
  const double *gains;        // K of a used series j at gains + j*m; K0 of a diffuse step
  const double *reciprocals;  // 1/F of a used series; 1/F_inf of a diffuse step
  const double *skipFlags;    // 1.0 for a series passed over, diffuseStepFlag for a diffuse step, else 0.0
  // A used series whose F_inf is zero, or one after the diffuse phase.
  bool used(uint64_t j) const { return skipFlags[j] < 0.5; }
  bool diffuseStep(uint64_t j) const { return skipFlags[j] == diffuseStepFlag; }
  // The way forward takes both alike: x <- x + K*v, (1/F)*v kept, with K0
  // and 1/F_inf for a diffuse step.
  bool updatesMeans(uint64_t j) const { return used(j) || diffuseStep(j); }
};

// Forward, after the period's prediction of `deviations` (m rows of lanes,
// `stride` apart): each used series j in ascending order, and each diffuse
// step, corrects them with its innovations, which start from row j of
// `starts` (n lanes), and leaves (1/F)*v in row j of `scaled` (n lanes); the
// rows of series passed over are not written.
template <typename StateCount, typename LaneCount>
inline void updateDrawMeansOfPeriod(const PeriodRecords &records, const double *measurementRows, uint64_t n,
                                    StateCount m, double *deviations, uint64_t stride, const double *starts,
                                    double *scaled, LaneCount lanes) {
  const bool few = m * lanes <= fewTerms;
  for (uint64_t j = 0; j < n; ++j) {
    if (!records.updatesMeans(j)) continue;
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

// Backward through a period of the diffuse phase, each series from the last
// to the first, r0 (`cumulants`) and r1 (`laterCumulants`) m lanes each, with
// K1 of series j at gainCorrections + j*m and s its row of `scaled`. Per
// draw, with every product one sum from 0.0 in ascending state, formed before
// either vector changes:
// - a used series (F_inf zero), a0 = K'r0, a1 = K'r1: r0_i <- c_i*(s - a0) +
//   r0_i, as after the phase; r1_i <- r1_i - c_i*a1, which is L'r1;
// - a diffuse step, a0 = K0'r0, a1 = K0'r1, b = K1'r0: r1_i <- c_i*((s - a1)
//   - b) + r1_i, which is c'*((1/F_inf)*v) + L0'r1 + L1'r0 with L1 = -K1*c;
//   r0_i <- r0_i - c_i*a0, which is L0'r0.
// Plain loops, the same on every kernel path: the phase lasts a few periods.
template <typename StateCount, typename LaneCount>
inline void carryDrawCumulantsOfDiffusePeriod(const PeriodRecords &records, const double *gainCorrections,
                                              const double *measurementRows, uint64_t n, StateCount m,
                                              double *cumulants, double *laterCumulants, const double *scaled,
                                              LaneCount lanes) {
  for (uint64_t j = n; j-- > 0;) {
    if (!records.updatesMeans(j)) continue;
    const bool diffuse = records.diffuseStep(j);
    const double *c = measurementRows + j * m;
    const double *K = records.gains + j * m;
    const double *K1 = gainCorrections + j * m;
    for (uint64_t l = 0; l < lanes; ++l) {
      double *r0 = cumulants + l;
      double *r1 = laterCumulants + l;
      double a0 = 0.0, a1 = 0.0, b = 0.0;
      for (uint64_t i = 0; i < m; ++i) a0 += K[i] * r0[i * lanes];
      for (uint64_t i = 0; i < m; ++i) a1 += K[i] * r1[i * lanes];
      if (!diffuse) {
        const double g = scaled[j * lanes + l] - a0;
        for (uint64_t i = 0; i < m; ++i) r0[i * lanes] = c[i] * g + r0[i * lanes];
        for (uint64_t i = 0; i < m; ++i) r1[i * lanes] = r1[i * lanes] - c[i] * a1;
        continue;
      }
      for (uint64_t i = 0; i < m; ++i) b += K1[i] * r0[i * lanes];
      const double g = (scaled[j * lanes + l] - a1) - b;
      for (uint64_t i = 0; i < m; ++i) r1[i * lanes] = c[i] * g + r1[i * lanes];
      for (uint64_t i = 0; i < m; ++i) r0[i * lanes] = r0[i * lanes] - c[i] * a0;
    }
  }
}
