#include "literal_simulation_smoother.h"

#include "literal_state_smoother.h"
#include "literal_steps.h"

#include <cmath>
#include <limits>

using testing_support::literalPage;

namespace {

// The lower factor of P0, states in ascending order: a pivot below -1e-12
// times the largest finite diagonal element refuses P0, one within that of
// zero leaves its column zero, unless a residual beside it exceeds the square
// root of that bound times the largest element.
bool literalFactor(const std::vector<double> &P0, uint64_t m, std::vector<double> &G) {
  const double infinity = std::numeric_limits<double>::infinity();
  auto diffuse = [&](uint64_t i) { return P0[i + i * m] == infinity; };
  double scale = 0.0;
  for (uint64_t i = 0; i < m; ++i)
    if (!diffuse(i) && P0[i + i * m] > scale) scale = P0[i + i * m];
  const double tiny = 1e-12 * scale;
  G.assign(m * m, 0.0);
  auto residual = [&](uint64_t i, uint64_t j) {
    double q = P0[i + j * m];
    for (uint64_t l = 0; l < j; ++l) q -= G[i + l * m] * G[j + l * m];
    return q;
  };
  for (uint64_t j = 0; j < m; ++j) {
    if (diffuse(j)) continue;
    const double pivot = residual(j, j);
    if (pivot < -tiny) return false;
    if (pivot <= tiny) {
      for (uint64_t i = j + 1; i < m; ++i)
        if (!diffuse(i) && std::fabs(residual(i, j)) > std::sqrt(tiny * scale)) return false;
      continue;
    }
    G[j + j * m] = std::sqrt(pivot);
    for (uint64_t i = j + 1; i < m; ++i)
      if (!diffuse(i)) G[i + j * m] = residual(i, j) / G[j + j * m];
  }
  return true;
}

}  // namespace

LiteralDraw literalSimulationDraw(const SmootherTestModel &model, const double *variates) {
  const uint64_t T = model.T, n = model.n, m = model.m, k = model.k, h = model.h;
  const uint64_t mm = m * m;
  LiteralDraw draw;
  std::vector<double> G;
  if (!literalFactor(model.P0, m, G)) {
    draw.refused = true;
    return draw;
  }
  draw.states.assign(T * m, 0.0);
  // A NaN anywhere in the column makes the whole draw NaN, but in the rows
  // of z0 that diffuse states leave unread.
  bool hasNaN = false;
  for (uint64_t row = 0; row < m + T * (k + h); ++row)
    if (std::isnan(variates[row]) && (row >= m || model.P0[row + row * m] != std::numeric_limits<double>::infinity()))
      hasNaN = true;

  // x+ one step before the first period, then the simulated path and the
  // starts of the innovations, Y - y+.
  std::vector<double> simulated(m), previous(m), starts(n * T);
  std::vector<double> xPlus(m * T);
  for (uint64_t i = 0; i < m; ++i) {
    double s = model.x0[i];
    if (model.P0[i + i * m] != std::numeric_limits<double>::infinity())
      for (uint64_t j = 0; j <= i; ++j)
        if (model.P0[j + j * m] != std::numeric_limits<double>::infinity()) s += G[i + j * m] * variates[j];
    simulated[i] = s;
  }
  for (uint64_t t = 0; t < T; ++t) {
    const double *A = literalPage(model.A, model.pagedA, t, mm);
    const double *B = literalPage(model.B, model.pagedB, t, m * k);
    const double *C = literalPage(model.C, model.pagedC, t, n * m);
    const double *D = literalPage(model.D, model.pagedD, t, n * h);
    const uint64_t row = m + t * (k + h);
    previous = simulated;
    for (uint64_t i = 0; i < m; ++i) {
      double s = model.stateIntercept.empty() ? 0.0 : model.stateIntercept[t * m + i];
      for (uint64_t q = 0; q < k; ++q) s += B[i + q * m] * variates[row + q];
      for (uint64_t l = 0; l < m; ++l) s += A[i + l * m] * previous[l];
      simulated[i] = s;
      xPlus[t * m + i] = s;
    }
    for (uint64_t j = 0; j < n; ++j) {
      double s = model.observationIntercept.empty() ? 0.0 : model.observationIntercept[t * n + j];
      for (uint64_t l = 0; l < m; ++l) s += C[j + l * n] * simulated[l];
      for (uint64_t q = 0; q < h; ++q) s += D[j + q * n] * variates[row + k + q];
      starts[t * n + j] = model.Y[t + j * T] - s;
    }
  }

  // The smoother of Y - y+ from a zero start: forward, keeping a_t, P_t and,
  // of each used observation, K and (1/F)*v (of the decorrelated series where
  // they share noise; through the diffuse phase of a diffuse start).
  const LiteralForwardPass forward = literalForwardPass(model, starts);
  const std::vector<double> &predicted = forward.predictedStates;
  const std::vector<double> &covariances = forward.predictedCovariances;

  // Backward: r through A_{t+1}' out of period t, then through each used
  // observation as r + c'*(s - K'r), and the draw (x+ + a_t) + P_t*r. In the
  // diffuse phase r0 = r and r1 (zero after its last period): through a used
  // observation r0 as before and r1 - c'*(K'r1); through a diffuse step r1 +
  // c'*((s - K0'r1) - K1'r0) and r0 - c'*(K0'r0); the draw ((x+ + a_t) +
  // P*_t*r0) + P_inf_t*r1.
  std::vector<double> r(m, 0.0), r1(m, 0.0);
  auto dot = [m](const double *a, const std::vector<double> &b) {
    double s = 0.0;
    for (uint64_t l = 0; l < m; ++l) s += a[l] * b[l];
    return s;
  };
  for (uint64_t t = T; t-- > 0;) {
    const bool inPhase = t < forward.diffusePeriods;
    if (inPhase && t + 1 == forward.diffusePeriods) r1.assign(m, 0.0);
    if (t + 1 < T) {
      const double *A = literalPage(model.A, model.pagedA, t + 1, mm);
      for (std::vector<double> *carried : {&r, &r1}) {
        if (carried == &r1 && !inPhase) continue;
        const std::vector<double> q = *carried;
        for (uint64_t i = 0; i < m; ++i) {
          double s = 0.0;
          for (uint64_t l = 0; l < m; ++l) s += A[l + i * m] * q[l];
          (*carried)[i] = s;
        }
      }
    }
    for (uint64_t j = n; j-- > 0;) {
      const uint64_t o = t * n + j;
      const testing_support::LiteralUpdate &update = forward.updates[o];
      if (!update.used) continue;
      const double *c = forward.rows.data() + o * m;
      const double scaled = update.reciprocal * update.innovation;
      const double a0 = dot(update.gain.data(), r);
      const double a1 = inPhase ? dot(update.gain.data(), r1) : 0.0;
      if (!forward.diffuseSteps[o]) {
        const double g = scaled - a0;
        for (uint64_t l = 0; l < m; ++l) r[l] = c[l] * g + r[l];
        if (inPhase)
          for (uint64_t l = 0; l < m; ++l) r1[l] = r1[l] - c[l] * a1;
        continue;
      }
      const double g = (scaled - a1) - dot(forward.gainCorrections.data() + o * m, r);
      for (uint64_t l = 0; l < m; ++l) r1[l] = c[l] * g + r1[l];
      for (uint64_t l = 0; l < m; ++l) r[l] = r[l] - c[l] * a0;
    }
    for (uint64_t i = 0; i < m; ++i) {
      double s = xPlus[t * m + i] + predicted[t * m + i];
      for (uint64_t l = 0; l < m; ++l) s += covariances[t * mm + i + l * m] * r[l];
      if (inPhase)
        for (uint64_t l = 0; l < m; ++l) s += forward.infiniteParts[t * mm + i + l * m] * r1[l];
      draw.states[t + i * T] = s;
    }
  }
  if (hasNaN) draw.states.assign(T * m, std::numeric_limits<double>::quiet_NaN());
  return draw;
}
