#include "literal_steps.h"

#include <cmath>

namespace testing_support {

void literalPrediction(std::vector<double> &x, std::vector<double> &P, const double *A, const double *B, uint64_t m,
                       uint64_t k) {
  const std::vector<double> previous = x;
  for (uint64_t i = 0; i < m; ++i) {
    double s = 0.0;
    for (uint64_t q = 0; q < m; ++q) s += A[i + q * m] * previous[q];
    x[i] = s;
  }
  std::vector<double> AP(m * m);
  for (uint64_t i = 0; i < m; ++i)
    for (uint64_t col = 0; col < m; ++col) {
      double s = 0.0;
      for (uint64_t q = 0; q < m; ++q) s += A[i + q * m] * P[q + col * m];
      AP[i * m + col] = s;
    }
  for (uint64_t i = 0; i < m; ++i)
    for (uint64_t r = i; r < m; ++r) {
      // B*B'(r, i), formed as B(i, :) . B(r, :) for the element below the diagonal.
      double s = 0.0;
      for (uint64_t l = 0; l < k; ++l) s += B[i + l * m] * B[r + l * m];
      for (uint64_t q = 0; q < m; ++q) s += A[r + q * m] * AP[i * m + q];
      P[r + i * m] = s;
      P[i + r * m] = s;
    }
}

LiteralUpdate literalUpdate(double y, double innovationStart, const double *C, const double *D, uint64_t n,
                            uint64_t j, uint64_t m, uint64_t h, double tol, std::vector<double> &x,
                            std::vector<double> &P) {
  LiteralUpdate update;
  if (std::isnan(y)) return update;
  update.present = true;
  auto c = [&](uint64_t q) { return C[j + q * n]; };
  std::vector<double> w(m);
  for (uint64_t i = 0; i < m; ++i) {
    double s = 0.0;
    for (uint64_t q = 0; q < m; ++q) s += P[q + i * m] * c(q);
    w[i] = s;
  }
  double F = 0.0;
  for (uint64_t l = 0; l < h; ++l) F += D[j + l * n] * D[j + l * n];
  for (uint64_t q = 0; q < m; ++q) F += c(q) * w[q];
  update.variance = F;
  if (F <= tol) return update;
  update.used = true;
  double v = innovationStart;
  for (uint64_t q = 0; q < m; ++q) v -= c(q) * x[q];
  const double invF = 1.0 / F;
  std::vector<double> &K = update.gain;
  K.assign(m, 0.0);
  for (uint64_t q = 0; q < m; ++q) {
    K[q] = invF * w[q];
    x[q] = v * K[q] + x[q];
  }
  for (uint64_t i = 0; i < m; ++i) {
    const double p = P[i + i * m] - w[i] * K[i];
    P[i + i * m] = p;
    if (p <= 0.0) {
      for (uint64_t l = 0; l < m; ++l) P[l + i * m] = P[i + l * m] = 0.0;
      continue;
    }
    for (uint64_t l = i + 1; l < m; ++l) P[l + i * m] = P[i + l * m] = P[l + i * m] - w[i] * K[l];
  }
  update.innovation = v;
  update.reciprocal = invF;
  return update;
}

}  // namespace testing_support
