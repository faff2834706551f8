#include "observation_adjoint.h"

#include "dense_products.h"
#include "reference_steps.h"

void goBackOverObservationsOfPeriod(double *M, double *xbar, double *x, const ObservationAdjointPeriod &period,
                                    uint64_t count, uint64_t m, double *scratch) {
  const DenseKernels &kernels = denseKernels();
  if (kernels.usesFixedSizeSteps(m)) {
    kernels.observationAdjointsFixed[m](M, xbar, x, period, count, m, scratch);
  } else if (kernels.vectorises(m)) {
    // Many states: u's product on the kernels, the plain loops' other steps.
    observationAdjointsWith(vectorTimesRows, M, xbar, x, period, count, m, scratch);
  } else {
    forStateCount(m, [&](uint64_t states) { observationAdjointsReference(M, xbar, x, period, count, states, scratch); });
  }
}
