// Observation noise that series share. Series are taken one at a time, which
// is the model's likelihood only when their noises are independent. When the
// noise covariance H_O = D_O*D_O' of a period's observed series O (ascending,
// not NaN) has an element off its diagonal, the period is taken through
// decorrelated series instead: H_O = L*Delta*L' with L unit lower triangular
// (no pivoting), and the series y* = L^-1*(y_O - means_O) with measurement
// rows C* = L^-1*C_O and noise variances Delta go one at a time through the
// same update. det L = 1, so the period's log-likelihood is the multivariate
// one, and the tol rule applies to the transformed variances. A period whose
// H_O is diagonal keeps the arithmetic of independent series, to the bit.
//
// Every sum is one accumulator in ascending index, with separate multiplies
// and adds, in plain loops that run the same on every kernel path:
// - H_O(i, q), q < i: over innovations l of D(O_i, l)*D(O_q, l), a product
//   with a zero factor left out (a zero loading shares nothing, even beside an
//   infinite or NaN one); H_O(i, i) is the series' own noise variance, the
//   sum of all its squares as the update reads it.
// - the factor, row by row: W(i, q) = H_O(i, q) less W(i, r)*L(q, r) for r
//   ascending below q; L(i, q) = W(i, q)/Delta_q; Delta_i = H_O(i, i) less
//   W(i, q)*L(i, q) for q ascending below i.
// - y*_i = (y_Oi - mean_Oi) less L(i, q)*y*_q, q ascending below i; each
//   element of C* likewise, from C(O_i, s).
//
// A pivot that is zero up to rounding is zero, and so is its column of L
// below it: Delta_i <= 1e-12 * (the largest noise variance of O). Series that
// share their shocks make H_O singular, and rounding then leaves such a pivot
// slightly positive or negative; the transformed series carries no noise. A
// NaN pivot is kept, and spreads.
#pragma once

#include "filter_types.h"
#include "working_blocks.h"

#include <cstddef>
#include <cstdint>

// The relative size below which a pivot of the factor counts as zero.
inline constexpr double zeroPivotTolerance = 1e-12;

// Whether two series of the n x h column-major D load on one innovation:
// some column holds two non-zero elements. Without that, D*D' is diagonal
// whatever the values.
bool seriesShareInnovations(const double *D, uint64_t n, uint64_t h);

// The decorrelated series of a period, in buffers with room for `capacity`
// series; each block grows, through `grow`, when a period has more series,
// and is taken only once a period needs it: a model whose series share no
// innovation takes none. Indices of series are held as doubles, which hold
// them exactly.
struct Decorrelation {
  double *factor;        // p x p, row i at i*p: L(i, q) below the diagonal, H_O(i, q) until factored
  double *factorRow;     // p: W(i, q) of the row being factored
  double *rows;          // p x m, row by row: C*
  double *observations;  // p: y*
  double *variances;     // p: Delta
  double *series;        // p: the observed series, ascending
  double *zeros;         // p zeros: the means of transformed series, which have none
  uint64_t capacity;
  // The series the factor, Delta and C* were formed for, and whether their
  // H_O had an element off its diagonal; 0 when none was formed. Kept from
  // one period to the next while C and D stay the same, a period that
  // observes the same series needs them only: its own are the same numbers.
  uint64_t factoredCount;
  bool factoredCorrelated;
  // orrimRealloc in a module: a null block is taken anew. Ends the call
  // itself when memory runs out.
  void *(*grow)(void *block, uint64_t bytes);
};

// The blocks of a Decorrelation, in the order they are taken and released;
// nnDoubles, nmDoubles and nDoubles in `capacity` series. Each is a block of
// its own, grown as more series come.
inline constexpr WorkingBlock decorrelationBlocks[] = {
    {offsetof(Decorrelation, factor), nnDoubles},      {offsetof(Decorrelation, factorRow), nDoubles},
    {offsetof(Decorrelation, rows), nmDoubles},        {offsetof(Decorrelation, observations), nDoubles},
    {offsetof(Decorrelation, variances), nDoubles},    {offsetof(Decorrelation, series), nDoubles},
    {offsetof(Decorrelation, zeros), nDoubles},
};

// A period taken through decorrelated series: `count` of them, observed at
// `observations` (stride 1, none missing) with the prepared model `period`,
// whose measurement rows and noise variances are the transformed ones.
struct DecorrelatedSeries {
  bool transformed;  // false: H_O is diagonal, and the period takes its series as they are
  uint64_t count;
  PreparedModel period;
};

// What decorrelateSeries transforms: a period's n series with measurement
// rows and noise variances `period` (whose sharedNoiseLoadings is D, n x h),
// observation j at y[j*yStride] with mean means[j] (null: no means) and
// missing when isMissing says so.
struct PeriodSeries {
  const PreparedModel &period;
  uint64_t n, h, m;
  const double *y;
  uint64_t yStride;
  const double *means;
  MissingTest isMissing;
  bool rowsOnly;       // the way back of the smoother, which needs the rows alone
  bool sameAsFactored;  // C and D are those the kept factor was formed from (neither changes by period)
};

// Forms the period's decorrelated series, when the period's H_O has an
// element off its diagonal; otherwise returns `transformed` false and leaves
// the observations alone. Called only for a period whose
// sharedNoiseLoadings is set.
DecorrelatedSeries decorrelateSeries(const PeriodSeries &series, Decorrelation &decorrelation);

// The decorrelated series of `width` quantities side by side, such as the
// observations of many draws, through the factor the last decorrelateSeries
// formed (its `count`, p, series): row j of `rows`, `width` values, holds
// series j of the period. Rows 0 .. p-1 become the decorrelated ones, row i
// being row O_i less L(i, q) times the new row q for q ascending below i:
// each column takes the sums of y*. In place; the rows past p are left
// holding whatever the move left in them.
void decorrelateRowsInPlace(const Decorrelation &decorrelation, uint64_t p, double *rows, uint64_t width);

// Gives every block back, to `release` (orrimFree in a module); none were
// taken by a call whose series shared no noise.
inline void releaseDecorrelation(Decorrelation &decorrelation, void (*release)(void *block)) {
  if (decorrelation.capacity == 0) {
    return;
  }
  releaseEachBlock(decorrelationBlocks, &decorrelation, release);
  decorrelation.capacity = 0;
  decorrelation.factoredCount = 0;
}
