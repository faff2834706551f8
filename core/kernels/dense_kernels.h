// The kernel registry: one table per kernel path, with its kernels and the
// sizes each kind of step takes, and the path this process runs. The
// vectorised paths compute independent sums side by side, but every output
// element is still one accumulator that adds its terms in ascending index,
// with a separate multiply and add, so every path gives the bits of the
// reference path, the plain loops.
#pragma once

#include "filter_types.h"

#include <cstdint>

// out[r*outStride + l] = init[r*initStride + l] + sum over q < depth of
// a[r*aStride + q] * b[q*bStride + l], for r < rows and l < lanes; a null init
// starts every sum from 0.0. Each row of `a` is broadcast against rows of `b`,
// so the lanes of one output row are computed side by side.
using RowsTimesColumnsKernel = void (*)(double *out, uint64_t outStride, const double *init, uint64_t initStride,
                                        const double *a, uint64_t aStride, const double *b, uint64_t bStride,
                                        uint64_t rows, uint64_t lanes, uint64_t depth);

// The rank-one correction of a symmetric covariance by one used observation:
// element (l, i) of the column-major m x m P becomes P(l, i) - w_l*K_i above
// the diagonal and P(l, i) - w_i*K_l on and below it, the products a
// sequential update would form, so the result is exactly symmetric.
using SymmetricDowndateKernel = void (*)(double *P, const double *w, const double *K, uint64_t m);

// symmetricDowndate, and with it w for the next series of the period from the
// corrected P: next_l = sum over i of P(l, i)*nextRow(i), i ascending, the
// sum of covTimesRowReference. A state whose variance the correction leaves
// at or below zero is the caller's to clear, and then `next` no longer
// describes P. `next` may be w or K: it is written after their last read. For
// m in the path's fused-size range.
using DowndateWithNextKernel = void (*)(double *P, const double *w, const double *K, const double *nextRow,
                                        double *next, uint64_t m);

// The smoothing cumulant carried back through a used observation with gain K,
// measurement row c and s = (1/F)*v: out_i = (sum over l of q_l*L(l, i)) +
// s*c_i, with L(l, i) = I(l, i) - K_l*c_i formed as the update forms the
// elements of L = I - K*c, and each sum in ascending l from 0.0.
using CumulantThroughUpdateKernel = void (*)(double *out, const double *q, const double *K, const double *c, double s,
                                             uint64_t m);

// A period's records and outputs for the way back over its observations
// (ObservationAdjointsKernel): observation j's vectors at + j*m, its scalars
// at + j.
struct ObservationAdjointPeriod {
  const double *gains;              // K of a used observation
  const double *scaledInnovations;  // (1/F)*v
  const double *reciprocals;        // 1/F
  const double *skipFlags;          // at or above 0.5 for an observation passed over
  const double *measurementRows;    // c
  double *directions;               // receives dw, the derivative with respect to w = P*c'
  double *rowGradients;             // receives (2*dF*F)*K - dv*x, the row's derivative but for P*dw
  double *noiseGradients;           // receives dF, the derivative with respect to the noise variance
  double *innovationGradients;      // receives dv, with respect to where the innovation starts; may be null
  // The covariance after the last observation (m x m, symmetric), carried
  // back with the updates, so that each row's derivative receives P*dw too;
  // null when the caller adds P*dw itself.
  double *covariance;
};

// The way back over observations count-1 down to 0 of a period, for the
// sizes with steps compiled for them (see observationAdjointsReference): M
// (m x m, symmetric) and xbar, the
// derivatives of the summed log-likelihood with respect to the covariance
// and the state, and x, the state, carried from after the last observation to
// before the first; a passed-over observation is skipped and its outputs
// left alone. `scratch` holds m doubles.
using ObservationAdjointsKernel = void (*)(double *M, double *xbar, double *x, const ObservationAdjointPeriod &period,
                                           uint64_t count, uint64_t m, double *scratch);

// The mean recursions of a block of draws side by side, lane l of each row
// being draw l, rows `stride` apart: the kernels run across the lanes, so
// every draw keeps the operations and the order it would have alone.
//
// Forward, through a used observation with measurement row c, gain K and 1/F:
// v = start[l] - c(0)*x(0, l) - c(1)*x(1, l) - ..., each product subtracted
// in turn; then x(s, l) = v*K(s) + x(s, l) for each s, and scaled[l] =
// (1/F)*v: the operations of the update of one state mean.
using CorrectDrawMeansKernel = void (*)(double *x, uint64_t stride, const double *start, const double *c,
                                        const double *K, double reciprocal, double *scaled, uint64_t m,
                                        uint64_t lanes);

// Backward, the smoothing cumulant through the same observation, r <- L'r +
// c'*((1/F)*v) as r + c'*(scaled - K'r): u = sum over s of K(s)*r(s, l) from
// 0.0 in ascending s, g = scaled[l] - u, then r(s, l) = c(s)*g + r(s, l).
using CarryDrawCumulantsKernel = void (*)(double *r, uint64_t stride, const double *scaled, const double *c,
                                          const double *K, uint64_t m, uint64_t lanes);

// to[c*toStride + r] = from[r*fromStride + c] for r < rows and c < columns:
// copies only, so every path writes the bits it reads, NaN payloads
// included. What it writes and what it reads do not overlap.
using TransposeKernel = void (*)(double *to, uint64_t toStride, const double *from, uint64_t fromStride,
                                 uint64_t rows, uint64_t columns);

// The tables of steps compiled for their size reach this many states; each
// path says which sizes it takes from them.
inline constexpr uint64_t largestCompiledFixedSize = 16;

// x <- A*x and P <- A*P*A' + B*B' for the model's m, with A column-major and
// an m x m scratch for A*P; P is read by columns and may be asymmetric.
using FixedPredictKernel = void (*)(double *x, double *P, const double *transitionColumns,
                                    const double *stateNoiseCov, double *transitionTimesCov);

// The univariate updates of `count` series in turn, for the model's m: series
// j has row j of measurementRows (m apart), noise variance noiseVars[j], and
// its innovation starts from innovationStarts[j] when present[j]. P must be
// symmetric. When gains is not null, the gain of each used series goes to
// gains + j*m.
using FixedAssimilateKernel = void (*)(double *x, double *P, const double *innovationStarts, const bool *present,
                                       uint64_t count, const double *measurementRows, const double *noiseVars,
                                       double tol, ObservationOutcome *outcomes, double *gains);

// How many series the modules hand assimilateFixed per call: their inputs
// and outcomes are staged on the stack, and between calls P goes through
// memory, which changes no bit.
inline constexpr uint64_t fixedSizeRunLength = 16;

// vectorTimesRows and rowsTimesRows (dense_products.h) for the model's m.
using FixedVectorTimesRowsKernel = void (*)(double *out, const double *v, const double *M);
using FixedRowsTimesRowsKernel = void (*)(double *out, const double *A, const double *B);

// One kernel path: the sizes each kind of step takes and its kernels. The
// reference path's kernels are the plain loops (reference_steps.h), and its
// sizes send every step to the plain loops.
struct DenseKernels {
  const char *name;  // as ORRIM_KERNELS names it

  // From this many states the products go to the kernels below; fewer take
  // the plain loops inline, as fast as the kernels there.
  uint64_t smallestVectorisedSize;
  // The sizes that take the steps compiled for them (predictFixed and the
  // other tables); an empty range (smallest above largest) takes none.
  uint64_t smallestFixedSize;
  uint64_t largestFixedSize;
  // The sizes downdateWithNext takes: a column of at least one vector, and
  // the next w in the registers it keeps for it.
  uint64_t smallestFusedSize;
  uint64_t largestFusedSize;
  // symmetricDowndate sweeps P as one array up to this many states, column
  // by column above.
  uint64_t flatSweepLimit;
  // Whether the local level model keeps x and P in registers through a
  // period (predictOneState and the update beside it) instead of taking the
  // plain loops for m = 1.
  bool oneStateInRegisters;

  RowsTimesColumnsKernel rowsTimesColumns;
  SymmetricDowndateKernel symmetricDowndate;
  DowndateWithNextKernel downdateWithNext;
  CumulantThroughUpdateKernel cumulantThroughUpdate;
  CorrectDrawMeansKernel correctDrawMeans;
  CarryDrawCumulantsKernel carryDrawCumulants;
  TransposeKernel transpose;
  // Indexed by m; null outside the fixed-size range.
  FixedPredictKernel predictFixed[largestCompiledFixedSize + 1];
  FixedAssimilateKernel assimilateFixed[largestCompiledFixedSize + 1];
  FixedVectorTimesRowsKernel vectorTimesRowsFixed[largestCompiledFixedSize + 1];
  FixedRowsTimesRowsKernel rowsTimesRowsFixed[largestCompiledFixedSize + 1];
  ObservationAdjointsKernel observationAdjointsFixed[largestCompiledFixedSize + 1];

  bool vectorises(uint64_t m) const { return m >= smallestVectorisedSize; }
  bool usesFixedSizeSteps(uint64_t m) const { return m >= smallestFixedSize && m <= largestFixedSize; }
  // Whether a period's updates form each series' w during the correction by
  // the series before: models too large for the steps compiled for their
  // size, as long as the next w fits the kernel's registers.
  bool formsNextCovTimesRowInCorrection(uint64_t m) const {
    return !usesFixedSizeSteps(m) && vectorises(m) && m >= smallestFusedSize && m <= largestFusedSize;
  }
};

// The paths, slowest first.
enum class KernelPath { reference, portable, avx2, avx512 };
inline constexpr KernelPath kernelPaths[] = {KernelPath::reference, KernelPath::portable, KernelPath::avx2,
                                             KernelPath::avx512};

// The name of a path, as ORRIM_KERNELS gives it.
const char *kernelPathName(KernelPath path);

// Whether this processor has the instructions of a path.
bool processorRuns(KernelPath path);

// A given path, or null when this processor cannot run it.
const DenseKernels *denseKernelsFor(KernelPath path);

// The path a process takes, or why it takes none.
struct KernelPathChoice {
  const DenseKernels *kernels;  // null when refused
  bool unknownName;             // refused for a name that is no path, not for the processor
  char refusal[256];            // one line, for the user, when refused
};

// The path `requested` names, when `runs` says the processor has it; with
// no name (null or empty), the fastest path it has. Any other name is
// refused: no path is ever taken in place of the one asked for.
KernelPathChoice chooseKernelPath(const char *requested, bool (*runs)(KernelPath));

// The choice of this process, from ORRIM_KERNELS as it was when the library
// was loaded. The gateways ask before anything else and end a refused call
// with its message.
const KernelPathChoice &processKernelPath();

namespace kernel_registry_internal {
// The process's path, taken when the library is loaded; null before, or when
// refused. Never written after, so the steps may keep it in a register.
extern const DenseKernels *const processKernels;
// Ends the process with why there is no path to run: a program ran the steps
// without asking processKernelPath, or before the library was loaded.
[[noreturn, gnu::cold]] void refuseToRun();
}  // namespace kernel_registry_internal

// The kernels of this process's path. The steps ask at every use: one load.
inline const DenseKernels &denseKernels() {
  const DenseKernels *kernels = kernel_registry_internal::processKernels;
  if (kernels == nullptr) [[unlikely]] {
    kernel_registry_internal::refuseToRun();
  }
  return *kernels;
}
