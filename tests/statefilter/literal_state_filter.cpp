#include "literal_state_filter.h"

#include "literal_steps.h"

#include <algorithm>
#include <cmath>

using testing_support::literalPage;

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
    const double *C = literalPage(model.C, model.pagedC, t, n * m);
    const double *D = literalPage(model.D, model.pagedD, t, n * h);
    double ell = 0.0;
    for (uint64_t j = 0; j < std::max<uint64_t>(n, states != nullptr ? 1 : 0); ++j) {
      if (j == 0) {
        testing_support::literalPrediction(x, P, literalPage(model.A, model.pagedA, t, m * m),
                                           literalPage(model.B, model.pagedB, t, m * k), m, k);
      }
      if (j >= n) break;  // a period without series, predicted for its state
      const double y = model.Y[t + j * T];
      const testing_support::LiteralUpdate update = testing_support::literalUpdate(y, y, C, D, n, j, m, h, model.tol, x, P);
      if (!update.used) continue;
      const double F = update.variance, v = update.innovation;
      ell = ell - 0.5 * ((std::log(F) + 1.837877066409345) + (v * v) * update.reciprocal);
    }
    out[t] = ell;
    if (states != nullptr) {
      for (uint64_t i = 0; i < m; ++i) states->means[t + i * T] = x[i];
      std::copy(P.begin(), P.end(), states->covariances.begin() + static_cast<long>(t * m * m));
    }
  }
  return out;
}
