// The working storage of one smoother call: the blocks of smootherBlocks,
// taken at once before the first period and given back together by the
// output step.
#pragma once

#include "filter_types.h"
#include "lower_triangle.h"
#include "state_space_model.h"
#include "working_blocks.h"

#include <cstddef>
#include <cstdint>

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
// working forms, and P = P0 (x0 enters through the mean path only). Y is T x n;
// workspace.model must hold the sizes, coefficients and tol.
void initialiseSmootherWorkspace(SmootherWorkspace &workspace, const double *Y, const double *P0);

// Hands a block back to whoever gave it: orrimFree in the module.
using BlockRelease = void (*)(void *);
