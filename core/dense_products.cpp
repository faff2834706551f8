#include "dense_products.h"

#include "dense_kernels.h"
#include "reference_steps.h"

void vectorTimesRows(double *out, const double *v, const double *M, uint64_t m) {
  const DenseKernels &kernels = denseKernels();
  if (kernels.usesFixedSizeSteps(m)) {
    kernels.vectorTimesRowsFixed[m](out, v, M);
  } else if (kernels.vectorises(m)) {
    kernels.rowsTimesColumns(out, 0, nullptr, 0, v, 0, M, m, 1, m, m);
  } else {
    forStateCount(m, [&](uint64_t states) {
      rowsTimesColumnsReference(out, 0, nullptr, 0, v, 0, M, states, 1, states, states);
    });
  }
}

void rowsTimesRows(double *out, const double *A, const double *B, uint64_t m) {
  const DenseKernels &kernels = denseKernels();
  if (kernels.usesFixedSizeSteps(m)) {
    kernels.rowsTimesRowsFixed[m](out, A, B);
  } else if (kernels.vectorises(m)) {
    kernels.rowsTimesColumns(out, m, nullptr, 0, A, m, B, m, m, m, m);
  } else {
    forStateCount(m, [&](uint64_t states) {
      rowsTimesColumnsReference(out, states, nullptr, 0, A, states, B, states, states, states, states);
    });
  }
}

void rowsTimesRowsLower(double *out, const double *A, const double *B, uint64_t m) {
  const DenseKernels &kernels = denseKernels();
  if (kernels.usesFixedSizeSteps(m) || !kernels.vectorises(m)) {
    rowsTimesRows(out, A, B, m);
    return;
  }
  // Bands of rows, each taking the columns up to its last row's diagonal.
  constexpr uint64_t band = 8;
  for (uint64_t first = 0; first < m; first += band) {
    const uint64_t rows = m - first < band ? m - first : band;
    kernels.rowsTimesColumns(out + first * m, m, nullptr, 0, A + first * m, m, B, m, rows, first + rows, m);
  }
}

void cumulantThroughUpdate(double *out, const double *q, const double *K, const double *c, double s, uint64_t m) {
  const DenseKernels &kernels = denseKernels();
  if (kernels.vectorises(m)) {
    kernels.cumulantThroughUpdate(out, q, K, c, s, m);
  } else {
    forStateCount(m, [&](uint64_t states) { cumulantThroughUpdateReference(out, q, K, c, s, states); });
  }
}

namespace {

// Copies the elements of a square m x m matrix on one side of its diagonal
// onto their mirrors: S[i*m + l] onto S[l*m + i] for l < i, or (fromAbove)
// for l > i. A band of rows at a time: the band's part outside its diagonal
// block goes across through the kernel's tiles, the block's own part element
// by element. A few states have no whole tile to spare the kernel's call for.
void mirrorTriangle(double *S, uint64_t m, bool fromAbove) {
  constexpr uint64_t band = 8;
  const TransposeKernel transpose = m > 2 * band ? denseKernels().transpose : transposeReference;
  // Within a diagonal block, element (i, l), l < i, of the side read is
  // S[i*major + l*minor], and its mirror S[l*major + i*minor].
  const uint64_t major = fromAbove ? 1 : m;
  const uint64_t minor = fromAbove ? m : 1;
  for (uint64_t first = 0; first < m; first += band) {
    const uint64_t end = m - first < band ? m : first + band;
    if (fromAbove) {
      transpose(S + end * m + first, m, S + first * m + end, m, end - first, m - end);
    } else {
      transpose(S + first, m, S + first * m, m, end - first, first);
    }
    for (uint64_t i = first + 1; i < end; ++i) {
      for (uint64_t l = first; l < i; ++l) {
        S[l * major + i * minor] = S[i * major + l * minor];
      }
    }
  }
}

}  // namespace

void mirrorLowerTriangle(double *S, uint64_t m) { mirrorTriangle(S, m, false); }

void mirrorUpperTriangle(double *S, uint64_t m) { mirrorTriangle(S, m, true); }
