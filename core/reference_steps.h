// The plain loops of the steps that have fast kernels. They define the
// results: every fast path must give their bits, and the tests hold it to
// that on odd sizes and special values.
#pragma once

#include "filter_types.h"

#include <cstdint>

// x <- A*x, P <- A*P*A' + B*B', P read by columns (it may be asymmetric).
void predictStateReference(FilterState state, const PreparedModel &model, FilterScratch scratch, uint64_t m);

// w_i = sum over s of P(s, i)*c(s).
void covTimesRowReference(double *covTimesRow, const double *measurementRow, const double *P, uint64_t m);

// P <- P - K*w', lower triangle mirrored, in ascending columns; a column whose
// diagonal falls to zero or below is cleared with its row.
void downdateCovarianceReference(double *P, const double *covTimesRow, const double *gain, uint64_t m);
