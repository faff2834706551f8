// Products over raw arrays, vectorised across independent sums and chosen at
// run time for the processor. Every output element is still one accumulator
// that adds its terms in ascending index, with a separate multiply and add,
// so every path gives the bits of the plain loops.
#pragma once

#include <cstdint>

// out[r*outStride + l] = init[r*initStride + l] + sum over q < depth of
// a[r*aStride + q] * b[q*bStride + l], for r < rows and l < lanes; a null init
// starts every sum from 0.0. Each row of `a` is broadcast against rows of `b`,
// so the lanes of one output row are computed side by side.
using RowsTimesColumnsKernel = void (*)(double *out, uint64_t outStride, const double *init, uint64_t initStride,
                                        const double *a, uint64_t aStride, const double *b, uint64_t bStride,
                                        uint64_t rows, uint64_t lanes, uint64_t depth);

// The rank-one correction of a symmetric covariance by one used observation,
// column by column: element (l, i) becomes P(l, i) - w_l*K_i above the
// diagonal and P(l, i) - w_i*K_l on and below it, the products a sequential
// update would form, so the result is exactly symmetric.
using SymmetricDowndateKernel = void (*)(double *P, const double *w, const double *K, uint64_t m);

struct DenseKernels {
  const char *name;
  RowsTimesColumnsKernel rowsTimesColumns;
  SymmetricDowndateKernel symmetricDowndate;
};

enum class KernelPath { portable, avx2, avx512 };

// The fastest path this processor runs.
const DenseKernels &denseKernels();
// A given path, or null when this processor cannot run it.
const DenseKernels *denseKernelsFor(KernelPath path);
