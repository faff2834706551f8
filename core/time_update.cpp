#include "time_update.h"

#include "dense_kernels.h"
#include "dense_products.h"
#include "reference_steps.h"
#include "symmetric_storage.h"

#include <algorithm>

namespace {

// Rows of the covariance formed per kernel call; the kernel blocks within.
constexpr uint64_t covarianceBand = 8;

}  // namespace

void predictStateVectorised(FilterState state, const PreparedModel &model, FilterScratch scratch, uint64_t m) {
  const double *A = model.transitionRows;
  const double *Acolumns = model.transitionColumns;
  double *P = state.P;
  // Without A's columns the fast form reads rows of P where the plain loops
  // read its columns, so it needs P symmetric; only a caller's initial P can
  // be otherwise.
  if (Acolumns == nullptr && !isBitwiseSymmetric(P, m)) {
    predictStateReference(state, model, scratch, m);
    return;
  }
  const DenseKernels &kernels = denseKernels();
  double *AP = scratch.transitionTimesCov;

  for (uint64_t i = 0; i < m; ++i) {
    scratch.stateCopy[i] = state.x[i];
  }
  if (Acolumns != nullptr) {
    // x_i from the copy against the columns of A, lanes across i; A*P stored
    // by columns: column j of P against the columns of A.
    vectorTimesRows(state.x, scratch.stateCopy, Acolumns, m);
    kernels.rowsTimesColumns(AP, m, nullptr, 0, P, m, Acolumns, m, m, m, m);
  } else {
    kernels.rowsTimesColumns(state.x, 1, nullptr, 0, A, m, scratch.stateCopy, 1, m, 1, m);
    // Row i of A against the rows of P (its columns, by symmetry), then
    // turned so that column q holds (A*P)(., q).
    rowsTimesRows(AP, A, P, m);
    transposeInPlace(AP, m);
  }

  // Row j of A*P*A' + B*B' up to the diagonal, each element started from
  // B*B'(j, i) (symmetric, so read along row j) and stored in column j. Lanes
  // past the diagonal are overwritten by the mirror below.
  for (uint64_t j = 0; j < m; j += covarianceBand) {
    const uint64_t rows = std::min(covarianceBand, m - j);
    const uint64_t lanes = std::min(j + covarianceBand, m);
    kernels.rowsTimesColumns(P + j * m, m, model.stateNoiseCov + j * m, m, A + j * m, m, AP, m, rows, lanes, m);
  }
  mirrorUpperToLower(P, m);
}
