#include "time_update.h"

void predictState(FilterState state, const PreparedModel &model, FilterScratch scratch, uint64_t m) {
  const double *A = model.transitionRows;
  double *x = state.x;
  double *P = state.P;
  double *AP = scratch.transitionTimesCov;

  for (uint64_t i = 0; i < m; ++i) {
    scratch.stateCopy[i] = x[i];
  }
  for (uint64_t i = 0; i < m; ++i) {
    double s = 0.0;
    for (uint64_t q = 0; q < m; ++q) {
      s += A[i * m + q] * scratch.stateCopy[q];
    }
    x[i] = s;
  }
  // A*P row by row, reading P by columns: P need not be symmetric on entry.
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t j = 0; j < m; ++j) {
      double s = 0.0;
      for (uint64_t q = 0; q < m; ++q) {
        s += A[i * m + q] * P[q + j * m];
      }
      AP[i * m + j] = s;
    }
  }
  // (A*P*A')(j, i) is row j of A against row i of A*P; B*B' is the first term.
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t j = i; j < m; ++j) {
      double s = model.stateNoiseCov[j + i * m];
      for (uint64_t q = 0; q < m; ++q) {
        s += A[j * m + q] * AP[i * m + q];
      }
      P[j + i * m] = s;
      P[i + j * m] = s;
    }
  }
}
