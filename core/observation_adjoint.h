// The way back over a period's observations on the process's kernel path
// (observationAdjointsReference says what it computes): the steps compiled
// for the model's size; with more states u's product on the kernels and the
// other steps' plain loops (the gradient takes this way in periods where the
// guard cleared a state, its own otherwise); the plain loops below; all give
// the plain loops' bits.
#pragma once

#include "dense_kernels.h"

#include <cstdint>

void goBackOverObservationsOfPeriod(double *M, double *xbar, double *x, const ObservationAdjointPeriod &period,
                                    uint64_t count, uint64_t m, double *scratch);
