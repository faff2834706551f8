// The mean recursions of one period for a block of draws side by side: what
// every draw runs of the smoother, the covariances, gains and which
// observations are passed over being the covariance pass's, shared by all.
//
// A block's lanes: element (row, l) at row*lanes + l, lane l one draw. Both
// steps take the period's measurement rows and its series' starts as they
// are given, so a period whose series are transformed first goes through
// them unchanged.
#pragma once

#include <cstdint>

// What the covariance pass kept of the n series of one period.
struct PeriodRecords {
  const double *gains;        // K of a used series j at gains + j*m
  const double *reciprocals;  // 1/F of a used series
  const double *skipFlags;    // 1.0 for a series passed over, else 0.0
};

// Forward, after the period's prediction of `deviations` (m lanes): each used
// series j in ascending order corrects them with its innovations, which
// start from row j of `starts` (n lanes), and leaves (1/F)*v in row j of
// `scaled` (n lanes); the rows of series passed over are not written.
void updateDrawMeansOfPeriod(const PeriodRecords &records, const double *measurementRows, uint64_t n, uint64_t m,
                             double *deviations, const double *starts, double *scaled, uint64_t lanes);

// Backward, each used series from the last to the first: r <- L'r + c'*s,
// with s its row of `scaled`; `cumulants` is r (m lanes).
void carryDrawCumulantsOfPeriod(const PeriodRecords &records, const double *measurementRows, uint64_t n, uint64_t m,
                                double *cumulants, const double *scaled, uint64_t lanes);
