#include "time_update.h"

#include "dense_kernels.h"
#include "dense_products.h"
#include "reference_steps.h"

#include <algorithm>

namespace {

// Rows of the covariance formed per kernel call; the kernel blocks within.
constexpr uint64_t covarianceBand = 8;

// Copies the upper triangle onto the lower one.
void mirrorUpperToLower(double *matrix, uint64_t m) {
  for (uint64_t j = 1; j < m; ++j) {
    for (uint64_t i = 0; i < j; ++i) {
      matrix[j + i * m] = matrix[i + j * m];
    }
  }
}

}  // namespace

void predictStateVectorised(FilterState state, const PreparedModel &model, FilterScratch scratch, uint64_t m) {
  const double *A = model.transitionRows;
  const double *Acolumns = model.transitionColumns;
  // The kernels run down the columns of A; a model that offers only its rows
  // takes the plain loops.
  if (Acolumns == nullptr) {
    predictStateReference(state, model, scratch, m);
    return;
  }
  double *P = state.P;
  double *AP = scratch.transitionTimesCov;
  const DenseKernels &kernels = denseKernels();

  // x_i from the copy against the columns of A, lanes across i; A*P stored by
  // columns: column j of P against the columns of A, so P may be asymmetric.
  for (uint64_t i = 0; i < m; ++i) {
    scratch.stateCopy[i] = state.x[i];
  }
  vectorTimesRows(state.x, scratch.stateCopy, Acolumns, m);
  kernels.rowsTimesColumns(AP, m, nullptr, 0, P, m, Acolumns, m, m, m, m);

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
