#include "literal_state_smoother.h"

#include "literal_steps.h"

#include <algorithm>
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
      const double *row = forward.rows.data() + o * m;  // the row the update took
      std::vector<double> L(mm);
      for (uint64_t i = 0; i < m; ++i)
        for (uint64_t l = 0; l < m; ++l) L[i + l * m] = (i == l ? 1.0 : 0.0) - K[i] * row[l];
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
      for (uint64_t l = 0; l < m; ++l) score[o * m + l] = (update.reciprocal * update.innovation) * row[l];
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

namespace {

// The series period t's updates take: the rows, noise variances and
// innovation starts of the first `count` slots, and whether each is there.
struct LiteralSeries {
  uint64_t count = 0;
  std::vector<double> rows, variances, starts;
  std::vector<bool> present;
};

// The period's own series; or, where the noise of its observed series O has
// an element off its diagonal (a product with a zero loading left out), the
// decorrelated ones (literalDecorrelatedSeries).
LiteralSeries literalSeriesTaken(const SmootherTestModel &model, uint64_t t, const std::vector<double> &starts) {
  const uint64_t T = model.T, n = model.n, m = model.m, h = model.h;
  const double *C = literalPage(model.C, model.pagedC, t, n * m);
  const double *D = literalPage(model.D, model.pagedD, t, n * h);
  std::vector<uint64_t> O;
  for (uint64_t j = 0; j < n; ++j)
    if (!std::isnan(model.Y[t + j * T])) O.push_back(j);
  const uint64_t p = O.size();
  bool correlated = false;
  for (uint64_t i = 0; i < p; ++i) {
    for (uint64_t q = 0; q < i; ++q) {
      double s = 0.0;
      for (uint64_t l = 0; l < h; ++l) {
        const double a = D[O[i] + l * n], b = D[O[q] + l * n];
        if (a != 0.0 && b != 0.0) s += a * b;
      }
      correlated = correlated || s != 0.0;
    }
  }
  LiteralSeries taken;
  if (p < 2 || !correlated) {
    taken.count = n;
    for (uint64_t j = 0; j < n; ++j) {
      for (uint64_t s = 0; s < m; ++s) taken.rows.push_back(C[j + s * n]);
      taken.variances.push_back(testing_support::literalNoiseVariance(D, n, j, h));
      taken.starts.push_back(starts[t * n + j]);
      taken.present.push_back(!std::isnan(model.Y[t + j * T]));
    }
    return taken;
  }
  std::vector<double> y(n), periodStarts(starts.begin() + static_cast<long>(t * n),
                                         starts.begin() + static_cast<long>((t + 1) * n));
  for (uint64_t j = 0; j < n; ++j) y[j] = model.Y[t + j * T];
  const testing_support::LiteralSeriesOf<double> series =
      testing_support::literalDecorrelatedSeries(y, periodStarts, C, D, n, m, h);
  taken.count = p;
  taken.variances = series.variances;
  taken.present.assign(p, true);
  taken.rows = series.rows;
  taken.starts = series.starts;
  return taken;
}

}  // namespace

LiteralForwardPass literalForwardPass(const SmootherTestModel &model, const std::vector<double> &starts) {
  const uint64_t T = model.T, n = model.n, m = model.m, k = model.k;
  const uint64_t mm = m * m;
  LiteralForwardPass forward;
  forward.predictedStates.resize(m * T);
  forward.predictedCovariances.resize(mm * T);
  forward.rows.assign(n * T * m, 0.0);
  forward.diffuseSteps.assign(n * T, false);
  forward.gainCorrections.assign(n * T * m, 0.0);
  std::vector<double> x(m, 0.0), P(model.P0.begin(), model.P0.begin() + static_cast<long>(mm));
  // P0 = P* + kappa*P_inf, P_inf the 0/1 diagonal of the diffuse states.
  testing_support::LiteralDiffuseOf<double> diffuse = testing_support::literalDiffuseStart(P, m);
  for (uint64_t t = 0; t < T; ++t) {
    const double *A = literalPage(model.A, model.pagedA, t, mm);
    testing_support::literalPrediction(x, P, A, literalPage(model.B, model.pagedB, t, m * k), m, k);
    for (uint64_t i = 0; i < m; ++i) forward.predictedStates[t * m + i] = x[i];
    for (uint64_t e = 0; e < mm; ++e) forward.predictedCovariances[t * mm + e] = P[e];
    const bool inPhase = diffuse.active;
    if (inPhase) {
      testing_support::literalInfinitePrediction(diffuse, A, m);
      forward.infiniteParts.insert(forward.infiniteParts.end(), diffuse.Pinf.begin(), diffuse.Pinf.end());
      forward.diffusePeriods = t + 1;
    }
    const LiteralSeries taken = literalSeriesTaken(model, t, starts);
    for (uint64_t j = 0; j < n; ++j) {
      const uint64_t o = t * n + j;
      if (j >= taken.count || !taken.present[j]) {
        forward.updates.emplace_back();
        continue;
      }
      const double *c = taken.rows.data() + j * m;
      std::copy(c, c + m, forward.rows.begin() + static_cast<long>(o * m));
      if (!inPhase) {
        forward.updates.push_back(
            testing_support::literalUpdateWithRow(0.0, taken.starts[j], c, 1, taken.variances[j], m, model.tol, x, P));
        continue;
      }
      const testing_support::LiteralUpdate update = testing_support::literalDiffuseUpdate(
          0.0, taken.starts[j], c, 1, taken.variances[j], m, model.tol, x, P, diffuse);
      forward.diffuseSteps[o] = update.diffuseStep;
      if (update.diffuseStep) std::copy(update.correction.begin(), update.correction.end(),
                                        forward.gainCorrections.begin() + static_cast<long>(o * m));
      forward.updates.push_back(update);
    }
    if (inPhase) testing_support::literalEndDiffusePhaseWhenDone(diffuse);
  }
  return forward;
}
