#include "forward_pass.h"

#include "dense_kernels.h"
#include "filter_period.h"
#include "lower_triangle.h"
#include "model_preparation.h"

#include <algorithm>

ObservationRecords recordsOfPeriod(const GradientWorkspace &workspace, uint64_t t) {
  const uint64_t first = t * workspace.model.n;
  ObservationRecords records{nullptr,
                             workspace.observationGains + first * workspace.model.m,
                             workspace.scaledInnovations + first,
                             workspace.skipFlags + first,
                             workspace.reciprocalVariances + first};
  records.formsLogLikelihood = true;
  return records;
}

namespace {

// Room in the ends of the diffuse phase for period t: the phase seldom lasts
// more than a few periods, and the blocks grow with it, to T periods at most.
void makeRoomForDiffusePeriod(DiffusePhaseEnds &ends, uint64_t t, uint64_t T, uint64_t m) {
  if (t < ends.capacity) {
    return;
  }
  const uint64_t capacity = std::min(T, std::max<uint64_t>(2 * ends.capacity, 4));
  ends.infiniteParts =
      static_cast<double *>(ends.grow(ends.infiniteParts, capacity * lowerTriangleCount(m) * sizeof(double)));
  ends.largest = static_cast<double *>(ends.grow(ends.largest, capacity * sizeof(double)));
  ends.capacity = capacity;
}

void keepDiffusePeriodEnd(DiffusePhaseEnds &ends, const DiffuseStart &diffuse, uint64_t t, uint64_t T, uint64_t m) {
  makeRoomForDiffusePeriod(ends, t, T, m);
  storeLowerTriangle(ends.infiniteParts + t * lowerTriangleCount(m), diffuse.infinitePart, m);
  ends.largest[t] = diffuse.largest;
  ends.periods = t + 1;
}

void keepStateAfterPeriod(GradientWorkspace &workspace, uint64_t t) {
  const uint64_t m = workspace.model.m;
  for (uint64_t i = 0; i < m; ++i) {
    workspace.filteredStates[t * m + i] = workspace.state.x[i];
  }
  // P is symmetric to the bit (every step writes both halves alike): half of
  // it is kept, and half the bytes go to and come back from memory.
  const uint64_t count = lowerTriangleCount(m);
  double *kept = workspace.filteredCovariances + t * count;
  if (m <= largestCompiledFixedSize) {
    storeLowerTriangle(kept, workspace.state.P, m);
    return;
  }
  // Many states: packed in the cache first, then written past it, since the
  // way back reads it only long after and its lines need not be fetched to
  // be written. (A few lines a period would be written in parts, slower.)
  double *packed = workspace.product;
  storeLowerTriangle(packed, workspace.state.P, m);
  storeStreamingRun(kept, packed, count);
}

}  // namespace

void runForwardPass(GradientWorkspace &workspace, const double *Y, const double *x0, const double *P0, double *out,
                    MissingTest isMissing, bool keepsRecords) {
  StateSpaceModel &model = workspace.model;
  const uint64_t T = model.T;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  // With no series every period's sum is 0.0 and nothing depends on the
  // coefficients; with no period a paged coefficient has no page to read.
  if (T == 0 || n == 0) {
    for (uint64_t t = 0; t < T; ++t) out[t] = 0.0;
    return;
  }
  preparePeriod(model, 0, filteringForms, true);
  initialiseState(workspace.state, x0, P0, m);
  DiffuseStart &diffuse = workspace.diffuse;
  if (diffuse.infinitePart != nullptr) {
    startDiffusePhase(diffuse, workspace.state.P, m);
  }
  if (keepsRecords) {
    for (uint64_t o = 0; o < n * T; ++o) workspace.skipFlags[o] = 0.0;
  }
  const bool changes = changesByPeriod(model);
  for (uint64_t t = 0; t < T; ++t) {
    if (changes) {
      preparePeriod(model, t, filteringForms);
    }
    if (diffuse.active) [[unlikely]] {
      // statefilter's period; the way back forms its steps again from the
      // state before it, so of the phase only P_inf after it is kept.
      out[t] = filterPeriodInDiffusePhase(model, workspace.state, workspace.scratch, Y + t, T, isMissing,
                                          workspace.decorrelation, diffuse);
      if (keepsRecords) {
        keepDiffusePeriodEnd(workspace.diffuseEnds, diffuse, t, T, m);
      }
    } else if (keepsRecords) {
      const ObservationRecords records = recordsOfPeriod(workspace, t);
      out[t] = filterPeriod(model, workspace.state, workspace.scratch, Y + t, T, true, isMissing,
                            workspace.decorrelation, &records);
    } else {
      out[t] = filterPeriod(model, workspace.state, workspace.scratch, Y + t, T, true, isMissing,
                            workspace.decorrelation);
    }
    if (keepsRecords) {
      keepStateAfterPeriod(workspace, t);
    }
  }
  finishStreamingStores();
}
