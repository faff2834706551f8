// The prediction and the univariate update written out the plainest way,
// independently of core/: the literal filter and the literal smoother, the
// references the modules must match to the bit, are both made of them, and
// so, in complex arithmetic, is the filter whose complex steps check the
// gradient. Every decision (a missing value, F at or below tol, a variance
// at or below zero) is taken on the real part.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace testing_support {

inline double realPart(double value) { return value; }
template <class Scalar>
double realPart(const Scalar &value) {
  return value.real();
}

// The matrix of period t of a coefficient held as one page or as T pages of
// pageSize elements.
template <class Scalar>
const Scalar *literalPage(const std::vector<Scalar> &data, bool paged, uint64_t t, uint64_t pageSize) {
  return data.data() + (paged ? t * pageSize : 0);
}

// x <- A*x from a copy; A*P row by row; the lower triangle of B*B' + A*(A*P)',
// mirrored. A is m x m and B m x k, column-major.
template <class Scalar>
void literalPrediction(std::vector<Scalar> &x, std::vector<Scalar> &P, const Scalar *A, const Scalar *B, uint64_t m,
                       uint64_t k) {
  const std::vector<Scalar> previous = x;
  for (uint64_t i = 0; i < m; ++i) {
    Scalar s = 0.0;
    for (uint64_t q = 0; q < m; ++q) s += A[i + q * m] * previous[q];
    x[i] = s;
  }
  std::vector<Scalar> AP(m * m);
  for (uint64_t i = 0; i < m; ++i)
    for (uint64_t col = 0; col < m; ++col) {
      Scalar s = 0.0;
      for (uint64_t q = 0; q < m; ++q) s += A[i + q * m] * P[q + col * m];
      AP[i * m + col] = s;
    }
  for (uint64_t i = 0; i < m; ++i)
    for (uint64_t r = i; r < m; ++r) {
      // B*B'(r, i), formed as B(i, :) . B(r, :) for the element below the diagonal.
      Scalar s = 0.0;
      for (uint64_t l = 0; l < k; ++l) s += B[i + l * m] * B[r + l * m];
      for (uint64_t q = 0; q < m; ++q) s += A[r + q * m] * AP[i * m + q];
      P[r + i * m] = s;
      P[i + r * m] = s;
    }
}

// What one observation's update found.
template <class Scalar>
struct LiteralUpdateOf {
  bool present = false;  // not NaN
  bool used = false;     // present, and F above tol
  Scalar variance = std::numeric_limits<double>::quiet_NaN();  // F of a present observation
  Scalar innovation = 0.0;                                     // v of a used one
  Scalar reciprocal = 0.0;                                     // 1/F of a used one
  std::vector<Scalar> gain;                                    // K of a used one
};
using LiteralUpdate = LiteralUpdateOf<double>;

// The update of x and P by one series with measurement row c (element q at
// c[q*cStride]) and noise variance d: w = P*c', F = d + c*w; when F is above
// tol, v = innovationStart - c*x (the start is y, or in the smoother y less
// its mean), K = (1/F)*w, x += v*K, and P corrected with each variance at or
// below zero clearing its row and column.
template <class Scalar>
LiteralUpdateOf<Scalar> literalUpdateOfRow(Scalar innovationStart, const Scalar *c, uint64_t cStride,
                                           Scalar noiseVariance, uint64_t m, double tol, std::vector<Scalar> &x,
                                           std::vector<Scalar> &P) {
  LiteralUpdateOf<Scalar> update;
  update.present = true;
  std::vector<Scalar> w(m);
  for (uint64_t i = 0; i < m; ++i) {
    Scalar s = 0.0;
    for (uint64_t q = 0; q < m; ++q) s += P[q + i * m] * c[q * cStride];
    w[i] = s;
  }
  Scalar F = noiseVariance;
  for (uint64_t q = 0; q < m; ++q) F += c[q * cStride] * w[q];
  update.variance = F;
  if (realPart(F) <= tol) return update;
  update.used = true;
  Scalar v = innovationStart;
  for (uint64_t q = 0; q < m; ++q) v -= c[q * cStride] * x[q];
  const Scalar invF = 1.0 / F;
  std::vector<Scalar> &K = update.gain;
  K.assign(m, 0.0);
  for (uint64_t q = 0; q < m; ++q) {
    K[q] = invF * w[q];
    x[q] = v * K[q] + x[q];
  }
  for (uint64_t i = 0; i < m; ++i) {
    const Scalar p = P[i + i * m] - w[i] * K[i];
    P[i + i * m] = p;
    if (realPart(p) <= 0.0) {
      for (uint64_t l = 0; l < m; ++l) P[l + i * m] = P[i + l * m] = 0.0;
      continue;
    }
    for (uint64_t l = i + 1; l < m; ++l) P[l + i * m] = P[i + l * m] = P[l + i * m] - w[i] * K[l];
  }
  update.innovation = v;
  update.reciprocal = invF;
  return update;
}

// The sum of the squares of series j's row of the n x h D (column-major):
// its noise variance.
template <class Scalar>
Scalar literalNoiseVariance(const Scalar *D, uint64_t n, uint64_t j, uint64_t h) {
  Scalar d = 0.0;
  for (uint64_t l = 0; l < h; ++l) d += D[j + l * n] * D[j + l * n];
  return d;
}

// The update by series j of a period whose C is n x m and D n x h
// (column-major), with the variance of its own noise: nothing when y is
// missing.
template <class Scalar>
LiteralUpdateOf<Scalar> literalUpdate(double y, Scalar innovationStart, const Scalar *C, const Scalar *D, uint64_t n,
                                      uint64_t j, uint64_t m, uint64_t h, double tol, std::vector<Scalar> &x,
                                      std::vector<Scalar> &P) {
  if (std::isnan(y)) return LiteralUpdateOf<Scalar>{};
  return literalUpdateOfRow(innovationStart, C + j, n, literalNoiseVariance(D, n, j, h), m, tol, x, P);
}

}  // namespace testing_support
