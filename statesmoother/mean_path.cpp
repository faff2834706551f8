#include "mean_path.h"

#include "dense_kernels.h"
#include "model_preparation.h"
#include "reference_steps.h"

namespace {

// out_i = (init_i or 0.0) + sum over l of M(i, l)*v_l for the column-major
// rows x m matrix M, in ascending l: vectorised across the rows, which read
// M's columns as they stand; a few states take the plain loop over the rows
// the caller prepared, inline, since the local level model runs it for each
// of many short periods.
inline void interceptPlusProduct(double *out, const double *init, const double *Mcolumns, const double *Mrows,
                                 const double *v, uint64_t rows, uint64_t m) {
  const DenseKernels &kernels = denseKernels();
  if (kernels.vectorises(m)) {
    kernels.rowsTimesColumns(out, 0, init, 0, v, 0, Mcolumns, rows, 1, rows, m);
    return;
  }
  // Row i of M against v; the intercept is the accumulator's first term, not
  // added at the end.
  forStateCount(m, [&](uint64_t states) {
    rowsTimesColumnsReference(out, 1, init, 1, Mrows, states, v, 1, rows, 1, states);
  });
}

}  // namespace

void computeMeanPath(SmootherWorkspace &workspace, const double *x0, const double *stateIntercept,
                     const double *observationIntercept) {
  StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  // The plain loops read the rows of A and C, which change with their pages.
  const bool preparesRows = !denseKernels().vectorises(m) && changesByPeriod(model);
  for (uint64_t t = 0; t < model.T; ++t) {
    if (preparesRows) {
      preparePeriod(model, t, transitionRowsForm | measurementForm);
    }
    const double *previous = t == 0 ? x0 : workspace.meanStates + (t - 1) * m;
    double *states = workspace.meanStates + t * m;
    interceptPlusProduct(states, stateIntercept != nullptr ? stateIntercept + t * m : nullptr,
                         pageOfPeriod(model.A, t).data, model.period.transitionRows, previous, m, m);
    interceptPlusProduct(workspace.meanObservations + t * n,
                         observationIntercept != nullptr ? observationIntercept + t * n : nullptr,
                         pageOfPeriod(model.C, t).data, model.period.measurementRows, states, n, m);
  }
}
