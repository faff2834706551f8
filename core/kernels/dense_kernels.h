// Products over raw arrays, vectorised across independent sums and chosen at
// run time for the processor. Every output element is still one accumulator
// that adds its terms in ascending index, with a separate multiply and add,
// so every path gives the bits of the plain loops.
#pragma once

#include "filter_types.h"

#include <cstdint>

// out[r*outStride + l] = init[r*initStride + l] + sum over q < depth of
// a[r*aStride + q] * b[q*bStride + l], for r < rows and l < lanes; a null init
// starts every sum from 0.0. Each row of `a` is broadcast against rows of `b`,
// so the lanes of one output row are computed side by side.
using RowsTimesColumnsKernel = void (*)(double *out, uint64_t outStride, const double *init, uint64_t initStride,
                                        const double *a, uint64_t aStride, const double *b, uint64_t bStride,
                                        uint64_t rows, uint64_t lanes, uint64_t depth);

// The rank-one correction of a symmetric covariance by one used observation:
// element (l, i) of the column-major m x m P becomes P(l, i) - w_l*K_i above
// the diagonal and P(l, i) - w_i*K_l on and below it, the products a
// sequential update would form, so the result is exactly symmetric.
using SymmetricDowndateKernel = void (*)(double *P, const double *w, const double *K, uint64_t m);

// symmetricDowndate, and with it w for the next series of the period from the
// corrected P: next_l = sum over i of P(l, i)*nextRow(i), i ascending, the
// sum of covTimesRowReference. A state whose variance the correction leaves
// at or below zero is the caller's to clear, and then `next` no longer
// describes P. `next` may be w or K: it is written after their last read. For
// m from DenseKernels::smallestFusedSize (one vector) to largestFusedSize.
using DowndateWithNextKernel = void (*)(double *P, const double *w, const double *K, const double *nextRow,
                                        double *next, uint64_t m);

// The smoothing cumulant carried back through a used observation with gain K,
// measurement row c and s = (1/F)*v: out_i = (sum over l of q_l*L(l, i)) +
// s*c_i, with L(l, i) = I(l, i) - K_l*c_i formed as the update forms the
// elements of L = I - K*c, and each sum in ascending l from 0.0.
using CumulantThroughUpdateKernel = void (*)(double *out, const double *q, const double *K, const double *c, double s,
                                             uint64_t m);

// Models of smallestFixedSize to largestFixedSize states have their steps
// compiled for their size, tabled by m.
inline constexpr uint64_t smallestFixedSize = 2;
inline constexpr uint64_t largestFixedSize = 16;

// Whether m states take the steps compiled for their size.
inline bool usesFixedSizeSteps(uint64_t m) { return m >= smallestFixedSize && m <= largestFixedSize; }

// x <- A*x and P <- A*P*A' + B*B' for the model's m, with A column-major and
// an m x m scratch for A*P; P is read by columns and may be asymmetric.
using FixedPredictKernel = void (*)(double *x, double *P, const double *transitionColumns,
                                    const double *stateNoiseCov, double *transitionTimesCov);

// The univariate updates of `count` series in turn, for the model's m: series
// j has row j of measurementRows (m apart), noise variance noiseVars[j], and
// its innovation starts from innovationStarts[j] when present[j]. P must be
// symmetric. When gains is not null, the gain of each used series goes to
// gains + j*m.
using FixedAssimilateKernel = void (*)(double *x, double *P, const double *innovationStarts, const bool *present,
                                       uint64_t count, const double *measurementRows, const double *noiseVars,
                                       double tol, ObservationOutcome *outcomes, double *gains);

// How many series the modules hand assimilateFixed per call: their inputs
// and outcomes are staged on the stack, and between calls P goes through
// memory, which changes no bit.
inline constexpr uint64_t fixedSizeRunLength = 16;

// vectorTimesRows and rowsTimesRows (dense_products.h) for the model's m.
using FixedVectorTimesRowsKernel = void (*)(double *out, const double *v, const double *M);
using FixedRowsTimesRowsKernel = void (*)(double *out, const double *A, const double *B);

struct DenseKernels {
  const char *name;
  RowsTimesColumnsKernel rowsTimesColumns;
  SymmetricDowndateKernel symmetricDowndate;
  DowndateWithNextKernel downdateWithNext;
  // The sizes downdateWithNext takes: a column of at least one vector, and the
  // next w in the registers it keeps for it.
  uint64_t smallestFusedSize;
  uint64_t largestFusedSize;
  CumulantThroughUpdateKernel cumulantThroughUpdate;
  FixedPredictKernel predictFixed[largestFixedSize + 1];  // null below smallestFixedSize
  FixedAssimilateKernel assimilateFixed[largestFixedSize + 1];
  FixedVectorTimesRowsKernel vectorTimesRowsFixed[largestFixedSize + 1];
  FixedRowsTimesRowsKernel rowsTimesRowsFixed[largestFixedSize + 1];
};

enum class KernelPath { portable, avx2, avx512 };

// The fastest path this processor runs.
const DenseKernels &denseKernels();
// A given path, or null when this processor cannot run it.
const DenseKernels *denseKernelsFor(KernelPath path);
