#include "transition_adjoint.h"

#include "dense_kernels.h"
#include "dense_products.h"

namespace {

bool exactlySymmetric(const double *P, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l < i; ++l) {
      if (P[i + l * m] != P[l + i * m] && !(P[i + l * m] != P[i + l * m] && P[l + i * m] != P[l + i * m])) {
        return false;
      }
    }
  }
  return true;
}

// Adds Delta*A*(P0' - P0) to out (m x m, column-major), Delta(i, q) =
// Pbar(i, q) above the diagonal, -Pbar(i, q) below it and 0 on it; each sum
// in ascending index, A*(P0' - P0) first. Once a call, for an asymmetric P0.
void addAsymmetricPart(double *out, const double *Pbar, const double *transitionRows, const double *P0,
                       double *product, uint64_t m) {
  for (uint64_t q = 0; q < m; ++q) {
    for (uint64_t l = 0; l < m; ++l) {
      double s = 0.0;
      for (uint64_t r = 0; r < m; ++r) {
        s += transitionRows[q * m + r] * (P0[l + r * m] - P0[r + l * m]);
      }
      product[q * m + l] = s;
    }
  }
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l < m; ++l) {
      double s = 0.0;
      for (uint64_t q = 0; q < m; ++q) {
        const double delta = q > i ? Pbar[i + q * m] : (q < i ? -Pbar[i + q * m] : 0.0);
        s += delta * product[q * m + l];
      }
      out[i + l * m] = out[i + l * m] + s;
    }
  }
}

// Through a prediction S = A*Sp*A' (+ noise): Y = A'*Sbar row by row, in
// transitionProduct; Sbar <- Y*A below the diagonal, mirrored (the columns
// of A are the rows of A'); and when A's derivative is asked, Sp*Y row by
// row in `product`, which is (Sbar*A*Sp)' row by row: A's derivative column
// by column, each element one sum over q of Sp(l, q)*Y(q, i).
void carryCovarianceAdjoint(double *Sbar, const double *Sp, const PreparedModel &period,
                            const TransitionAdjointScratch &scratch, uint64_t m, bool wantsA) {
  double *Y = scratch.transitionProduct;
  rowsTimesRows(Y, period.transitionColumns, Sbar, m);
  rowsTimesRowsLower(Sbar, Y, period.transitionRows, m);
  mirrorLowerTriangle(Sbar, m);
  if (wantsA) {
    rowsTimesRows(scratch.product, Sp, Y, m);
  }
}

}  // namespace

void stateNoiseLoadingGradient(double *out, const double *Qbar, const double *B, uint64_t m, uint64_t k) {
  // Without states B holds nothing, however many columns it claims.
  if (m == 0) return;
  denseKernels().rowsTimesColumns(out, m, nullptr, 0, B, m, Qbar, m, k, m, m);
  for (uint64_t e = 0; e < m * k; ++e) {
    out[e] = 2.0 * out[e];
  }
}

void goBackOverPrediction(GradientWorkspace &workspace, uint64_t t, const double *xp, const double *Pp,
                          bool firstPeriod, const GradientOutputs &outputs, const TransitionAdjointScratch &scratch,
                          const double *Pinf) {
  StateSpaceModel &model = workspace.model;
  const uint64_t m = model.m;
  const uint64_t k = model.k;
  double *Pbar = workspace.covarianceAdjoint;
  double *xbar = workspace.stateAdjoint;
  const PreparedModel &period = model.period;

  if (outputs.B != nullptr) {
    if (changesByPeriod(model.B)) {
      stateNoiseLoadingGradient(outputs.B + t * m * k, Pbar, pageOfPeriod(model.B, t).data, m, k);
    } else {
      for (uint64_t e = 0; e < m * m; ++e) {
        workspace.stateNoiseAdjoint[e] = workspace.stateNoiseAdjoint[e] + Pbar[e];
      }
    }
  }
  const bool pagedA = changesByPeriod(model.A);
  double *A = outputs.A != nullptr ? outputs.A + (pagedA ? t * m * m : 0) : nullptr;
  // A paged A's page starts from the asymmetric part's term, or from nothing.
  bool startsFromZero = pagedA;
  if (firstPeriod && !exactlySymmetric(Pp, m)) {
    if (A != nullptr) {
      addAsymmetricPart(A, Pbar, period.transitionRows, Pp, scratch.product, m);
      startsFromZero = false;
    }
    double *symmetricPart = workspace.state.P;
    for (uint64_t l = 0; l < m; ++l) {
      for (uint64_t i = 0; i < m; ++i) {
        symmetricPart[i + l * m] = (Pp[i + l * m] + Pp[l + i * m]) * 0.5;
      }
    }
    Pp = symmetricPart;
  }
  carryCovarianceAdjoint(Pbar, Pp, period, scratch, m, A != nullptr);
  if (A != nullptr) {
    for (uint64_t l = 0; l < m; ++l) {
      const double *__restrict product = scratch.product + l * m;
      const double *__restrict adjoint = xbar;
      double *__restrict column = A + l * m;
      const double xl = xp[l];
      for (uint64_t i = 0; i < m; ++i) {
        const double term = 2.0 * product[i] + adjoint[i] * xl;
        column[i] = startsFromZero ? term : column[i] + term;
      }
    }
  }
  if (Pinf != nullptr) {
    // The same steps for P_inf, whose prediction adds no noise.
    carryCovarianceAdjoint(workspace.diffuseAdjoint.infiniteAdjoint, Pinf, period, scratch, m, A != nullptr);
    if (A != nullptr) {
      for (uint64_t l = 0; l < m; ++l) {
        const double *__restrict product = scratch.product + l * m;
        double *__restrict column = A + l * m;
        for (uint64_t i = 0; i < m; ++i) {
          column[i] = column[i] + 2.0 * product[i];
        }
      }
    }
  }
  vectorTimesRows(scratch.vector, xbar, period.transitionRows, m);
  for (uint64_t i = 0; i < m; ++i) {
    xbar[i] = scratch.vector[i];
  }
}
