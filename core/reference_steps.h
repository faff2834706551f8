// The plain loops of the steps that have fast kernels, all of them. They
// define the results: the reference kernel path is made of them, every other
// path must give their bits, and the tests hold it to that on odd sizes and
// special values.
#pragma once

#include "dense_kernels.h"
#include "filter_types.h"

#include <cstdint>

// Inline: for a few states they are the steps themselves, and a call would
// cost as much as the arithmetic.

// Runs the plain loops `loops(m)`, with m a constant when it is 1: compiled
// for one state they are a few instructions, where a loop's set-up would
// cost the local level model more than its arithmetic, every period.
template <class Loops>
inline void forStateCount(uint64_t m, Loops loops) {
  if (m == 1) {
    loops(uint64_t{1});
  } else {
    loops(m);
  }
}

// The sums of RowsTimesColumnsKernel: out[r*outStride + l] =
// init[r*initStride + l] (or 0.0) + sum over q of a[r*aStride + q] *
// b[q*bStride + l], q ascending.
inline void rowsTimesColumnsReference(double *out, uint64_t outStride, const double *init, uint64_t initStride,
                                      const double *a, uint64_t aStride, const double *b, uint64_t bStride,
                                      uint64_t rows, uint64_t lanes, uint64_t depth) {
  for (uint64_t r = 0; r < rows; ++r) {
    for (uint64_t l = 0; l < lanes; ++l) {
      double s = init != nullptr ? init[r * initStride + l] : 0.0;
      for (uint64_t q = 0; q < depth; ++q) {
        s += a[r * aStride + q] * b[q * bStride + l];
      }
      out[r * outStride + l] = s;
    }
  }
}

// The copies of TransposeKernel, element by element.
inline void transposeReference(double *to, uint64_t toStride, const double *from, uint64_t fromStride, uint64_t rows,
                               uint64_t columns) {
  for (uint64_t r = 0; r < rows; ++r) {
    for (uint64_t c = 0; c < columns; ++c) {
      to[c * toStride + r] = from[r * fromStride + c];
    }
  }
}

// x <- A*x, P <- A*P*A' + B*B', P read by columns (it may be asymmetric).
inline void predictStateReference(FilterState state, const PreparedModel &model, FilterScratch scratch, uint64_t m) {
  const double *A = model.transitionRows;
  double *x = state.x;
  double *P = state.P;
  double *AP = scratch.transitionTimesCov;

  for (uint64_t i = 0; i < m; ++i) {
    scratch.stateCopy[i] = x[i];
  }
  for (uint64_t i = 0; i < m; ++i) {
    double s = 0.0;
    for (uint64_t q = 0; q < m; ++q) {
      s += A[i * m + q] * scratch.stateCopy[q];
    }
    x[i] = s;
  }
  // A*P row by row, reading P by columns: P need not be symmetric on entry.
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t j = 0; j < m; ++j) {
      double s = 0.0;
      for (uint64_t q = 0; q < m; ++q) {
        s += A[i * m + q] * P[q + j * m];
      }
      AP[i * m + j] = s;
    }
  }
  // (A*P*A')(j, i) is row j of A against row i of A*P; B*B' is the first term.
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t j = i; j < m; ++j) {
      double s = model.stateNoiseCov[j + i * m];
      for (uint64_t q = 0; q < m; ++q) {
        s += A[j * m + q] * AP[i * m + q];
      }
      P[j + i * m] = s;
      P[i + j * m] = s;
    }
  }
}

// w_i = sum over s of P(s, i)*c(s).
inline void covTimesRowReference(double *covTimesRow, const double *measurementRow, const double *P, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    double s = 0.0;
    for (uint64_t q = 0; q < m; ++q) {
      s += P[q + i * m] * measurementRow[q];
    }
    covTimesRow[i] = s;
  }
}

// P <- P - K*w', lower triangle mirrored, in ascending columns; a column whose
// diagonal falls to zero or below is cleared with its row.
inline void downdateCovarianceReference(double *P, const double *covTimesRow, const double *gain, uint64_t m) {
  const double *w = covTimesRow;
  const double *K = gain;
  for (uint64_t i = 0; i < m; ++i) {
    const double p = P[i + i * m] - w[i] * K[i];
    P[i + i * m] = p;
    if (p <= 0.0) {
      // A variance that rounding drove to zero or below: drop the state until
      // the next prediction. A NaN p fails the test and is kept.
      for (uint64_t l = 0; l < m; ++l) {
        P[l + i * m] = 0.0;
        P[i + l * m] = 0.0;
      }
      continue;
    }
    for (uint64_t l = i + 1; l < m; ++l) {
      const double q = P[l + i * m] - w[i] * K[l];
      P[l + i * m] = q;
      P[i + l * m] = q;
    }
  }
}

// The correction of SymmetricDowndateKernel, element by element: P(l, i) less
// w_l*K_i above the diagonal, w_i*K_l on and below it; no state is cleared.
inline void symmetricDowndateReference(double *P, const double *w, const double *K, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l < m; ++l) {
      P[l + i * m] = P[l + i * m] - (l < i ? w[l] * K[i] : w[i] * K[l]);
    }
  }
}

// DowndateWithNextKernel: the correction, then the next series' w from the
// corrected P, written where `next` is once w and K are read.
inline void downdateWithNextReference(double *P, const double *w, const double *K, const double *nextRow,
                                      double *next, uint64_t m) {
  symmetricDowndateReference(P, w, K, m);
  covTimesRowReference(next, nextRow, P, m);
}

// One present observation through the plain loops: w, F from d, and when F is
// above tol (ordered: a NaN passes) v from its start less c(s)*x(s) in turn,
// K = (1/F)*w, x = v*K + x and the correction of P. Only tests and
// benchmarks call it whole; the modules take its steps one by one.
inline ObservationOutcome updateWithObservationReference(double innovationStart, const double *measurementRow,
                                                         double noiseVar, double tol, uint64_t m, FilterState state,
                                                         FilterScratch scratch) {
  const double *c = measurementRow;
  covTimesRowReference(scratch.covTimesRow, c, state.P, m);
  double F = noiseVar;
  for (uint64_t q = 0; q < m; ++q) {
    F += c[q] * scratch.covTimesRow[q];
  }
  if (F <= tol) {
    return {F, 0.0, 0.0, false};
  }
  double v = innovationStart;
  for (uint64_t s = 0; s < m; ++s) {
    v -= c[s] * state.x[s];
  }
  const double invF = 1.0 / F;
  for (uint64_t s = 0; s < m; ++s) {
    scratch.gain[s] = invF * scratch.covTimesRow[s];
    state.x[s] = v * scratch.gain[s] + state.x[s];
  }
  downdateCovarianceReference(state.P, scratch.covTimesRow, scratch.gain, m);
  return {F, v, invF, true};
}

// The smoothing cumulant back through a used observation: out = L'q + c'*s,
// element (l, i) of L = I - K*c formed as the update forms it, each sum from
// 0.0 in ascending l, the score added last.
inline void cumulantThroughUpdateReference(double *out, const double *q, const double *K, const double *c, double s,
                                           uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    double sum = 0.0;
    for (uint64_t l = 0; l < m; ++l) {
      const double update = (l == i ? 1.0 : 0.0) - K[l] * c[i];
      sum += q[l] * update;
    }
    out[i] = sum + s * c[i];
  }
}

// The way back over one used observation, the adjoint of the univariate
// update as the filter forms it. With w = P*c', F = d + c*w, v = y - c*x,
// K = w/F, the update sets x+ = x + K*v, P- = P - w*w'/F and subtracts
// 0.5*((ln F + ln 2pi) + v*v/F) from the log-likelihood (the guard that
// clears a state zeroes rows and columns of P- after it: the caller masks M
// for those first). From M and xbar, the derivatives of the summed
// log-likelihood with respect to P- and x+, with a = (1/F)*v:
//   x <- x - v*K, the state before the observation, v = a*(1/(1/F));
//   u = M*K (u_i over l of K_l*M(l, i)), s = xbar'*K, kappa = K'*u;
//   dF = ((kappa - a*s) + 0.5*(a*a)) - 0.5*(1/F), dv = s - a;
//   dw = a*xbar - 2*u, g = 0.5*(dw + dF*c');
//   the row's derivative but for P*dw: (2*dF)*(1/(1/F))*K - dv*x;
//   xbar <- xbar - dv*c', and M(i, l) <- M(i, l) + (c_i*g_l + c_l*g_i),
//   whose two products in either order give the same sum, so M stays
//   exactly symmetric.
// Then xbar and M are those of x and P before the update, dF the derivative
// with respect to the noise variance, dv with respect to y, and the row's
// derivative is P*dw plus the part above, P the covariance before the
// observation: with period.covariance, the one after it plus (F*K)*K',
// element (i, l) P(i, l) + (F*K_i)*K_l, and (P*dw)_i over l of
// dw_l*P(l, i), added first. Every sum is one accumulator from
// 0.0 in ascending index. `vectorTimesMatrix(out, v, M, m)` is u's product,
// out_i = sum over l of v_l*M[l*m + i] (vectorTimesRows); the kernels pass
// theirs, which give its bits, and compile these loops for their own vectors.
// The steps of used observation j besides u's product and M's correction:
// x <- x - v*K, then, from u = M*K, the derivatives (dF and dv recorded, dw
// and the row's part written) and xbar's step; g is left in place of u.
inline void observationAdjointSteps(double *xbar, double *x, const ObservationAdjointPeriod &period, uint64_t j,
                                    uint64_t m, double *u) {
  const double *__restrict K = period.gains + j * m;
  const double *__restrict c = period.measurementRows + j * m;
  const double a = period.scaledInnovations[j];
  const double reciprocal = period.reciprocals[j];
  const double F = 1.0 / reciprocal;
  const double v = a * F;
  double *__restrict state = x;
  for (uint64_t i = 0; i < m; ++i) {
    state[i] = state[i] - v * K[i];
  }
  // Two sums side by side, each its own accumulator: their chains overlap.
  double s = 0.0;
  double kappa = 0.0;
  for (uint64_t l = 0; l < m; ++l) {
    s += xbar[l] * K[l];
    kappa += K[l] * u[l];
  }
  const double dF = ((kappa - a * s) + 0.5 * (a * a)) - 0.5 * reciprocal;
  const double dv = s - a;
  const double gainFactor = (2.0 * dF) * F;
  double *__restrict dw = period.directions + j * m;
  double *__restrict rowGradient = period.rowGradients + j * m;
  double *__restrict adjoint = xbar;
  double *__restrict g = u;
  // g overwrites u, whose last use is dw.
  for (uint64_t i = 0; i < m; ++i) {
    dw[i] = a * adjoint[i] - 2.0 * g[i];
    g[i] = 0.5 * (dw[i] + dF * c[i]);
    rowGradient[i] = gainFactor * K[i] - dv * state[i];
    adjoint[i] = adjoint[i] - dv * c[i];
  }
  period.noiseGradients[j] = dF;
  if (period.innovationGradients != nullptr) {
    period.innovationGradients[j] = dv;
  }
}

template <class VectorTimesMatrix>
inline void observationAdjointsWith(VectorTimesMatrix vectorTimesMatrix, double *M, double *xbar, double *x,
                                    const ObservationAdjointPeriod &period, uint64_t count, uint64_t m,
                                    double *scratch) {
  for (uint64_t j = count; j-- > 0;) {
    if (period.skipFlags[j] >= 0.5) continue;
    double *__restrict u = scratch;
    vectorTimesMatrix(u, period.gains + j * m, M, m);
    observationAdjointSteps(xbar, x, period, j, m, u);
    const double *__restrict c = period.measurementRows + j * m;
    const double *__restrict g = u;
    for (uint64_t l = 0; l < m; ++l) {
      double *__restrict column = M + l * m;
      const double cl = c[l];
      const double gl = g[l];
      for (uint64_t i = 0; i < m; ++i) {
        column[i] = column[i] + (c[i] * gl + cl * g[i]);
      }
    }
    if (period.covariance == nullptr) continue;
    // The covariance before the observation, P + (F*K)*K', then its product
    // with dw added to the row's derivative: (P*dw)_i + part_i.
    const double *__restrict K = period.gains + j * m;
    const double F = 1.0 / period.reciprocals[j];
    for (uint64_t l = 0; l < m; ++l) {
      double *__restrict column = period.covariance + l * m;
      const double Kl = K[l];
      for (uint64_t i = 0; i < m; ++i) {
        column[i] = column[i] + (F * K[i]) * Kl;
      }
    }
    vectorTimesMatrix(scratch, period.directions + j * m, period.covariance, m);
    double *__restrict rowGradient = period.rowGradients + j * m;
    for (uint64_t i = 0; i < m; ++i) {
      rowGradient[i] = scratch[i] + rowGradient[i];
    }
  }
}

inline void observationAdjointsReference(double *M, double *xbar, double *x, const ObservationAdjointPeriod &period,
                                         uint64_t count, uint64_t m, double *scratch) {
  observationAdjointsWith(
      [](double *out, const double *v, const double *matrix, uint64_t states) {
        rowsTimesColumnsReference(out, 0, nullptr, 0, v, 0, matrix, states, 1, states, states);
      },
      M, xbar, x, period, count, m, scratch);
}

// CorrectDrawMeansKernel: for each draw, the innovation from its start less
// c(s)*x(s) in turn, then x(s) = v*K(s) + x(s) and (1/F)*v.
inline void correctDrawMeansReference(double *x, uint64_t stride, const double *start, const double *c,
                                      const double *K, double reciprocal, double *scaled, uint64_t m,
                                      uint64_t lanes) {
  for (uint64_t l = 0; l < lanes; ++l) {
    double v = start[l];
    for (uint64_t s = 0; s < m; ++s) {
      v -= c[s] * x[s * stride + l];
    }
    for (uint64_t s = 0; s < m; ++s) {
      x[s * stride + l] = v * K[s] + x[s * stride + l];
    }
    scaled[l] = reciprocal * v;
  }
}

// CarryDrawCumulantsKernel: for each draw, g = scaled - K'r with K'r one sum
// from 0.0 in ascending s, then r(s) = c(s)*g + r(s).
inline void carryDrawCumulantsReference(double *r, uint64_t stride, const double *scaled, const double *c,
                                        const double *K, uint64_t m, uint64_t lanes) {
  for (uint64_t l = 0; l < lanes; ++l) {
    double u = 0.0;
    for (uint64_t s = 0; s < m; ++s) {
      u += K[s] * r[s * stride + l];
    }
    const double g = scaled[l] - u;
    for (uint64_t s = 0; s < m; ++s) {
      r[s * stride + l] = c[s] * g + r[s * stride + l];
    }
  }
}
