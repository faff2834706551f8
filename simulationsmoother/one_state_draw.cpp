#include "one_state_draw.h"

#include "diffuse_start.h"
#include "initial_factor.h"
#include "working_blocks.h"

namespace {

// A one-state coefficient's page of period t at data + t*step: step 0 for a
// constant one.
struct OneStatePages {
  const double *data;
  uint64_t step;
  explicit OneStatePages(const PeriodInput &input)
      : data(input.data), step(changesByPeriod(input) ? input.rows * input.columns : 0) {}
  const double *operator()(uint64_t t) const { return data + t * step; }
};

// Forward through every period: x+ and the filtered deviation, each period's
// x+ + a_t and (1/F)*v of a used observation into their stores. Returns
// whether a variate the draw reads is NaN.
bool simulateAndFilterOneState(SimulationSmootherWorkspace &workspace, const DrawInputs &inputs,
                               const double *column) {
  const SmootherWorkspace &pass = workspace.covariancePass;
  const StateSpaceModel &model = pass.model;
  const uint64_t T = model.T, k = model.k, h = model.h;
  const OneStatePages A(model.A), B(model.B), C(model.C), D(model.D);
  bool hasNaN = false;
  // x+ one step before the first period, x0 + G*z0; a diffuse state starts
  // at x0 and its z0 is not read. The deviation starts from zero.
  double path = inputs.x0[0];
  if (!startsDiffuse(inputs.P0, 1, 0)) {
    const double z = column[0];
    hasNaN |= z != z;
    path += workspace.initialFactor[0] * z;
  }
  double deviation = 0.0;
  for (uint64_t t = 0; t < T; ++t) {
    const double *stateShocks = column + 1 + t * (k + h);
    const double *observationShocks = stateShocks + k;
    // s + B*u, then A*x+ added to it; A times the deviation from 0.0.
    double transitionStart = inputs.stateIntercept != nullptr ? inputs.stateIntercept[t] : 0.0;
    const double *loadings = B(t);
    for (uint64_t q = 0; q < k; ++q) {
      const double u = stateShocks[q];
      hasNaN |= u != u;
      transitionStart += loadings[q] * u;
    }
    const double a = *A(t);
    double nextPath = transitionStart;
    nextPath += a * path;
    double predictedDeviation = 0.0;
    predictedDeviation += a * deviation;
    // y+ = (o + C*x+) + D*e, and Y - y+ where the innovation starts.
    const double c = *C(t);
    double simulated = inputs.observationIntercept != nullptr ? inputs.observationIntercept[t] : 0.0;
    simulated += c * nextPath;
    const double *noiseLoadings = D(t);
    for (uint64_t q = 0; q < h; ++q) {
      const double e = observationShocks[q];
      hasNaN |= e != e;
      simulated += noiseLoadings[q] * e;
    }
    const double start = pass.observationsByPeriod[t] - simulated;
    workspace.predictedDeviations[t] = nextPath + predictedDeviation;
    // A used observation or a diffuse step corrects the deviation with K (K0
    // for a diffuse step) and keeps (1/F)*v (1/F_inf).
    const double flag = pass.skipFlags[t];
    if (flag < 0.5 || flag == diffuseStepFlag) {
      double v = start;
      v -= c * predictedDeviation;
      predictedDeviation = v * pass.observationGains[t] + predictedDeviation;
      workspace.scaledInnovations[t] = workspace.reciprocalVariances[t] * v;
    }
    path = nextPath;
    deviation = predictedDeviation;
  }
  return hasNaN;
}

// Backward through every period: r (r0 and r1 in the diffuse phase) and the
// draw (x+ + a_t) + P_t*r, or ((x+ + a_t) + P*_t*r0) + P_inf_t*r1, into the
// output past the caches.
void smoothDeviationsOfOneState(SimulationSmootherWorkspace &workspace, double *out) {
  const SmootherWorkspace &pass = workspace.covariancePass;
  const StateSpaceModel &model = pass.model;
  const DiffusePhaseRecords &phase = pass.diffuseRecords;
  const uint64_t T = model.T;
  const OneStatePages A(model.A), C(model.C);
  double r = 0.0, laterR = 0.0;
  for (uint64_t t = T; t-- > 0;) {
    const bool diffuse = t < phase.periods;
    if (diffuse && t + 1 == phase.periods) {
      laterR = 0.0;
    }
    if (t + 1 < T) {
      const double a = *A(t + 1);
      double carried = 0.0;
      carried += a * r;
      r = carried;
      if (diffuse) {
        double laterCarried = 0.0;
        laterCarried += a * laterR;
        laterR = laterCarried;
      }
    }
    const double c = *C(t);
    const double K = pass.observationGains[t];
    const double flag = pass.skipFlags[t];
    const double scaled = workspace.scaledInnovations[t];
    double drawn = workspace.predictedDeviations[t];
    if (diffuse) [[unlikely]] {
      if (flag < 0.5 || flag == diffuseStepFlag) {
        double a0 = 0.0, a1 = 0.0;
        a0 += K * r;
        a1 += K * laterR;
        if (flag != diffuseStepFlag) {
          const double g = scaled - a0;
          r = c * g + r;
          laterR = laterR - c * a1;
        } else {
          double b = 0.0;
          b += phase.gainCorrections[t] * r;
          const double g = (scaled - a1) - b;
          laterR = c * g + laterR;
          r = r - c * a0;
        }
      }
      drawn += pass.predictedCovariances[t] * r;
      drawn += phase.infiniteParts[t] * laterR;
    } else {
      if (flag < 0.5) {
        double u = 0.0;
        u += K * r;
        const double g = scaled - u;
        r = c * g + r;
      }
      drawn += pass.predictedCovariances[t] * r;
    }
    storeStreaming(out + t, drawn);
  }
}

}  // namespace

void drawOneStateOneSeries(SimulationSmootherWorkspace &workspace, const DrawInputs &inputs, uint64_t draw,
                           double *out) {
  const bool hasNaN = simulateAndFilterOneState(workspace, inputs, inputs.variates + draw * inputs.variateRows);
  smoothDeviationsOfOneState(workspace, out + draw * workspace.covariancePass.model.T);
  workspace.drawHasNaN[0] = hasNaN ? 1.0 : 0.0;
}
