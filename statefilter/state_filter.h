// The Kalman filter over constant or paged coefficients, writing every
// period's log-likelihood.
#pragma once

#include "filter_period.h"
#include "filter_types.h"
#include "working_blocks.h"

#include <cstddef>
#include <cstdint>

struct StateFilterWorkspace {
  PreparedModel model;
  FilterState state;
  FilterScratch scratch;
};

// The ten working blocks, in the order the gateway takes and releases them.
inline constexpr WorkingBlock stateFilterBlocks[] = {
    {offsetof(StateFilterWorkspace, model.transitionRows), mmDoubles},
    {offsetof(StateFilterWorkspace, model.stateNoiseCov), mmDoubles},
    {offsetof(StateFilterWorkspace, model.measurementRows), nmDoubles},
    {offsetof(StateFilterWorkspace, model.observationNoiseVar), nDoubles},
    {offsetof(StateFilterWorkspace, state.x), mDoubles},
    {offsetof(StateFilterWorkspace, state.P), mmDoubles},
    {offsetof(StateFilterWorkspace, scratch.covTimesRow), mDoubles},
    {offsetof(StateFilterWorkspace, scratch.gain), mDoubles},
    {offsetof(StateFilterWorkspace, scratch.transitionTimesCov), mmDoubles},
    {offsetof(StateFilterWorkspace, scratch.stateCopy), mDoubles},
};

// Y is T x n column-major; A, B, C, D give their page t for period t when
// paged (m x m, m x k, n x m, n x h). out[t] receives the log-likelihood sum
// of period t, and `filtered` the state after it when asked. The caller
// guarantees the sizes; nothing is checked here.
void runStateFilter(const double *Y, uint64_t T, uint64_t n, CoefficientSource A, CoefficientSource B,
                    CoefficientSource C, CoefficientSource D, uint64_t m, uint64_t k, uint64_t h,
                    const double *x0, const double *P0, double tol, StateFilterWorkspace &workspace,
                    double *out, MissingTest isMissing, const FilteredOutputs &filtered = {});
