// What the way back over observations, of known and diffuse periods alike,
// reads and clears.
#pragma once

#include "gradient_workspace.h"
#include "lower_triangle.h"

#include <cstdint>

inline void copyDoubles(double *to, const double *from, uint64_t count) {
  for (uint64_t e = 0; e < count; ++e) {
    to[e] = from[e];
  }
}

inline void fillZeros(double *values, uint64_t count) {
  for (uint64_t e = 0; e < count; ++e) {
    values[e] = 0.0;
  }
}

// M <- Z*M*Z for the states an update cleared: after it their variance in P
// is exactly 0.0 (the guard clears every variance it leaves at or below
// zero; one it leaves above zero, or NaN, is kept), and their rows and
// columns of P are constants.
inline void maskClearedStates(double *M, const double *P, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    if (P[i + i * m] != 0.0) continue;
    for (uint64_t l = 0; l < m; ++l) {
      M[l + i * m] = 0.0;
      M[i + l * m] = 0.0;
    }
  }
}

inline const double *stateAfterPeriod(const GradientWorkspace &workspace, uint64_t t) {
  return workspace.filteredStates + t * workspace.model.m;
}

// P after period t (P* in the diffuse phase), made whole from the triangle
// the way forward kept. Two are kept whole: going back, period t - 1 follows
// period t, so the later of the two gives way (and one holding none first).
inline const double *covarianceAfterPeriod(GradientWorkspace &workspace, uint64_t t) {
  uint64_t *periods = workspace.wholeCovariancePeriods;
  for (int slot = 0; slot < 2; ++slot) {
    if (periods[slot] == t) return workspace.wholeCovariances[slot];
  }
  const int slot = periods[0] > periods[1] ? 0 : 1;
  const uint64_t m = workspace.model.m;
  restoreSymmetric(workspace.wholeCovariances[slot], workspace.filteredCovariances + t * lowerTriangleCount(m), m);
  periods[slot] = t;
  return workspace.wholeCovariances[slot];
}

// The same, to be changed in place by the last step that reads it: the way
// back is then done with period t's, and its block holds none.
inline double *covarianceAfterPeriodToChange(GradientWorkspace &workspace, uint64_t t) {
  const double *P = covarianceAfterPeriod(workspace, t);
  const int slot = P == workspace.wholeCovariances[0] ? 0 : 1;
  workspace.wholeCovariancePeriods[slot] = workspace.model.T;
  return workspace.wholeCovariances[slot];
}
