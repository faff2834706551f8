// The Kalman filter over constant or paged coefficients, writing every
// period's log-likelihood.
#pragma once

#include "correlated_noise.h"
#include "filter_period.h"
#include "filter_types.h"
#include "state_space_model.h"
#include "working_blocks.h"

#include <cstddef>
#include <cstdint>

struct StateFilterWorkspace {
  StateSpaceModel model;
  FilterState state;
  FilterScratch scratch;
  // Taken only in a period whose series share innovations; the caller sets
  // its grow and gives its blocks back.
  Decorrelation decorrelation;
  // The diffuse part of the state; its blocks are taken by the caller, only
  // when P0 marks a diffuse state, and null otherwise.
  DiffuseStart diffuse;
};

// The ten working blocks, in the order the gateway takes and releases them.
inline constexpr WorkingBlock stateFilterBlocks[] = {
    {offsetof(StateFilterWorkspace, model.period.transitionRows), mmDoubles},
    {offsetof(StateFilterWorkspace, model.period.stateNoiseCov), mmDoubles},
    {offsetof(StateFilterWorkspace, model.period.measurementRows), nmDoubles},
    {offsetof(StateFilterWorkspace, model.period.observationNoiseVar), nDoubles},
    {offsetof(StateFilterWorkspace, state.x), mDoubles},
    {offsetof(StateFilterWorkspace, state.P), mmDoubles},
    {offsetof(StateFilterWorkspace, scratch.covTimesRow), mDoubles},
    {offsetof(StateFilterWorkspace, scratch.gain), mDoubles},
    {offsetof(StateFilterWorkspace, scratch.transitionTimesCov), mmDoubles},
    {offsetof(StateFilterWorkspace, scratch.stateCopy), mDoubles},
};

// Runs the filter of workspace.model (sizes, coefficients constant or paged,
// tol) over Y, T x n column-major, from x0 and P0. out[t] receives the
// log-likelihood sum of period t, and `filtered` the state after it when
// asked. The caller guarantees the sizes; nothing is checked here.
void runStateFilter(StateFilterWorkspace &workspace, const double *Y, const double *x0, const double *P0,
                    double *out, MissingTest isMissing, const FilteredOutputs &filtered = {});
