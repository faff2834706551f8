// Bringing the coefficients into their working forms, and the initial state.
#pragma once

#include "filter_types.h"

#include <cstdint>

// destination[i*c + j] = source(i, j) for the column-major r x c source.
void transposeCopy(double *destination, const double *source, uint64_t r, uint64_t c);

void prepareTransition(double *transitionRows, const double *A, uint64_t m);
// Both working forms of A: its rows, and its own columns, which the caller
// keeps alive and unchanged while the model is in use.
void prepareTransitionForms(PreparedModel &model, const double *A, uint64_t m);
// The forms of A that the filters' prediction reads: the columns alone for
// the sizes whose steps run down them, the rows as well for the others. The
// rows are not written for the former, and nothing may read them.
void prepareTransitionForFiltering(PreparedModel &model, const double *A, uint64_t m);
void prepareMeasurement(double *measurementRows, const double *C, uint64_t n, uint64_t m);
// B*B' of the column-major m x k matrix B, both triangles written.
void prepareStateNoise(double *stateNoiseCov, const double *B, uint64_t m, uint64_t k);
// Row sums of squares of the column-major n x h matrix D.
void prepareObservationNoise(double *observationNoiseVar, const double *D, uint64_t n, uint64_t h);

void initialiseState(FilterState state, const double *x0, const double *P0, uint64_t m);
