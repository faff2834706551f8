// The model as every step sees it: its sizes, its coefficients as the caller
// gave them, and their working forms for the period in progress; and the one
// way to bring period t's coefficients into those forms, whether a
// coefficient is one matrix, a paged array or a cell array.
#pragma once

#include "correlated_noise.h"
#include "dense_kernels.h"
#include "filter_types.h"
#include "model_preparation.h"

#include <cstdint>

// A coefficient as a module receives it: one matrix for every period; T pages
// of one shape, page t at data + t*rows*columns; or (cellstatefilter) a cell
// array whose element t, of its own shape, is the matrix of period t.
enum class InputForm : uint8_t { constant, paged, cell };

struct PeriodInput {
  const double *data = nullptr;    // the matrix, or page 0; null for a cell array
  uint64_t rows = 0, columns = 0;  // of the matrix or of every page
  const void *array = nullptr;     // the host's array, for the module that looks a cell's elements up
  InputForm form = InputForm::constant;
};

inline bool changesByPeriod(const PeriodInput &input) { return input.form != InputForm::constant; }

// The matrix of one period, with its shape.
struct PeriodMatrix {
  const double *data;
  uint64_t rows, columns;
};

// Period t's matrix of a constant or paged input.
inline PeriodMatrix pageOfPeriod(const PeriodInput &input, uint64_t t) {
  const uint64_t pageSize = input.rows * input.columns;
  return {input.form == InputForm::paged ? input.data + t * pageSize : input.data, input.rows, input.columns};
}

// T periods of n series and m states, with k state and h observation
// disturbances. n, k and h are those of the period in progress: a cell
// array's element may change them from one period to the next.
struct StateSpaceModel {
  uint64_t T = 0, n = 0, m = 0, k = 0, h = 0;
  PeriodInput A, B, C, D;  // m x m, m x k, n x m, n x h
  double tol = 0.0;             // an observation whose F is not above tol is passed over
  PreparedModel period{};       // the coefficients of the period in progress, in their working forms
};

// Whether any coefficient changes by period: a model whose coefficients do
// not is prepared once, and its periods need not ask again.
inline bool changesByPeriod(const StateSpaceModel &model) {
  return changesByPeriod(model.A) || changesByPeriod(model.B) || changesByPeriod(model.C) ||
         changesByPeriod(model.D);
}

// Whether the measurement and its noise are the same in every period: the
// decorrelated series of one period then serve every period that observes
// the same series.
inline bool measurementStaysTheSame(const StateSpaceModel &model) {
  return !changesByPeriod(model.C) && !changesByPeriod(model.D);
}

// The working forms a preparation writes, as flags.
enum PreparedForms : unsigned {
  transitionRowsForm = 1u << 0,        // A row by row
  transitionForPredictionForm = 1u << 1,  // A's columns, and its rows where the prediction reads them
  stateNoiseForm = 1u << 2,            // B*B'
  measurementForm = 1u << 3,           // C row by row
  observationNoiseForm = 1u << 4,      // the diagonal of D*D', and D itself when series share its innovations
};

// What the filters' periods read.
inline constexpr unsigned filteringForms =
    transitionForPredictionForm | stateNoiseForm | measurementForm | observationNoiseForm;

// Brings the coefficients of period t into the working forms `forms` names:
// every one of them when `everyInput` (the first period), else those whose
// input changes by period. `matrixOf(input, t)` gives period t's matrix (for
// inputs without cells, pageOfPeriod); `makeRoomForSeries(n)` runs before
// the measurement of n series is prepared, for buffers that grow with it.
// n, k and h follow the shapes of the matrices. Inline: the local level
// model prepares nothing after its first period, and a call each period would
// cost it as much as the test.
template <typename MatrixOf, typename MakeRoomForSeries>
[[gnu::always_inline]] inline void prepareCoefficients(StateSpaceModel &model, uint64_t t, unsigned forms,
                                                       bool everyInput, MatrixOf matrixOf,
                                                       MakeRoomForSeries makeRoomForSeries) {
  const uint64_t m = model.m;
  PreparedModel &period = model.period;
  if ((forms & (transitionRowsForm | transitionForPredictionForm)) != 0 && (everyInput || changesByPeriod(model.A))) {
    const double *A = matrixOf(model.A, t).data;
    if ((forms & transitionForPredictionForm) != 0) {
      prepareTransitionForFiltering(period, A, m);
    }
    // Rows the prediction form left unwritten.
    if ((forms & transitionRowsForm) != 0 &&
        ((forms & transitionForPredictionForm) == 0 || denseKernels().usesFixedSizeSteps(m))) {
      prepareTransition(period.transitionRows, A, m);
    }
  }
  if ((forms & stateNoiseForm) != 0 && (everyInput || changesByPeriod(model.B))) {
    const PeriodMatrix B = matrixOf(model.B, t);
    model.k = B.columns;
    prepareStateNoise(period.stateNoiseCov, B.data, m, model.k);
  }
  if ((forms & measurementForm) != 0 && (everyInput || changesByPeriod(model.C))) {
    const PeriodMatrix C = matrixOf(model.C, t);
    makeRoomForSeries(C.rows);
    model.n = C.rows;
    prepareMeasurement(period.measurementRows, C.data, model.n, m);
  }
  if ((forms & observationNoiseForm) != 0 && (everyInput || changesByPeriod(model.D))) {
    const PeriodMatrix D = matrixOf(model.D, t);
    model.h = D.columns;
    prepareObservationNoise(period.observationNoiseVar, D.data, model.n, model.h);
    period.sharedNoiseLoadings = seriesShareInnovations(D.data, model.n, model.h) ? D.data : nullptr;
  }
}

// prepareCoefficients for a model without cell arrays, whose series count
// never changes.
[[gnu::always_inline]] inline void preparePeriod(StateSpaceModel &model, uint64_t t, unsigned forms,
                                                 bool everyInput = false) {
  prepareCoefficients(model, t, forms, everyInput, pageOfPeriod, [](uint64_t) {});
}
