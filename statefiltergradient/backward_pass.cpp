#include "backward_pass.h"

#include "dense_products.h"
#include "measurement_update.h"
#include "model_preparation.h"
#include "observation_adjoint.h"
#include "time_update.h"
#include "transition_adjoint.h"

namespace {

void copyDoubles(double *to, const double *from, uint64_t count) {
  for (uint64_t e = 0; e < count; ++e) {
    to[e] = from[e];
  }
}

// Whether the guard may have cleared a state in the period: a cleared state
// keeps a variance of exactly 0.0 to the period's end, and a variance at or
// below zero left by the prediction is the guard's to clear.
bool mayHaveClearedAState(const double *P, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    if (P[i + i * m] <= 0.0) return true;
  }
  return false;
}

// M <- Z*M*Z for the states the update cleared: after the update their
// variance is exactly 0.0 (a variance the update leaves above zero, or NaN,
// is kept), and their rows and columns of P are constants.
void maskClearedStates(double *M, const double *P, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    if (P[i + i * m] != 0.0) continue;
    for (uint64_t l = 0; l < m; ++l) {
      M[l + i * m] = 0.0;
      M[i + l * m] = 0.0;
    }
  }
}

// The state and covariance after period t-1, as the way forward left them:
// x0 and P0 (as given) before the first period.
void restorePeriodEnd(const GradientWorkspace &workspace, uint64_t t, double *x, double *P) {
  const uint64_t m = workspace.model.m;
  copyDoubles(x, workspace.filteredStates + t * m, m);
  restoreSymmetric(P, workspace.filteredCovariances + t * lowerTriangleCount(m), m);
}

// Goes back over the observations of period t, last to first. On entry the
// adjoints are those of the state after the period, on return those of its
// prediction; rowGradients and noiseGradients receive the derivatives with
// respect to each row of C_t and each noise variance (zero for a row passed
// over). The point before each observation is the state after it with the
// update taken back, x - v*K and P + F*(K*K'), which rounding changes only
// in its last bits; in a period where the guard may have cleared a state,
// whose row no longer holds what the update took from it, the period's
// updates are run again from its prediction up to the observation, with the
// filter's own steps and so its bits and its decisions.
void goBackOverObservations(GradientWorkspace &workspace, uint64_t t, const double *Y, const double *x0,
                            const double *P0, MissingTest isMissing) {
  StateSpaceModel &model = workspace.model;
  const uint64_t T = model.T;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  FilterState &state = workspace.state;
  const bool guarded = [&] {
    restorePeriodEnd(workspace, t, state.x, state.P);
    return mayHaveClearedAState(state.P, m);
  }();
  if (guarded) {
    if (t == 0) {
      initialiseState(state, x0, P0, m);
    } else {
      restorePeriodEnd(workspace, t - 1, state.x, state.P);
    }
    predictState(state, model.period, workspace.scratch, m);
    copyDoubles(workspace.predictedState, state.x, m);
    copyDoubles(workspace.predictedCovariance, state.P, m * m);
    restorePeriodEnd(workspace, t, state.x, state.P);
  }
  const ObservationAdjointScratch scratch{workspace.adjointTimesGain, workspace.gainDirection,
                                          workspace.covarianceTimesDirection};
  for (uint64_t j = n; j-- > 0;) {
    const uint64_t o = t * n + j;
    double *rowGradient = workspace.rowGradients + j * m;
    for (uint64_t i = 0; i < m; ++i) rowGradient[i] = 0.0;
    workspace.noiseGradients[j] = 0.0;
    if (workspace.skipFlags[o] >= 0.5) {
      continue;  // passed over: it contributes nothing, and at F = tol nothing is asked
    }
    const double *K = workspace.observationGains + o * m;
    const double scaledInnovation = workspace.scaledInnovations[o];
    const double reciprocal = workspace.reciprocalVariances[o];
    if (guarded) {
      maskClearedStates(workspace.covarianceAdjoint, state.P, m);
      copyDoubles(state.x, workspace.predictedState, m);
      copyDoubles(state.P, workspace.predictedCovariance, m * m);
      updateWithObservations(Y + t, T, j, model.period, model.tol, m, state, workspace.scratch, isMissing);
    } else {
      const double F = 1.0 / reciprocal;
      const double v = scaledInnovation * F;
      for (uint64_t i = 0; i < m; ++i) {
        state.x[i] = state.x[i] - v * K[i];
      }
      for (uint64_t l = 0; l < m; ++l) {
        for (uint64_t i = 0; i < m; ++i) {
          state.P[i + l * m] = state.P[i + l * m] + F * (K[i] * K[l]);
        }
      }
    }
    const ObservationDerivatives derivatives =
        goBackOverObservation(workspace.covarianceAdjoint, workspace.stateAdjoint, state.P, state.x, K,
                              model.period.measurementRows + j * m, scaledInnovation, reciprocal, m, scratch,
                              rowGradient);
    // The correlated-noise transform will take derivatives.innovationStart.
    workspace.noiseGradients[j] = derivatives.noiseVariance;
  }
}

// The derivatives with respect to period t's rows into C's and D's outputs:
// a paged input's page t, or the sum of a constant input, C's added to its
// output and D's noise variances to noiseVarianceSums (D's derivative,
// 2*dd*D(j, l), is formed once at the end).
void addRowGradients(GradientWorkspace &workspace, uint64_t t, const GradientOutputs &outputs) {
  const StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  const uint64_t h = model.h;
  if (outputs.C != nullptr) {
    const bool paged = changesByPeriod(model.C);
    double *C = outputs.C + (paged ? t * n * m : 0);
    for (uint64_t j = 0; j < n; ++j) {
      for (uint64_t l = 0; l < m; ++l) {
        const double derivative = workspace.rowGradients[j * m + l];
        C[j + l * n] = paged ? derivative : C[j + l * n] + derivative;
      }
    }
  }
  if (outputs.D != nullptr) {
    if (!changesByPeriod(model.D)) {
      for (uint64_t j = 0; j < n; ++j) {
        workspace.noiseVarianceSums[j] = workspace.noiseVarianceSums[j] + workspace.noiseGradients[j];
      }
      return;
    }
    const double *D = pageOfPeriod(model.D, t).data;
    double *out = outputs.D + t * n * h;
    for (uint64_t l = 0; l < h; ++l) {
      for (uint64_t j = 0; j < n; ++j) {
        out[j + l * n] = (2.0 * workspace.noiseGradients[j]) * D[j + l * n];
      }
    }
  }
}

// B and D given as one matrix: 2*(sum of the adjoints of B*B')*B and
// (2*(sum of dd_j))*D(j, l).
void finishConstantGradients(GradientWorkspace &workspace, const GradientOutputs &outputs) {
  const StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  if (outputs.B != nullptr && !changesByPeriod(model.B)) {
    stateNoiseLoadingGradient(outputs.B, workspace.stateNoiseAdjoint, model.B.data, m, model.k);
  }
  if (outputs.D != nullptr && !changesByPeriod(model.D)) {
    for (uint64_t l = 0; l < model.h; ++l) {
      for (uint64_t j = 0; j < n; ++j) {
        outputs.D[j + l * n] = (2.0 * workspace.noiseVarianceSums[j]) * model.D.data[j + l * n];
      }
    }
  }
}

}  // namespace

void runBackwardPass(GradientWorkspace &workspace, const double *Y, const double *x0, const double *P0,
                     const GradientOutputs &outputs, MissingTest isMissing) {
  StateSpaceModel &model = workspace.model;
  const uint64_t T = model.T;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  if (T == 0 || n == 0) {
    return;  // nothing depends on the inputs: every derivative is the zero the outputs hold
  }
  for (uint64_t e = 0; e < m; ++e) workspace.stateAdjoint[e] = 0.0;
  for (uint64_t e = 0; e < m * m; ++e) workspace.covarianceAdjoint[e] = 0.0;
  for (uint64_t e = 0; e < m * m; ++e) workspace.stateNoiseAdjoint[e] = 0.0;
  for (uint64_t j = 0; j < n; ++j) workspace.noiseVarianceSums[j] = 0.0;
  const TransitionAdjointScratch transitionScratch{workspace.transitionProduct, workspace.product,
                                                   workspace.gainDirection};
  const bool changes = changesByPeriod(model);
  for (uint64_t t = T; t-- > 0;) {
    // A's rows as well as its columns: the way back reads both.
    if (t + 1 == T || changes) {
      preparePeriod(model, t, transitionRowsForm | filteringForms, t + 1 == T);
    }
    goBackOverObservations(workspace, t, Y, x0, P0, isMissing);
    addRowGradients(workspace, t, outputs);
    // The state and covariance the prediction started from.
    const double *previousState = x0;
    const double *previousCovariance = P0;
    if (t > 0) {
      restorePeriodEnd(workspace, t - 1, workspace.state.x, workspace.state.P);
      previousState = workspace.state.x;
      previousCovariance = workspace.state.P;
    }
    goBackOverPrediction(workspace, t, previousState, previousCovariance, t == 0, outputs, transitionScratch);
  }
  finishConstantGradients(workspace, outputs);
  if (outputs.x0 != nullptr) {
    copyDoubles(outputs.x0, workspace.stateAdjoint, m);
  }
  if (outputs.P0 != nullptr) {
    copyDoubles(outputs.P0, workspace.covarianceAdjoint, m * m);
  }
}
