// The way back over a period's observations on the process's kernel path
// (observationAdjointsReference says what it computes): the steps compiled
// for the model's size, the vectorised steps from the path's smallest
// vectorised size, the plain loops below; all give the plain loops' bits.
#pragma once

#include "dense_kernels.h"

#include <cstdint>

void goBackOverObservationsOfPeriod(double *M, double *xbar, double *x, const ObservationAdjointPeriod &period,
                                    uint64_t count, uint64_t m, double *scratch);
