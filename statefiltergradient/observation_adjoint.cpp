#include "observation_adjoint.h"

#include "dense_products.h"

ObservationDerivatives goBackOverObservation(double *M, double *xbar, const double *P, const double *x, const double *K,
                                             const double *c, double scaledInnovation, double reciprocal, uint64_t m,
                                             const ObservationAdjointScratch &scratch, double *rowGradient) {
  const double a = scaledInnovation;
  double *u = scratch.adjointTimesGain;
  double *dw = scratch.gainDirection;
  // M is symmetric, so its rows stand for its columns.
  vectorTimesRows(u, K, M, m);
  double s = 0.0;
  for (uint64_t l = 0; l < m; ++l) {
    s += xbar[l] * K[l];
  }
  double kappa = 0.0;
  for (uint64_t l = 0; l < m; ++l) {
    kappa += K[l] * u[l];
  }
  const double dF = ((kappa - a * s) + 0.5 * (a * a)) - 0.5 * reciprocal;
  const double dv = s - a;
  for (uint64_t i = 0; i < m; ++i) {
    dw[i] = a * xbar[i] - 2.0 * u[i];
  }
  // g overwrites u, whose last use was dw.
  double *g = u;
  for (uint64_t i = 0; i < m; ++i) {
    g[i] = 0.5 * (dw[i] + dF * c[i]);
  }
  // The two products of each element in either order give the same sum:
  // element (i, l) has the bits of element (l, i).
  for (uint64_t l = 0; l < m; ++l) {
    double *__restrict column = M + l * m;
    const double *__restrict cr = c;
    const double *__restrict gr = g;
    const double cl = c[l];
    const double gl = g[l];
    for (uint64_t i = 0; i < m; ++i) {
      column[i] = column[i] + (cr[i] * gl + cl * gr[i]);
    }
  }
  for (uint64_t i = 0; i < m; ++i) {
    xbar[i] = xbar[i] - dv * c[i];
  }
  // P is symmetric: its columns are its rows.
  double *Pdw = scratch.covarianceTimesDirection;
  vectorTimesRows(Pdw, dw, P, m);
  const double gainFactor = (2.0 * dF) * (1.0 / reciprocal);
  for (uint64_t i = 0; i < m; ++i) {
    rowGradient[i] = (Pdw[i] + gainFactor * K[i]) - dv * x[i];
  }
  return {dF, dv};
}
