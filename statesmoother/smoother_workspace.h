// The working storage of one smoother call: the blocks of smootherBlocks,
// taken at once before the first period and given back together by the
// output step.
#pragma once

#include "correlated_noise.h"
#include "diffuse_start.h"
#include "filter_types.h"
#include "lower_triangle.h"
#include "state_space_model.h"
#include "working_blocks.h"

#include <cstddef>
#include <cstdint>

// What the way back keeps of the periods of a diffuse phase, grown as the
// phase goes on: per period the lower triangle of the predicted P_inf, per
// observation the K1 and the finite term of a diffuse step.
struct DiffusePhaseRecords {
  double *infiniteParts;    // lower triangles of m x m, one a period
  double *gainCorrections;  // n vectors of m a period
  double *finiteTerms;      // n a period
  uint64_t periods;         // periods of the phase recorded
  uint64_t capacity;        // periods there is room for
  // orrimRealloc in the module: a null block is taken anew.
  void *(*grow)(void *block, uint64_t bytes);
};

// The way back's own through the diffuse phase: r1, and with the
// covariances N1 and N2 beside N0.
struct DiffuseCarry {
  double *laterCumulant;      // m: r1
  double *vectors;            // 8 vectors of m scratch
  double *firstInformation;   // m x m: N1, not symmetric
  double *secondInformation;  // m x m: N2
  double *matrices;           // 3 m x m scratch
};

// Taken, with the DiffuseStart, only when P0 marks a diffuse state; the last
// three only when the covariances are asked for too.
inline constexpr WorkingBlock diffuseCarryBlocks[] = {
    {offsetof(DiffuseCarry, laterCumulant), mDoubles},
    {offsetof(DiffuseCarry, vectors), eightMDoubles},
};
inline constexpr WorkingBlock diffuseInformationBlocks[] = {
    {offsetof(DiffuseCarry, firstInformation), mmDoubles},
    {offsetof(DiffuseCarry, secondInformation), mmDoubles},
    {offsetof(DiffuseCarry, matrices), threeMMDoubles},
};

struct SmootherWorkspace {
  double *meanStates;            // m x T; column t is the noise-free state of period t
  double *observationsByPeriod;  // n x T; element t*n + j is Y(t, j)
  StateSpaceModel model;         // sizes, coefficients, tol, and the working forms of the period in progress
  FilterState state;             // the filtered deviation from the mean path
  FilterScratch scratch;         // stateCopy doubles as the copy of r on the way back
  double *predictedCovariances;  // T lower triangles of m x m: P right after the prediction of period t
  // What the way back cannot form again, per observation o = t*n + j; the
  // transfer matrix and score of a used observation are formed again from
  // these and the measurement row, with the forward pass's own expressions.
  double *observationGains;      // n*T vectors of m: the gain K of a used observation
  double *scaledInnovations;     // n*T: (1/F)*v of a used observation
  double *skipFlags;             // n*T: 1.0 when the observation was passed over, else 0.0
  double *smoothingCumulant;     // m: r, carried backwards through every observation
  double *identityMatrix;        // m x m
  double *updateMatrix;          // m x m, row by row: L = I - K*c, on the way back
  double *transitionUpdateMatrix;  // m x m, row by row: the transition times L, on the way back
  double *predictedStates;       // m x T: x right after the prediction; then the smoothed deviation
  double *meanObservations;      // n x T; element t*n + j is the noise-free observation
  // The decorrelated series of a period whose series share innovations,
  // formed again on the way back; taken only when such a period comes, and
  // given back by the gateway.
  Decorrelation decorrelation;
  // A diffuse start: the diffuse part of the state on the way forward (null
  // without one), what the way back keeps of the phase, and its own on the
  // way back. Taken and given back by the gateway.
  DiffuseStart diffuse;
  DiffusePhaseRecords diffuseRecords;
  DiffuseCarry diffuseCarry;
};

// The blocks in the order they are taken and released.
inline constexpr WorkingBlock smootherBlocks[] = {
    {offsetof(SmootherWorkspace, meanStates), mTDoubles},
    {offsetof(SmootherWorkspace, observationsByPeriod), nTDoubles},
    {offsetof(SmootherWorkspace, model.period.transitionRows), mmDoubles},
    {offsetof(SmootherWorkspace, model.period.stateNoiseCov), mmDoubles},
    {offsetof(SmootherWorkspace, model.period.measurementRows), nmDoubles},
    {offsetof(SmootherWorkspace, model.period.observationNoiseVar), nDoubles},
    {offsetof(SmootherWorkspace, state.x), mDoubles},
    {offsetof(SmootherWorkspace, state.P), mmDoubles},
    {offsetof(SmootherWorkspace, scratch.covTimesRow), mDoubles},
    {offsetof(SmootherWorkspace, scratch.gain), mDoubles},
    {offsetof(SmootherWorkspace, scratch.transitionTimesCov), mmDoubles},
    {offsetof(SmootherWorkspace, scratch.stateCopy), mDoubles},
    {offsetof(SmootherWorkspace, predictedCovariances), triangleTDoubles},
    {offsetof(SmootherWorkspace, observationGains), mnTDoubles},
    {offsetof(SmootherWorkspace, scaledInnovations), nTDoubles},
    {offsetof(SmootherWorkspace, skipFlags), nTDoubles},
    {offsetof(SmootherWorkspace, smoothingCumulant), mDoubles},
    {offsetof(SmootherWorkspace, identityMatrix), mmDoubles},
    {offsetof(SmootherWorkspace, updateMatrix), mmDoubles},
    {offsetof(SmootherWorkspace, transitionUpdateMatrix), mmDoubles},
    {offsetof(SmootherWorkspace, predictedStates), mTDoubles},
    {offsetof(SmootherWorkspace, meanObservations), nTDoubles},
};

// The contents the stages expect on entry: x, skipFlags and r zero, the
// identity, Y regrouped by period, the coefficients of period 0 in their
// working forms, and P = P0 (x0 enters through the mean path only), split
// into P* and P_inf when the workspace has a diffuse part. Y is T x n;
// workspace.model must hold the sizes, coefficients and tol.
void initialiseSmootherWorkspace(SmootherWorkspace &workspace, const double *Y, const double *P0);

// The series the forward pass took in period t, whose sharedNoiseLoadings is
// set, as the way back reads them after preparing the period: when
// `transformed`, the decorrelated rows, with the factor and the observed
// series in workspace.decorrelation (the observations are not transformed).
DecorrelatedSeries decorrelatedSeriesTaken(SmootherWorkspace &workspace, uint64_t t, MissingTest isMissing);

// The measurement rows the forward pass took in period t, as the way back
// reads them after preparing the period: the period's own, or, where its
// series share noise, the decorrelated ones, formed again with the forward
// pass's own expressions (isMissing must be the forward pass's). Inline:
// asked once a period, and a period without shared noise costs a test.
const double *decorrelatedRowsTaken(SmootherWorkspace &workspace, uint64_t t, MissingTest isMissing);
inline const double *measurementRowsTaken(SmootherWorkspace &workspace, uint64_t t, MissingTest isMissing) {
  const PreparedModel &period = workspace.model.period;
  return period.sharedNoiseLoadings == nullptr ? period.measurementRows
                                               : decorrelatedRowsTaken(workspace, t, isMissing);
}

// Gives back the records of a diffuse phase, which grew with it; none were
// taken by a call without a diffuse start.
inline void releaseDiffusePhaseRecords(DiffusePhaseRecords &kept, void (*release)(void *block)) {
  for (double *block : {kept.infiniteParts, kept.gainCorrections, kept.finiteTerms}) {
    release(block);
  }
  kept = DiffusePhaseRecords{nullptr, nullptr, nullptr, 0, 0, kept.grow};
}

// Hands a block back to whoever gave it: orrimFree in the module.
using BlockRelease = void (*)(void *);
