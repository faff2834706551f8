// Working types of one filtering step. No working form carries its own size:
// the model (state_space_model.h) carries m, n, k and h beside them.
#pragma once

#include <cstdint>

// The running estimate. P is column-major with both triangles stored and equal.
struct FilterState {
  double *x;  // m
  double *P;  // m x m
};

// The working forms of the coefficients of the current period.
struct PreparedModel {
  double *transitionRows;       // m x m, A row by row: A(i, j) at i*m + j (see
                                // prepareTransitionForFiltering)
  double *stateNoiseCov;        // m x m, B*B', both triangles
  double *measurementRows;      // n x m, C row by row: C(j, s) at j*m + s
  double *observationNoiseVar;  // n, the diagonal of D*D' (or the decorrelated series' variances)
  // A as the caller holds it, column-major, for the kernels that run down
  // its columns; null when only transitionRows is there.
  const double *transitionColumns = nullptr;
  // D of the period as the caller holds it, column-major n x h, when two of
  // its series load on one innovation (seriesShareInnovations); null when
  // D*D' is diagonal by its pattern, and the series are independent.
  const double *sharedNoiseLoadings = nullptr;
};

struct FilterScratch {
  double *stateCopy;           // m
  double *transitionTimesCov;  // m x m, A*P row by row
  double *covTimesRow;         // m, w = P*c'
  double *gain;                // m, K = w / F
};

// What one observation's update found: `used` when it was present and its
// variance F above tol; then also its innovation v and 1/F. F is set for every
// present observation.
struct ObservationOutcome {
  double variance;
  double innovation;
  double reciprocal;
  bool used;
};

// The test that marks an observation as missing: modules ask the host, the
// plain build uses the IEEE-754 test.
using MissingTest = bool (*)(double);

inline bool isIeeeNaN(double value) { return value != value; }

// The test of series that are all there, such as decorrelated ones: a NaN
// among them is a value, used and spread.
inline bool neverMissing(double /*value*/) { return false; }
