// What the way back over observations, of known and diffuse periods alike,
// reads and clears.
#pragma once

#include "gradient_workspace.h"

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

// P after period t (P* in the diffuse phase).
inline const double *covarianceAfterPeriod(const GradientWorkspace &workspace, uint64_t t) {
  return workspace.filteredCovariances + t * workspace.model.m * workspace.model.m;
}
