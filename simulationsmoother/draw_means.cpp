#include "draw_means.h"

#include "dense_kernels.h"

namespace {

bool usedSeries(const PeriodRecords &records, uint64_t j) { return records.skipFlags[j] < 0.5; }

}  // namespace

void updateDrawMeansOfPeriod(const PeriodRecords &records, const double *measurementRows, uint64_t n, uint64_t m,
                             double *deviations, const double *starts, double *scaled, uint64_t lanes) {
  const CorrectDrawMeansKernel correct = denseKernels().correctDrawMeans;
  for (uint64_t j = 0; j < n; ++j) {
    if (!usedSeries(records, j)) continue;
    correct(deviations, lanes, starts + j * lanes, measurementRows + j * m, records.gains + j * m,
            records.reciprocals[j], scaled + j * lanes, m, lanes);
  }
}

void carryDrawCumulantsOfPeriod(const PeriodRecords &records, const double *measurementRows, uint64_t n, uint64_t m,
                                double *cumulants, const double *scaled, uint64_t lanes) {
  const CarryDrawCumulantsKernel carry = denseKernels().carryDrawCumulants;
  for (uint64_t j = n; j-- > 0;) {
    if (!usedSeries(records, j)) continue;
    carry(cumulants, lanes, scaled + j * lanes, measurementRows + j * m, records.gains + j * m, m, lanes);
  }
}
