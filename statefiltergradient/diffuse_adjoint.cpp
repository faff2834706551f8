#include "diffuse_adjoint.h"

#include "dense_products.h"
#include "lower_triangle.h"
#include "observation_adjoint.h"
#include "plain_sums.h"
#include "time_update.h"
#include "way_back_steps.h"

namespace {

// S(i, l) gains c_i*g_l + c_l*g_i: exactly symmetric.
void addSymmetricPair(double *S, const double *c, const double *g, uint64_t m) {
  for (uint64_t l = 0; l < m; ++l) {
    for (uint64_t i = 0; i < m; ++i) {
      S[i + l * m] = S[i + l * m] + (c[i] * g[l] + c[l] * g[i]);
    }
  }
}

// What the adjoint of one observation reads and writes.
struct StepAdjoint {
  const double *x, *P, *Pinf;  // before the observation
  const double *c;
  double noiseVariance, innovationStart;
  const double *K0;  // as the step formed it
  double *xbar, *Pbar, *Qbar;
  double *rowGradient, *noiseGradient, *innovationGradient;
};

// The adjoint of a diffuse step (see the header); `vectors` has room for 6m.
void goBackOverDiffuseStep(const StepAdjoint &step, double *vectors, uint64_t m) {
  const double *c = step.c;
  const double *K0 = step.K0;
  double *Minf = vectors, *Mfinite = Minf + m, *PK = Mfinite + m, *QM = PK + m, *PM = QM + m, *K0bar = PM + m;
  plainRowsTimesVector(Minf, step.Pinf, c, m);
  plainRowsTimesVector(Mfinite, step.P, c, m);
  const double Finf = plainDot(c, Minf, m);
  double Ffinite = step.noiseVariance;
  for (uint64_t q = 0; q < m; ++q) {
    Ffinite += c[q] * Mfinite[q];
  }
  double v = step.innovationStart;
  for (uint64_t s = 0; s < m; ++s) {
    v -= c[s] * step.x[s];
  }
  const double r = 1.0 / Finf;
  const double vbar = plainDot(step.xbar, K0, m);
  plainRowsTimesVector(PK, step.Pbar, K0, m);
  plainRowsTimesVector(QM, step.Qbar, Minf, m);
  plainRowsTimesVector(PM, step.Pbar, Mfinite, m);
  for (uint64_t i = 0; i < m; ++i) {
    K0bar[i] = (v * step.xbar[i] + (2.0 * Ffinite) * PK[i]) - 2.0 * PM[i];
  }
  const double FfiniteBar = plainDot(K0, PK, m);
  const double rbar = plainDot(K0bar, Minf, m) - plainDot(Minf, QM, m);
  const double FinfBar = -0.5 * r - (r * r) * rbar;
  // M*bar in PM's place, M_inf bar in K0bar's.
  double *MfiniteBar = PM, *MinfBar = K0bar;
  for (uint64_t i = 0; i < m; ++i) {
    MfiniteBar[i] = FfiniteBar * c[i] - 2.0 * PK[i];
    MinfBar[i] = (r * K0bar[i] - (2.0 * r) * QM[i]) + FinfBar * c[i];
  }
  for (uint64_t i = 0; i < m; ++i) {
    const double fromFinite = plainDot(step.P + i * m, MfiniteBar, m);
    const double fromInfinite = plainDot(step.Pinf + i * m, MinfBar, m);
    step.rowGradient[i] =
        (((fromFinite + FfiniteBar * Mfinite[i]) - vbar * step.x[i]) + FinfBar * Minf[i]) + fromInfinite;
  }
  *step.noiseGradient = FfiniteBar;
  *step.innovationGradient = vbar;
  for (uint64_t i = 0; i < m; ++i) {
    step.xbar[i] = step.xbar[i] - vbar * c[i];
    MfiniteBar[i] = 0.5 * MfiniteBar[i];
    MinfBar[i] = 0.5 * MinfBar[i];
  }
  addSymmetricPair(step.Pbar, c, MfiniteBar, m);
  addSymmetricPair(step.Qbar, c, MinfBar, m);
}

}  // namespace

double diffusePeriodStart(GradientWorkspace &workspace, uint64_t t, const double *x0, const double *P0,
                          double *x, double *P, double *Pinf) {
  const uint64_t m = workspace.model.m;
  if (t == 0) {
    copyDoubles(x, x0, m);
    copyDoubles(P, P0, m * m);
    DiffuseStart start{Pinf, nullptr, nullptr, 0.0, false};
    startDiffusePhase(start, P, m);
    return start.largest;
  }
  copyDoubles(x, stateAfterPeriod(workspace, t - 1), m);
  copyDoubles(P, covarianceAfterPeriod(workspace, t - 1), m * m);
  restoreSymmetric(Pinf, workspace.diffuseEnds.infiniteParts + (t - 1) * lowerTriangleCount(m), m);
  return workspace.diffuseEnds.largest[t - 1];
}

void goBackOverDiffusePeriod(GradientWorkspace &workspace, uint64_t t, const SeriesTaken &taken, const double *x0,
                             const double *P0) {
  StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  FilterState &state = workspace.state;
  DiffuseStart &diffuse = workspace.diffuse;
  DiffuseAdjoint &back = workspace.diffuseAdjoint;
  double *flags = workspace.skipFlags + t * n;
  for (uint64_t j = 0; j < n; ++j) {
    fillZeros(workspace.rowGradients + j * m, m);
    workspace.noiseGradients[j] = 0.0;
    workspace.innovationGradients[j] = 0.0;
    flags[j] = 1.0;
  }
  // The period's prediction again, with the filter's own steps.
  diffuse.largest = diffusePeriodStart(workspace, t, x0, P0, state.x, state.P, diffuse.infinitePart);
  predictState(state, model.period, workspace.scratch, m);
  predictInfinitePart(diffuse, model.period.transitionColumns, workspace.scratch.transitionTimesCov, m);
  copyDoubles(workspace.predictedState, state.x, m);
  copyDoubles(workspace.predictedCovariance, state.P, m * m);
  copyDoubles(back.predictedInfinite, diffuse.infinitePart, m * m);
  const double predictedLargest = diffuse.largest;
  double *gain = back.vectors + 7 * m;
  for (uint64_t j = taken.count; j-- > 0;) {
    const double *y = taken.y + j * taken.yStride;
    if (taken.isMissing(*y)) continue;
    // The state before observation j: the period's updates up to it again.
    copyDoubles(state.x, workspace.predictedState, m);
    copyDoubles(state.P, workspace.predictedCovariance, m * m);
    copyDoubles(diffuse.infinitePart, back.predictedInfinite, m * m);
    diffuse.largest = predictedLargest;
    updateInDiffusePhase(taken.y, taken.yStride, j, taken.period, model.tol, m, state, workspace.scratch, diffuse,
                         taken.isMissing);
    copyDoubles(back.stateBefore, state.x, m);
    copyDoubles(back.covarianceBefore, state.P, m * m);
    copyDoubles(back.infiniteBefore, diffuse.infinitePart, m * m);
    // Observation j alone, recorded: the step it took, and the state after it.
    PreparedModel one = taken.period;
    one.measurementRows += j * m;
    one.observationNoiseVar += j;
    double flag = 0.0, scaledInnovation = 0.0, reciprocal = 0.0;
    const ObservationRecords records{nullptr, gain, &scaledInnovation, &flag, &reciprocal};
    updateInDiffusePhase(y, taken.yStride, 1, one, model.tol, m, state, workspace.scratch, diffuse, taken.isMissing,
                         &records);
    if (flag == 1.0) continue;  // passed over: it contributes nothing, and at F = tol nothing is asked
    flags[j] = 0.0;
    maskClearedStates(workspace.covarianceAdjoint, state.P, m);
    if (flag == diffuseStepFlag) {
      maskClearedStates(back.infiniteAdjoint, diffuse.infinitePart, m);
      const StepAdjoint step{back.stateBefore,
                             back.covarianceBefore,
                             back.infiniteBefore,
                             one.measurementRows,
                             one.observationNoiseVar[0],
                             *y,
                             gain,
                             workspace.stateAdjoint,
                             workspace.covarianceAdjoint,
                             back.infiniteAdjoint,
                             workspace.rowGradients + j * m,
                             workspace.noiseGradients + j,
                             workspace.innovationGradients + j};
      goBackOverDiffuseStep(step, back.vectors, m);
      continue;
    }
    // F_inf zero: the update of a known start on x and P*, P_inf unchanged.
    const double used = 0.0;
    const ObservationAdjointPeriod period{gain,
                                          &scaledInnovation,
                                          &reciprocal,
                                          &used,
                                          one.measurementRows,
                                          workspace.directions + j * m,
                                          workspace.rowGradients + j * m,
                                          workspace.noiseGradients + j,
                                          workspace.innovationGradients + j,
                                          nullptr};
    goBackOverObservationsOfPeriod(workspace.covarianceAdjoint, workspace.stateAdjoint, state.x, period, 1, m,
                                   workspace.adjointTimesGain);
    vectorTimesRows(workspace.vector, workspace.directions + j * m, back.covarianceBefore, m);
    double *rowGradient = workspace.rowGradients + j * m;
    for (uint64_t i = 0; i < m; ++i) {
      rowGradient[i] = workspace.vector[i] + rowGradient[i];
    }
  }
}
