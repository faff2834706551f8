#include "literal_state_filter.h"

#include <algorithm>
#include <cmath>

namespace {

// Element (i, j) of the r-row column-major page `page` of `data`.
double at(const std::vector<double> &data, bool paged, uint64_t page, uint64_t pageSize, uint64_t rows,
          uint64_t i, uint64_t j) {
  return data[(paged ? page * pageSize : 0) + i + j * rows];
}

}  // namespace

std::vector<double> literalStateFilter(const LiteralFilterModel &model, LiteralFilteredStates *states) {
  const uint64_t T = model.T, n = model.n, m = model.m, k = model.k, h = model.h;
  std::vector<double> out(T, 0.0);
  std::vector<double> x(model.x0.begin(), model.x0.begin() + static_cast<long>(m));
  std::vector<double> P(model.P0.begin(), model.P0.begin() + static_cast<long>(m * m));
  if (states != nullptr) {
    states->means.assign(T * m, 0.0);
    states->covariances.assign(m * m * T, 0.0);
  }
  for (uint64_t t = 0; t < T; ++t) {
    auto a = [&](uint64_t i, uint64_t j) { return at(model.A, model.pagedA, t, m * m, m, i, j); };
    auto b = [&](uint64_t i, uint64_t j) { return at(model.B, model.pagedB, t, m * k, m, i, j); };
    auto c = [&](uint64_t i, uint64_t j) { return at(model.C, model.pagedC, t, n * m, n, i, j); };
    auto d = [&](uint64_t i, uint64_t j) { return at(model.D, model.pagedD, t, n * h, n, i, j); };
    double ell = 0.0;
    for (uint64_t j = 0; j < std::max<uint64_t>(n, states != nullptr ? 1 : 0); ++j) {
      if (j == 0) {
        // x <- A x from a copy; A P row by row; lower triangle of A (A P)' + B B', mirrored.
        const std::vector<double> previous = x;
        for (uint64_t i = 0; i < m; ++i) {
          double s = 0.0;
          for (uint64_t q = 0; q < m; ++q) s += a(i, q) * previous[q];
          x[i] = s;
        }
        std::vector<double> AP(m * m);
        for (uint64_t i = 0; i < m; ++i)
          for (uint64_t col = 0; col < m; ++col) {
            double s = 0.0;
            for (uint64_t q = 0; q < m; ++q) s += a(i, q) * P[q + col * m];
            AP[i * m + col] = s;
          }
        for (uint64_t i = 0; i < m; ++i)
          for (uint64_t r = i; r < m; ++r) {
            double bb = 0.0;
            for (uint64_t l = 0; l < k; ++l) bb += b(std::min(i, r), l) * b(std::max(i, r), l);
            double s = bb;
            for (uint64_t q = 0; q < m; ++q) s += a(r, q) * AP[i * m + q];
            P[r + i * m] = s;
            P[i + r * m] = s;
          }
      }
      if (j >= n) break;  // a period without series, predicted for its state
      const double y = model.Y[t + j * T];
      if (std::isnan(y)) continue;
      std::vector<double> w(m), K(m);
      for (uint64_t i = 0; i < m; ++i) {
        double s = 0.0;
        for (uint64_t q = 0; q < m; ++q) s += P[q + i * m] * c(j, q);
        w[i] = s;
      }
      double dd = 0.0;
      for (uint64_t l = 0; l < h; ++l) dd += d(j, l) * d(j, l);
      double F = dd;
      for (uint64_t q = 0; q < m; ++q) F += c(j, q) * w[q];
      if (F <= model.tol) continue;
      double v = y;
      for (uint64_t q = 0; q < m; ++q) v -= c(j, q) * x[q];
      const double invF = 1.0 / F;
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
      ell = ell - 0.5 * ((std::log(F) + 1.837877066409345) + (v * v) * invF);
    }
    out[t] = ell;
    if (states != nullptr) {
      for (uint64_t i = 0; i < m; ++i) states->means[t + i * T] = x[i];
      std::copy(P.begin(), P.end(), states->covariances.begin() + static_cast<long>(t * m * m));
    }
  }
  return out;
}
