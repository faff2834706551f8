#include "initial_factor.h"

#include <cmath>

namespace {

// P0(i, j) - G(i, 0)*G(j, 0) - ... - G(i, j-1)*G(j, j-1), each product
// subtracted in turn; the columns of diffuse states hold zeros.
double residual(const double *G, const double *P0, uint64_t m, uint64_t i, uint64_t j) {
  double q = P0[i + j * m];
  for (uint64_t l = 0; l < j; ++l) {
    q -= G[i + l * m] * G[j + l * m];
  }
  return q;
}

}  // namespace

InitialFactorOutcome factorInitialCovariance(double *G, const double *P0, uint64_t m) {
  double scale = 0.0;
  for (uint64_t i = 0; i < m; ++i) {
    const double variance = P0[i + i * m];
    if (!startsDiffuse(P0, m, i) && variance > scale) {  // ordered: NaN never counts
      scale = variance;
    }
  }
  const double tiny = zeroPivotFraction * scale;
  const double largestResidual = std::sqrt(tiny * scale);
  for (uint64_t e = 0; e < m * m; ++e) {
    G[e] = 0.0;
  }
  for (uint64_t j = 0; j < m; ++j) {
    if (startsDiffuse(P0, m, j)) {
      continue;
    }
    const double pivot = residual(G, P0, m, j, j);
    if (pivot < -tiny) {
      return {false, false, j, j, pivot, scale};
    }
    if (pivot <= tiny) {
      // Zero up to rounding: the direction gets no draw, and no other state
      // may covary with it.
      for (uint64_t i = j + 1; i < m; ++i) {
        if (startsDiffuse(P0, m, i)) continue;
        const double q = residual(G, P0, m, i, j);
        if (std::fabs(q) > largestResidual) {
          return {false, true, i, j, q, scale};
        }
      }
      continue;
    }
    const double root = std::sqrt(pivot);
    G[j + j * m] = root;
    for (uint64_t i = j + 1; i < m; ++i) {
      if (startsDiffuse(P0, m, i)) continue;
      G[i + j * m] = residual(G, P0, m, i, j) / root;
    }
  }
  return {true, false, 0, 0, 0.0, scale};
}

void startSimulatedStates(double *simulated, uint64_t stride, const double *z, const double *G, const double *x0,
                          const double *P0, uint64_t m, uint64_t lanes) {
  for (uint64_t i = 0; i < m; ++i) {
    double *row = simulated + i * stride;
    for (uint64_t l = 0; l < lanes; ++l) {
      row[l] = x0[i];
    }
    if (startsDiffuse(P0, m, i)) {
      continue;
    }
    for (uint64_t j = 0; j <= i; ++j) {
      if (startsDiffuse(P0, m, j)) continue;
      const double g = G[i + j * m];
      const double *zRow = z + j * lanes;
      for (uint64_t l = 0; l < lanes; ++l) {
        row[l] += g * zRow[l];
      }
    }
  }
}
