#include "diffuse_smoothing.h"

#include "model_preparation.h"
#include "plain_sums.h"

#include <cmath>
#include <limits>

namespace {

// out_l = sum over i of v_i*X(i, l), i ascending: X'*v.
void transposeTimesVector(double *out, const double *X, const double *v, uint64_t m) {
  for (uint64_t l = 0; l < m; ++l) {
    double s = 0.0;
    for (uint64_t i = 0; i < m; ++i) {
      s += v[i] * X[i * m + l];
    }
    out[l] = s;
  }
}

// out = X*Y, element (i, l) the sum over q of X(i, q)*Y(q, l); all row by row.
void matrixTimesMatrix(double *out, const double *X, const double *Y, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l < m; ++l) {
      double s = 0.0;
      for (uint64_t q = 0; q < m; ++q) {
        s += X[i * m + q] * Y[q * m + l];
      }
      out[i * m + l] = s;
    }
  }
}

// r <- A'*r for A column-major as the caller holds it: r_i over q of
// A(q, i)*r_q; `copy` has room for m.
void throughTransition(double *r, const double *A, double *copy, uint64_t m) {
  for (uint64_t q = 0; q < m; ++q) {
    copy[q] = r[q];
  }
  for (uint64_t i = 0; i < m; ++i) {
    r[i] = plainDot(A + i * m, copy, m);
  }
}

// N <- A'*N*A: X(i, l) over q of N(i, q)*A(q, l), then N(i, l) over q of
// A(q, i)*X(q, l). `product` is m x m.
void informationThroughTransition(double *N, const double *A, double *product, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l < m; ++l) {
      product[i * m + l] = plainDot(N + i * m, A + l * m, m);
    }
  }
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l < m; ++l) {
      double s = 0.0;
      for (uint64_t q = 0; q < m; ++q) {
        s += A[q + i * m] * product[q * m + l];
      }
      N[i * m + l] = s;
    }
  }
}

// X <- L'*X*L with L = I - K*c, expanded: with b = X*K, a = X'*K and s =
// K'*b, element (i, l) is ((X(i, l) - c_i*a_l) - b_i*c_l) + c_i*(s*c_l). A
// symmetric X is formed below the diagonal and mirrored. `vectors` has room
// for 2m.
void throughUpdateMatrix(double *X, const double *K, const double *c, double *vectors, bool symmetric, uint64_t m) {
  double *b = vectors;
  double *a = vectors + m;
  plainRowsTimesVector(b, X, K, m);
  if (symmetric) {
    for (uint64_t l = 0; l < m; ++l) a[l] = b[l];
  } else {
    transposeTimesVector(a, X, K, m);
  }
  const double s = plainDot(K, b, m);
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l < (symmetric ? i + 1 : m); ++l) {
      X[i * m + l] = ((X[i * m + l] - c[i] * a[l]) - b[i] * c[l]) + c[i] * (s * c[l]);
    }
  }
  if (symmetric) {
    for (uint64_t i = 1; i < m; ++i)
      for (uint64_t l = 0; l < i; ++l) X[l * m + i] = X[i * m + l];
  }
}

// What one observation of the phase left for the way back.
struct StepRecord {
  double flag;
  const double *gain;        // K0, or K of a used observation
  const double *correction;  // K1 of a diffuse step
  double scaledInnovation;   // (1/F_inf)*v, or (1/F)*v
  double reciprocal;         // 1/F_inf, or 1/F (with the covariances)
  double finiteTerm;         // F*/F_inf^2 of a diffuse step
};

// r1 and r0 back through a diffuse step: with a1 = K0'*r1, b = K1'*r0 and a0
// = K0'*r0, r1_i = ((r1_i - c_i*a1) - c_i*b) + s*c_i and r0_i = r0_i - c_i*a0.
// Through a used observation: r0_i = (r0_i - c_i*a0) + s*c_i, r1_i = r1_i -
// c_i*a1, with K in place of K0.
void cumulantsBack(double *r0, double *r1, const StepRecord &step, const double *c, uint64_t m) {
  const double a0 = plainDot(step.gain, r0, m);
  const double a1 = plainDot(step.gain, r1, m);
  if (step.flag == diffuseStepFlag) {
    const double b = plainDot(step.correction, r0, m);
    for (uint64_t i = 0; i < m; ++i) {
      r1[i] = ((r1[i] - c[i] * a1) - c[i] * b) + step.scaledInnovation * c[i];
      r0[i] = r0[i] - c[i] * a0;
    }
    return;
  }
  for (uint64_t i = 0; i < m; ++i) {
    r0[i] = (r0[i] - c[i] * a0) + step.scaledInnovation * c[i];
    r1[i] = r1[i] - c[i] * a1;
  }
}

// N0, N1, N2 back through a diffuse step, every term from their values
// before it: with u0 = N0*K0, w1 = N0*K1, b1 = N1*K0, a1 = N1'*K0, z = N1*K1,
// b2 = N2*K0 and the scalars s00 = K0'*u0, s01 = K0'*w1, s11 = K1'*w1, s1 =
// K0'*b1, zc = K0'*z, s2 = K0'*b2, element (i, l) of
//   N0 is ((N0 - c_i*u0_l) - u0_i*c_l) + c_i*(s00*c_l),
//   N1 is ((c_i*c_l)*(1/F_inf) + (((N1 - c_i*a1_l) - b1_i*c_l) + c_i*(s1*c_l)))
//         + (c_i*(s01*c_l) - c_i*w1_l),
//   N2 is (((-(c_i*c_l)*f + (((N2 - c_i*b2_l) - b2_i*c_l) + c_i*(s2*c_l)))
//         + (c_i*(zc*c_l) - z_i*c_l)) + (c_i*(zc*c_l) - c_i*z_l)) + c_i*(s11*c_l),
// with f = F*/F_inf^2; N0 and N2 formed below the diagonal and mirrored.
void informationBackThroughDiffuseStep(DiffuseCarry &carry, double *N0, const StepRecord &step, const double *c,
                                       uint64_t m) {
  double *N1 = carry.firstInformation;
  double *N2 = carry.secondInformation;
  const double *K0 = step.gain;
  const double *K1 = step.correction;
  double *u0 = carry.vectors, *w1 = u0 + m, *b1 = w1 + m, *a1 = b1 + m, *z = a1 + m, *b2 = z + m;
  plainRowsTimesVector(u0, N0, K0, m);
  plainRowsTimesVector(w1, N0, K1, m);
  plainRowsTimesVector(b1, N1, K0, m);
  transposeTimesVector(a1, N1, K0, m);
  plainRowsTimesVector(z, N1, K1, m);
  plainRowsTimesVector(b2, N2, K0, m);
  const double s00 = plainDot(K0, u0, m), s01 = plainDot(K0, w1, m), s11 = plainDot(K1, w1, m);
  const double s1 = plainDot(K0, b1, m), zc = plainDot(K0, z, m), s2 = plainDot(K0, b2, m);
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l < m; ++l) {
      const uint64_t e = i * m + l;
      const double cc = c[i] * c[l];
      N1[e] = (cc * step.reciprocal + (((N1[e] - c[i] * a1[l]) - b1[i] * c[l]) + c[i] * (s1 * c[l]))) +
              (c[i] * (s01 * c[l]) - c[i] * w1[l]);
      if (l > i) continue;
      N0[e] = ((N0[e] - c[i] * u0[l]) - u0[i] * c[l]) + c[i] * (s00 * c[l]);
      N2[e] = (((-cc * step.finiteTerm + (((N2[e] - c[i] * b2[l]) - b2[i] * c[l]) + c[i] * (s2 * c[l]))) +
                (c[i] * (zc * c[l]) - z[i] * c[l])) +
               (c[i] * (zc * c[l]) - c[i] * z[l])) +
              c[i] * (s11 * c[l]);
    }
  }
  for (uint64_t i = 1; i < m; ++i) {
    for (uint64_t l = 0; l < i; ++l) {
      N0[l * m + i] = N0[i * m + l];
      N2[l * m + i] = N2[i * m + l];
    }
  }
}

// The smoothed covariance of a period of the phase into `page`: with the
// predicted P* and P_inf whole, (((P* - P*N0*P*) - G) - G') - P_inf*N2*P_inf,
// G = P_inf*N1*P*, each product formed left to right by matrixTimesMatrix;
// below the diagonal and mirrored. `stillDiffuse` (the phase lasted to the
// end of the sample) makes infinite the elements whose kappa term is not
// zero by the rule.
void writeDiffuseSmoothedCovariance(double *page, const double *P, const double *Pinf, const double *N0,
                                    const DiffuseCarry &carry, double *first, double *second, bool stillDiffuse,
                                    double largest, uint64_t m) {
  const double *N1 = carry.firstInformation;
  const double *N2 = carry.secondInformation;
  double *third = carry.matrices, *fourth = third + m * m, *fifth = fourth + m * m;
  matrixTimesMatrix(first, P, N0, m);
  matrixTimesMatrix(second, first, P, m);  // P*N0*P*
  for (uint64_t i = 0; i < m; ++i)
    for (uint64_t l = 0; l <= i; ++l) page[i * m + l] = P[i * m + l] - second[i * m + l];
  matrixTimesMatrix(third, Pinf, N1, m);
  matrixTimesMatrix(second, third, P, m);  // G
  for (uint64_t i = 0; i < m; ++i)
    for (uint64_t l = 0; l <= i; ++l) page[i * m + l] = (page[i * m + l] - second[i * m + l]) - second[l * m + i];
  matrixTimesMatrix(first, Pinf, N2, m);
  matrixTimesMatrix(second, first, Pinf, m);  // P_inf*N2*P_inf
  for (uint64_t i = 0; i < m; ++i)
    for (uint64_t l = 0; l <= i; ++l) page[i * m + l] = page[i * m + l] - second[i * m + l];
  if (stillDiffuse) {
    // The kappa term ((P_inf - P_inf*N1*P_inf) - S) - S', S = P_inf*N0*P*.
    matrixTimesMatrix(fourth, third, Pinf, m);  // P_inf*N1*P_inf
    matrixTimesMatrix(first, Pinf, N0, m);
    matrixTimesMatrix(fifth, first, P, m);  // S
    const double infinity = std::numeric_limits<double>::infinity();
    for (uint64_t i = 0; i < m; ++i) {
      for (uint64_t l = 0; l <= i; ++l) {
        const double kappaTerm = ((Pinf[i * m + l] - fourth[i * m + l]) - fifth[i * m + l]) - fifth[l * m + i];
        if (std::fabs(kappaTerm) > diffuseZeroTolerance * largest) {
          page[i * m + l] = std::copysign(infinity, kappaTerm);
        }
      }
    }
  }
  for (uint64_t i = 1; i < m; ++i)
    for (uint64_t l = 0; l < i; ++l) page[l * m + i] = page[i * m + l];
}

}  // namespace

void carryBackThroughDiffusePhase(SmootherWorkspace &workspace, const SmoothedCovarianceWorkspace *covariances,
                                  MissingTest isMissing) {
  StateSpaceModel &model = workspace.model;
  const uint64_t T = model.T;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  const DiffusePhaseRecords &kept = workspace.diffuseRecords;
  DiffuseCarry &carry = workspace.diffuseCarry;
  double *r0 = workspace.smoothingCumulant;
  double *r1 = carry.laterCumulant;
  double *N0 = covariances != nullptr ? covariances->information : nullptr;
  for (uint64_t i = 0; i < m; ++i) r1[i] = 0.0;
  if (N0 != nullptr) {
    for (uint64_t e = 0; e < m * m; ++e) carry.firstInformation[e] = carry.secondInformation[e] = 0.0;
  }
  // The phase lasted to the end of the sample: some direction may be seen by
  // no observation at all.
  const bool stillDiffuse = kept.periods == T && workspace.diffuse.active;
  double *P = workspace.scratch.transitionTimesCov;
  double *Pinf = workspace.diffuse.infinitePart;  // free once the way forward is over
  double *copy = workspace.scratch.stateCopy;
  const bool changes = changesByPeriod(model);
  for (uint64_t t = kept.periods; t-- > 0;) {
    if (changes) {
      preparePeriod(model, t, measurementForm | observationNoiseForm);
    }
    if (t + 1 < T) {
      const double *A = pageOfPeriod(model.A, t + 1).data;
      throughTransition(r0, A, copy, m);
      throughTransition(r1, A, copy, m);
      if (N0 != nullptr) {
        informationThroughTransition(N0, A, covariances->product, m);
        informationThroughTransition(carry.firstInformation, A, covariances->product, m);
        informationThroughTransition(carry.secondInformation, A, covariances->product, m);
      }
    }
    const double *rows = measurementRowsTaken(workspace, t, isMissing);
    for (uint64_t j = n; j-- > 0;) {
      const uint64_t o = t * n + j;
      const double flag = workspace.skipFlags[o];
      if (flag != diffuseStepFlag && flag >= 0.5) {
        continue;  // passed over
      }
      const StepRecord step{flag,
                            workspace.observationGains + o * m,
                            kept.gainCorrections + o * m,
                            workspace.scaledInnovations[o],
                            N0 != nullptr ? covariances->reciprocalVariances[o] : 0.0,
                            kept.finiteTerms[o]};
      const double *c = rows + j * m;
      if (N0 != nullptr) {
        if (flag == diffuseStepFlag) {
          informationBackThroughDiffuseStep(carry, N0, step, c, m);
        } else {
          carryInformationThroughUpdate(N0, step.gain, c, step.reciprocal, carry.vectors, m);
          throughUpdateMatrix(carry.firstInformation, step.gain, c, carry.vectors, false, m);
          throughUpdateMatrix(carry.secondInformation, step.gain, c, carry.vectors, true, m);
        }
      }
      cumulantsBack(r0, r1, step, c, m);
    }
    restoreSymmetric(P, workspace.predictedCovariances + t * lowerTriangleCount(m), m);
    restoreSymmetric(Pinf, kept.infiniteParts + t * lowerTriangleCount(m), m);
    double *deviation = workspace.predictedStates + t * m;
    for (uint64_t i = 0; i < m; ++i) {
      deviation[i] = (plainDot(P + i * m, r0, m) + plainDot(Pinf + i * m, r1, m)) + deviation[i];
    }
    if (N0 != nullptr) {
      writeDiffuseSmoothedCovariance(covariances->out + t * m * m, P, Pinf, N0, carry, covariances->product,
                                     covariances->secondProduct, stillDiffuse, workspace.diffuse.largest, m);
    }
  }
}
