// The prediction and the univariate update written out the plainest way,
// independently of core/: the literal filter and the literal smoother, the
// references the modules must match to the bit, are both made of them, and
// so, in complex arithmetic, is the filter whose complex steps check the
// gradient, with the decorrelated series of correlated noise and the steps
// of a diffuse start. Every decision (a missing value, F at or below tol, a
// variance at or below zero, a zero pivot, F_inf zero, the diffuse phase's
// end) is taken on the real part.
#pragma once

#include <algorithm>
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

// The lower triangle of B*B' + A*(A*P)' into P, mirrored, from A*P formed
// row by row; with k = 0 no noise. A is m x m and B m x k, column-major.
// Returns the largest |real part| it wrote.
template <class Scalar>
double literalCovariancePrediction(std::vector<Scalar> &P, const Scalar *A, const Scalar *B, uint64_t m, uint64_t k) {
  std::vector<Scalar> AP(m * m);
  for (uint64_t i = 0; i < m; ++i)
    for (uint64_t col = 0; col < m; ++col) {
      Scalar s = 0.0;
      for (uint64_t q = 0; q < m; ++q) s += A[i + q * m] * P[q + col * m];
      AP[i * m + col] = s;
    }
  double largest = 0.0;
  for (uint64_t i = 0; i < m; ++i)
    for (uint64_t r = i; r < m; ++r) {
      // B*B'(r, i), formed as B(i, :) . B(r, :) for the element below the diagonal.
      Scalar s = 0.0;
      for (uint64_t l = 0; l < k; ++l) s += B[i + l * m] * B[r + l * m];
      for (uint64_t q = 0; q < m; ++q) s += A[r + q * m] * AP[i * m + q];
      P[r + i * m] = s;
      P[i + r * m] = s;
      largest = std::max(largest, std::fabs(realPart(s)));
    }
  return largest;
}

// x <- A*x from a copy, then P's prediction.
template <class Scalar>
void literalPrediction(std::vector<Scalar> &x, std::vector<Scalar> &P, const Scalar *A, const Scalar *B, uint64_t m,
                       uint64_t k) {
  const std::vector<Scalar> previous = x;
  for (uint64_t i = 0; i < m; ++i) {
    Scalar s = 0.0;
    for (uint64_t q = 0; q < m; ++q) s += A[i + q * m] * previous[q];
    x[i] = s;
  }
  literalCovariancePrediction(P, A, B, m, k);
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
  // In the diffuse phase: F_inf / ((sum of c_q^2) * largest) of a present
  // observation; whether it took a diffuse step (then variance is F_inf, gain
  // K0 and reciprocal 1/F_inf), and that step's K1 = (M* - K0*F*)/F_inf.
  double infiniteRatio = std::numeric_limits<double>::quiet_NaN();
  bool diffuseStep = false;
  std::vector<Scalar> correction;
};
using LiteralUpdate = LiteralUpdateOf<double>;

// A variance at or below zero clears its row and column of the m x m P.
template <class Scalar>
void literalClearNonPositiveVariances(std::vector<Scalar> &P, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    if (realPart(P[i + i * m]) > 0.0) continue;
    for (uint64_t l = 0; l < m; ++l) P[l + i * m] = P[i + l * m] = 0.0;
  }
}

// w = P*c' for the measurement row c (element q at row[q*stride]), element i
// over q ascending of P(q, i)*c(q).
template <class Scalar>
std::vector<Scalar> literalCovarianceTimesRow(const std::vector<Scalar> &P, const Scalar *row, uint64_t stride,
                                              uint64_t m) {
  std::vector<Scalar> w(m);
  for (uint64_t i = 0; i < m; ++i) {
    Scalar s = 0.0;
    for (uint64_t q = 0; q < m; ++q) s += P[q + i * m] * row[q * stride];
    w[i] = s;
  }
  return w;
}

// start + c*w, over q ascending.
template <class Scalar>
Scalar literalRowTimes(const Scalar *row, uint64_t stride, const std::vector<Scalar> &w, Scalar start, uint64_t m) {
  for (uint64_t q = 0; q < m; ++q) start += row[q * stride] * w[q];
  return start;
}

// The update of x and P by an observation y with measurement row c (element
// q at c[q*stride]) and noise variance d: w = P*c', F = d + c*w; when y is
// present and F above tol, v = innovationStart - c*x (the start is y, or in
// the smoother y less its mean), K = (1/F)*w, x += v*K, and P corrected with
// each variance at or below zero clearing its row and column.
template <class Scalar>
LiteralUpdateOf<Scalar> literalUpdateWithRow(double y, Scalar innovationStart, const Scalar *row, uint64_t stride,
                                             Scalar noiseVariance, uint64_t m, double tol, std::vector<Scalar> &x,
                                             std::vector<Scalar> &P) {
  LiteralUpdateOf<Scalar> update;
  if (std::isnan(y)) return update;
  update.present = true;
  auto c = [&](uint64_t q) { return row[q * stride]; };
  const std::vector<Scalar> w = literalCovarianceTimesRow(P, row, stride, m);
  const Scalar F = literalRowTimes(row, stride, w, noiseVariance, m);
  update.variance = F;
  if (realPart(F) <= tol) return update;
  update.used = true;
  Scalar v = innovationStart;
  for (uint64_t q = 0; q < m; ++q) v -= c(q) * x[q];
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

// literalUpdateWithRow for series j of a period whose C is n x m and D n x h
// (column-major), its noise variance the sum of its d*d.
template <class Scalar>
LiteralUpdateOf<Scalar> literalUpdate(double y, Scalar innovationStart, const Scalar *C, const Scalar *D, uint64_t n,
                                      uint64_t j, uint64_t m, uint64_t h, double tol, std::vector<Scalar> &x,
                                      std::vector<Scalar> &P) {
  return literalUpdateWithRow(y, innovationStart, C + j, n, literalNoiseVariance(D, n, j, h), m, tol, x, P);
}

// The decorrelated series of a period: for its p >= 2 observed series O
// (ascending), H_O = D_O*D_O' factored as L*Delta*L' row by row without
// pivoting, a pivot at or below 1e-12 times the largest variance of H_O zero
// with its column of L, and the rows C* = L^-1*C_O, variances Delta and
// starts y* = L^-1*starts_O. Every product of H_O is formed, one with a zero
// factor too: its real part adds nothing, as the filter leaves it out, and its
// derivative is that of D*D'. Where H_O is diagonal the filter takes the
// series as they are; L is then zero below the diagonal and every real part
// that of the series themselves.
template <class Scalar>
struct LiteralSeriesOf {
  std::vector<uint64_t> observed;  // O
  std::vector<Scalar> rows;        // p x m, row by row
  std::vector<Scalar> variances;
  std::vector<Scalar> starts;
};

template <class Scalar>
LiteralSeriesOf<Scalar> literalDecorrelatedSeries(const std::vector<double> &y, const std::vector<Scalar> &starts,
                                                  const Scalar *C, const Scalar *D, uint64_t n, uint64_t m,
                                                  uint64_t h) {
  LiteralSeriesOf<Scalar> series;
  for (uint64_t j = 0; j < n; ++j)
    if (!std::isnan(y[j])) series.observed.push_back(j);
  const uint64_t p = series.observed.size();
  const std::vector<uint64_t> &O = series.observed;
  std::vector<Scalar> H(p * p), L(p * p, Scalar(0.0)), W(p);
  double largest = 0.0;
  for (uint64_t i = 0; i < p; ++i) {
    for (uint64_t q = 0; q <= i; ++q) {
      Scalar s = 0.0;
      for (uint64_t l = 0; l < h; ++l) s += D[O[i] + l * n] * D[O[q] + l * n];
      H[i * p + q] = s;
    }
    if (realPart(H[i * p + i]) > largest) largest = realPart(H[i * p + i]);
  }
  series.variances.resize(p);
  for (uint64_t i = 0; i < p; ++i) {
    for (uint64_t q = 0; q < i; ++q) {
      Scalar w = H[i * p + q];
      for (uint64_t r = 0; r < q; ++r) w -= W[r] * L[q * p + r];
      W[q] = w;
    }
    Scalar pivot = H[i * p + i];
    for (uint64_t q = 0; q < i; ++q) {
      L[i * p + q] = realPart(series.variances[q]) == 0.0 ? Scalar(0.0) : W[q] / series.variances[q];
      pivot -= W[q] * L[i * p + q];
    }
    series.variances[i] = realPart(pivot) <= 1e-12 * largest ? Scalar(0.0) : pivot;
  }
  series.rows.resize(p * m);
  series.starts.resize(p);
  for (uint64_t i = 0; i < p; ++i) {
    Scalar start = starts[O[i]];
    for (uint64_t q = 0; q < i; ++q) start -= L[i * p + q] * series.starts[q];
    series.starts[i] = start;
    for (uint64_t s = 0; s < m; ++s) {
      Scalar value = C[O[i] + s * n];
      for (uint64_t q = 0; q < i; ++q) value -= L[i * p + q] * series.rows[q * m + s];
      series.rows[i * m + s] = value;
    }
  }
  return series;
}

// The diffuse part of the state (+inf on P0's diagonal) through the diffuse
// phase, with the real parts of every decision: P_inf the 0/1 diagonal of
// the diffuse states at the start, P* P0 with their variances zero.
template <class Scalar>
struct LiteralDiffuseOf {
  std::vector<Scalar> Pinf;
  double largest = 1.0;  // the largest |real part| P_inf has had
  bool active = false;
};

template <class Scalar>
LiteralDiffuseOf<Scalar> literalDiffuseStart(std::vector<Scalar> &P, uint64_t m) {
  LiteralDiffuseOf<Scalar> diffuse;
  diffuse.Pinf.assign(m * m, Scalar(0.0));
  for (uint64_t i = 0; i < m; ++i) {
    if (realPart(P[i + i * m]) != std::numeric_limits<double>::infinity()) continue;
    diffuse.Pinf[i + i * m] = 1.0;
    diffuse.active = true;
    for (uint64_t l = 0; l < m; ++l) P[l + i * m] = P[i + l * m] = 0.0;
  }
  return diffuse;
}

// P_inf <- A*P_inf*A' as the prediction of P forms it, A m x m column-major.
template <class Scalar>
void literalInfinitePrediction(LiteralDiffuseOf<Scalar> &diffuse, const Scalar *A, uint64_t m) {
  const double largest = literalCovariancePrediction(diffuse.Pinf, A, static_cast<const Scalar *>(nullptr), m, 0);
  diffuse.largest = std::max(diffuse.largest, largest);
}

// An observation of the diffuse phase: F_inf = c*P_inf*c'; when it is at or
// below 1e-9 * (sum of c_q^2) * largest, the update of a known start on x and
// P* (literalUpdateWithRow); otherwise the diffuse step on x, P_inf and P*.
template <class Scalar>
LiteralUpdateOf<Scalar> literalDiffuseUpdate(double y, Scalar innovationStart, const Scalar *row, uint64_t stride,
                                             Scalar noiseVariance, uint64_t m, double tol, std::vector<Scalar> &x,
                                             std::vector<Scalar> &P, LiteralDiffuseOf<Scalar> &diffuse) {
  if (std::isnan(y)) return LiteralUpdateOf<Scalar>{};
  auto c = [&](uint64_t q) { return row[q * stride]; };
  std::vector<Scalar> &Q = diffuse.Pinf;
  const std::vector<Scalar> Minf = literalCovarianceTimesRow(Q, row, stride, m);
  const Scalar Finf = literalRowTimes(row, stride, Minf, Scalar(0.0), m);
  Scalar squares = 0.0;
  for (uint64_t q = 0; q < m; ++q) squares += c(q) * c(q);
  const double ratio = realPart(Finf) / (realPart(squares) * diffuse.largest);
  if (realPart(Finf) <= 1e-9 * realPart(squares) * diffuse.largest) {
    LiteralUpdateOf<Scalar> update = literalUpdateWithRow(y, innovationStart, row, stride, noiseVariance, m, tol, x, P);
    update.infiniteRatio = ratio;
    return update;
  }
  const std::vector<Scalar> Mfinite = literalCovarianceTimesRow(P, row, stride, m);
  const Scalar Ffinite = literalRowTimes(row, stride, Mfinite, noiseVariance, m);
  LiteralUpdateOf<Scalar> update;
  update.present = update.used = update.diffuseStep = true;
  update.infiniteRatio = ratio;
  update.variance = Finf;
  Scalar v = innovationStart;
  for (uint64_t q = 0; q < m; ++q) v -= c(q) * x[q];
  const Scalar r = 1.0 / Finf;
  std::vector<Scalar> &K0 = update.gain;
  K0.resize(m);
  for (uint64_t q = 0; q < m; ++q) {
    K0[q] = r * Minf[q];
    x[q] = v * K0[q] + x[q];
  }
  for (uint64_t i = 0; i < m; ++i) {
    const Scalar scaledGain = Ffinite * K0[i];
    for (uint64_t l = i; l < m; ++l) {
      Q[l + i * m] = Q[i + l * m] = Q[l + i * m] - Minf[i] * K0[l];
      P[l + i * m] = P[i + l * m] = ((P[l + i * m] + K0[l] * scaledGain) - K0[l] * Mfinite[i]) - Mfinite[l] * K0[i];
    }
  }
  literalClearNonPositiveVariances(Q, m);
  literalClearNonPositiveVariances(P, m);
  update.correction.resize(m);
  for (uint64_t i = 0; i < m; ++i) update.correction[i] = r * (Mfinite[i] - K0[i] * Ffinite);
  update.innovation = v;
  update.reciprocal = r;
  return update;
}

// Ends the phase when every |real part| of P_inf is at most 1e-9 * largest.
template <class Scalar>
void literalEndDiffusePhaseWhenDone(LiteralDiffuseOf<Scalar> &diffuse) {
  for (const Scalar &value : diffuse.Pinf)
    if (std::fabs(realPart(value)) > 1e-9 * diffuse.largest) return;
  diffuse.active = false;
}

}  // namespace testing_support
