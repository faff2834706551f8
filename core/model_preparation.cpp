#include "model_preparation.h"

#include "dense_kernels.h"
#include "reference_steps.h"

#include <cstring>

void transposeCopy(double *destination, const double *source, uint64_t r, uint64_t c) {
  // The source's columns are the rows the kernel reads; a vector or less a
  // side is copied in place, cheaper than a call.
  if (r < 8 || c < 8) {
    transposeReference(destination, c, source, r, c, r);
  } else {
    denseKernels().transpose(destination, c, source, r, c, r);
  }
}

void prepareTransition(double *transitionRows, const double *A, uint64_t m) {
  transposeCopy(transitionRows, A, m, m);
}

void prepareTransitionForms(PreparedModel &model, const double *A, uint64_t m) {
  prepareTransition(model.transitionRows, A, m);
  model.transitionColumns = A;
}

void prepareTransitionForFiltering(PreparedModel &model, const double *A, uint64_t m) {
  model.transitionColumns = A;
  if (!denseKernels().usesFixedSizeSteps(m)) {
    prepareTransition(model.transitionRows, A, m);
  }
}

void prepareMeasurement(double *measurementRows, const double *C, uint64_t n, uint64_t m) {
  transposeCopy(measurementRows, C, n, m);
}

void prepareStateNoise(double *stateNoiseCov, const double *B, uint64_t m, uint64_t k) {
  for (uint64_t i = 0; i < m; ++i) {
    double diagonal = 0.0;
    for (uint64_t l = 0; l < k; ++l) {
      diagonal += B[i + l * m] * B[i + l * m];
    }
    stateNoiseCov[i + i * m] = diagonal;
    for (uint64_t j = i + 1; j < m; ++j) {
      double s = 0.0;
      for (uint64_t l = 0; l < k; ++l) {
        s += B[i + l * m] * B[j + l * m];
      }
      stateNoiseCov[i + j * m] = s;
      stateNoiseCov[j + i * m] = s;
    }
  }
}

void prepareObservationNoise(double *observationNoiseVar, const double *D, uint64_t n, uint64_t h) {
  for (uint64_t j = 0; j < n; ++j) {
    double s = 0.0;
    for (uint64_t l = 0; l < h; ++l) {
      s += D[j + l * n] * D[j + l * n];
    }
    observationNoiseVar[j] = s;
  }
}

void initialiseState(FilterState state, const double *x0, const double *P0, uint64_t m) {
  if (m == 0) {
    return;  // x0 and P0 may then be empty arrays without storage
  }
  std::memcpy(state.x, x0, m * sizeof(double));
  std::memcpy(state.P, P0, m * m * sizeof(double));
}
