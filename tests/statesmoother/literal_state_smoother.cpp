#include "literal_state_smoother.h"

#include "literal_steps.h"

#include <cmath>
#include <limits>

using testing_support::literalPage;

namespace {

// Element (i, j) of the matrix of period t, for a coefficient with `rows` rows
// and pages of `pageSize` elements.
double at(const std::vector<double> &data, bool paged, uint64_t t, uint64_t pageSize, uint64_t rows, uint64_t i,
          uint64_t j) {
  return literalPage(data, paged, t, pageSize)[i + j * rows];
}

}  // namespace

std::vector<double> literalMeanPath(const SmootherTestModel &model) {
  const uint64_t T = model.T, m = model.m;
  // The accumulator starts from the intercept (or 0.0).
  std::vector<double> meanStates(m * T);
  for (uint64_t t = 0; t < T; ++t)
    for (uint64_t i = 0; i < m; ++i) {
      double s = model.stateIntercept.empty() ? 0.0 : model.stateIntercept[t * m + i];
      for (uint64_t l = 0; l < m; ++l)
        s += at(model.A, model.pagedA, t, m * m, m, i, l) * (t == 0 ? model.x0[l] : meanStates[(t - 1) * m + l]);
      meanStates[t * m + i] = s;
    }
  return meanStates;
}

LiteralSmootherResult literalStateSmoother(const SmootherTestModel &model) {
  const uint64_t T = model.T, n = model.n, m = model.m;
  const uint64_t mm = m * m;
  auto a = [&](uint64_t t, uint64_t i, uint64_t j) { return at(model.A, model.pagedA, t, mm, m, i, j); };
  auto c = [&](uint64_t t, uint64_t i, uint64_t j) { return at(model.C, model.pagedC, t, n * m, n, i, j); };
  LiteralSmootherResult result;
  result.innovationVariances.assign(n * T, std::numeric_limits<double>::quiet_NaN());

  const std::vector<double> meanStates = literalMeanPath(model);
  std::vector<double> meanObservations(n * T);
  for (uint64_t t = 0; t < T; ++t)
    for (uint64_t j = 0; j < n; ++j) {
      double s = model.observationIntercept.empty() ? 0.0 : model.observationIntercept[t * n + j];
      for (uint64_t l = 0; l < m; ++l) s += c(t, j, l) * meanStates[t * m + l];
      meanObservations[t * n + j] = s;
    }

  // Forward pass on the deviation from the mean path.
  std::vector<double> starts(n * T);
  for (uint64_t t = 0; t < T; ++t)
    for (uint64_t j = 0; j < n; ++j) starts[t * n + j] = model.Y[t + j * T] - meanObservations[t * n + j];
  LiteralForwardPass forward = literalForwardPass(model, starts);
  std::vector<double> &predictedStates = forward.predictedStates;
  const std::vector<double> &predictedCovariances = forward.predictedCovariances;
  std::vector<double> transfer(mm * n * T), score(m * n * T), flag(n * T, 0.0);
  for (uint64_t t = 0; t < T; ++t) {
    // The transition that carries period t into t+1 (its own for the last).
    const uint64_t next = t + 1 < T ? t + 1 : t;
    for (uint64_t j = 0; j < n; ++j) {
      const uint64_t o = t * n + j;
      double *M = transfer.data() + o * mm;
      const testing_support::LiteralUpdate &update = forward.updates[o];
      result.innovationVariances[o] = update.variance;
      if (!update.used) {
        for (uint64_t i = 0; i < m; ++i)
          for (uint64_t l = 0; l < m; ++l)
            M[i + l * m] = j + 1 < n ? (i == l ? 1.0 : 0.0) : a(next, i, l);
        for (uint64_t l = 0; l < m; ++l) score[o * m + l] = 0.0;
        flag[o] = 1.0;
        continue;
      }
      const std::vector<double> &K = update.gain;
      std::vector<double> L(mm);
      for (uint64_t i = 0; i < m; ++i)
        for (uint64_t l = 0; l < m; ++l) L[i + l * m] = (i == l ? 1.0 : 0.0) - K[i] * c(t, j, l);
      for (uint64_t i = 0; i < m; ++i)
        for (uint64_t l = 0; l < m; ++l) {
          if (j + 1 < n) {
            M[i + l * m] = L[i + l * m];
            continue;
          }
          double s = 0.0;
          for (uint64_t q = 0; q < m; ++q) s += a(next, i, q) * L[q + l * m];
          M[i + l * m] = s;
        }
      for (uint64_t l = 0; l < m; ++l) score[o * m + l] = (update.reciprocal * update.innovation) * c(t, j, l);
    }
  }

  // Backward pass.
  std::vector<double> r(m, 0.0);
  for (uint64_t t = T; t-- > 0;) {
    for (uint64_t j = n; j-- > 0;) {
      const uint64_t o = t * n + j;
      const std::vector<double> q = r;
      for (uint64_t i = 0; i < m; ++i) {
        double s = 0.0;
        for (uint64_t l = 0; l < m; ++l) s += q[l] * transfer[o * mm + l + i * m];
        r[i] = s;
      }
      if (flag[o] < 0.5)
        for (uint64_t i = 0; i < m; ++i) r[i] = r[i] + score[o * m + i];
    }
    for (uint64_t i = 0; i < m; ++i) {
      double s = 0.0;
      for (uint64_t l = 0; l < m; ++l) s += r[l] * predictedCovariances[t * mm + l + i * m];
      predictedStates[t * m + i] = s + predictedStates[t * m + i];
    }
  }

  result.smoothed.assign(T * m, 0.0);
  for (uint64_t t = 0; t < T; ++t)
    for (uint64_t i = 0; i < m; ++i)
      result.smoothed[t + i * T] = predictedStates[t * m + i] + meanStates[t * m + i];
  return result;
}

LiteralForwardPass literalForwardPass(const SmootherTestModel &model, const std::vector<double> &starts) {
  const uint64_t T = model.T, n = model.n, m = model.m, k = model.k, h = model.h;
  const uint64_t mm = m * m;
  LiteralForwardPass forward;
  forward.predictedStates.resize(m * T);
  forward.predictedCovariances.resize(mm * T);
  std::vector<double> x(m, 0.0), P(model.P0.begin(), model.P0.begin() + static_cast<long>(mm));
  for (uint64_t t = 0; t < T; ++t) {
    testing_support::literalPrediction(x, P, literalPage(model.A, model.pagedA, t, mm),
                                       literalPage(model.B, model.pagedB, t, m * k), m, k);
    for (uint64_t i = 0; i < m; ++i) forward.predictedStates[t * m + i] = x[i];
    for (uint64_t e = 0; e < mm; ++e) forward.predictedCovariances[t * mm + e] = P[e];
    const double *C = literalPage(model.C, model.pagedC, t, n * m);
    const double *D = literalPage(model.D, model.pagedD, t, n * h);
    for (uint64_t j = 0; j < n; ++j) {
      forward.updates.push_back(
          testing_support::literalUpdate(model.Y[t + j * T], starts[t * n + j], C, D, n, j, m, h, model.tol, x, P));
    }
  }
  return forward;
}
