#include "one_state_draw.h"

#include "diffuse_start.h"
#include "draw_means.h"
#include "initial_factor.h"
#include "working_blocks.h"

namespace {

// The state count and the lane count of the steps this file shares.
constexpr uint64_t one = 1;

// A one-state coefficient's page of period t at data + t*step: step 0 for a
// constant one.
struct OneStatePages {
  const double *data;
  uint64_t step;
  explicit OneStatePages(const PeriodInput &input)
      : data(input.data), step(changesByPeriod(input) ? input.rows * input.columns : 0) {}
  const double *operator()(uint64_t t) const { return data + t * step; }
};

// The covariance pass's records of one series, element t of each period t's.
PeriodRecords recordsOfAllPeriods(const SimulationSmootherWorkspace &workspace) {
  const SmootherWorkspace &pass = workspace.covariancePass;
  return {pass.observationGains, workspace.reciprocalVariances, pass.skipFlags};
}

// Forward through every period: x+ and the filtered deviation, each period's
// x+ + a_t and (1/F)*v of a used observation into their stores. Returns
// whether a variate the draw reads is NaN.
bool simulateAndFilterOneState(SimulationSmootherWorkspace &workspace, const DrawInputs &inputs,
                               const double *column) {
  const SmootherWorkspace &pass = workspace.covariancePass;
  const StateSpaceModel &model = pass.model;
  const uint64_t T = model.T, k = model.k, h = model.h;
  const OneStatePages A(model.A), B(model.B), C(model.C), D(model.D);
  const PeriodRecords records = recordsOfAllPeriods(workspace);
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
    if (records.updatesMeans(t)) {
      correctDrawMeansReference(&predictedDeviation, 1, &start, &c, records.gains + t, records.reciprocals[t],
                                workspace.scaledInnovations + t, 1, 1);
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
  const PeriodRecords records = recordsOfAllPeriods(workspace);
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
    const double *scaled = workspace.scaledInnovations + t;
    double drawn = workspace.predictedDeviations[t];
    if (diffuse) [[unlikely]] {
      const PeriodRecords period{records.gains + t, records.reciprocals + t, records.skipFlags + t};
      carryDrawCumulantsOfDiffusePeriod(period, phase.gainCorrections + t, &c, 1, one, &r, &laterR, scaled, one);
    } else if (records.used(t)) {
      carryDrawCumulantsReference(&r, 1, scaled, &c, records.gains + t, 1, 1);
    }
    drawn += pass.predictedCovariances[t] * r;
    if (diffuse) [[unlikely]] {
      drawn += phase.infiniteParts[t] * laterR;
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
