// The working storage of one gradient call: the filter's blocks, taken for
// every call, and what the way back needs, taken only when a gradient is
// asked for. Both tables are walked in order by takeBlocks and releaseBlocks.
#pragma once

#include "correlated_noise.h"
#include "diffuse_start.h"
#include "filter_types.h"
#include "state_space_model.h"
#include "working_blocks.h"

#include <cstddef>
#include <cstdint>

// What the way back keeps of the periods of a diffuse phase, grown with it:
// the lower triangle of P_inf after each period, and the largest |element|
// P_inf had had by then (diffuse_start.h), from which a period's prediction
// and updates are formed again.
struct DiffusePhaseEnds {
  double *infiniteParts;  // lower triangles of m x m, one a period
  double *largest;        // one a period
  uint64_t periods;       // periods of the phase kept
  uint64_t capacity;      // periods there is room for
  // orrimRealloc in the module: a null block is taken anew.
  void *(*grow)(void *block, uint64_t bytes);
};

// The way back's own through a diffuse phase, taken with the DiffuseStart
// only when P0 marks a diffuse state.
struct DiffuseAdjoint {
  double *infiniteAdjoint;      // m x m, symmetric: the derivative with respect to P_inf
  double *predictedInfinite;    // m x m: P_inf after the period's prediction
  double *stateBefore;          // m: x before the observation gone back over
  double *covarianceBefore;     // m x m: P* before it
  double *infiniteBefore;       // m x m: P_inf before it
  double *vectors;              // 8 vectors of m scratch
};

inline constexpr WorkingBlock diffuseAdjointBlocks[] = {
    {offsetof(DiffuseAdjoint, infiniteAdjoint), mmDoubles},   {offsetof(DiffuseAdjoint, predictedInfinite), mmDoubles},
    {offsetof(DiffuseAdjoint, stateBefore), mDoubles},        {offsetof(DiffuseAdjoint, covarianceBefore), mmDoubles},
    {offsetof(DiffuseAdjoint, infiniteBefore), mmDoubles},    {offsetof(DiffuseAdjoint, vectors), eightMDoubles},
};

// The way back through the decorrelation of a period whose series share
// noise: the derivatives with respect to its factor and to H_O, p x p each,
// grown (through `grow`) to the largest p a period has had; taken only
// when such a period comes.
struct DecorrelationAdjoint {
  double *factorAdjoint;      // p x p, row i at i*p: the derivatives with respect to L below the diagonal
  double *covarianceAdjoint;  // p x p, row i at i*p: ... with respect to H_O on and below it
  uint64_t capacity;
  void *(*grow)(void *block, uint64_t bytes);
};

struct GradientWorkspace {
  StateSpaceModel model;  // sizes, coefficients, tol, and the working forms of the period in progress
  FilterState state;      // the filter's x and P; on the way back the point reached, before the observation
  FilterScratch scratch;
  // Taken only in a period whose series share innovations; the gateway sets
  // its grow and gives its blocks back.
  Decorrelation decorrelation;
  DecorrelationAdjoint decorrelationAdjoint;
  // A diffuse start: the diffuse part of the state (null without one), what
  // the way back keeps of the phase, and its own through it. Taken and given
  // back by the gateway.
  DiffuseStart diffuse;
  DiffusePhaseEnds diffuseEnds;
  DiffuseAdjoint diffuseAdjoint;
  // Kept on the way forward, per period t and observation o = t*n + j.
  double *filteredStates;       // m x T: x after period t
  double *filteredCovariances;  // T lower triangles of m x m: P after period t, symmetric to the bit
  double *observationGains;     // n*T vectors of m: K of a used observation
  double *scaledInnovations;    // n*T: (1/F)*v of a used observation
  double *reciprocalVariances;  // n*T: 1/F of a used observation
  double *skipFlags;            // n*T: 1.0 when the observation was passed over, else 0.0
  // The way back: the derivatives of the summed log-likelihood with respect
  // to the state and its covariance at the point reached.
  double *stateAdjoint;         // m
  double *covarianceAdjoint;    // m x m, symmetric
  double *transitionProduct;    // m x m: A' times the covariance adjoint, row by row
  double *product;              // m x m scratch
  double *adjointTimesGain;     // m: the covariance adjoint times K, the scratch of the observations' steps
  double *vector;               // m scratch
  double *predictedState;       // m: the prediction of a period whose updates are formed again
  double *predictedCovariance;  // m x m
  // P after two periods made whole from their triangles (m x m each), and
  // the periods they hold (T for none): the way back asks for the periods t
  // and t - 1 in turn.
  double *wholeCovariances[2];
  uint64_t wholeCovariancePeriods[2];
  LinesAhead recordsAhead;  // the records of the period after the next on the way back
  double *directions;           // n x m: the derivatives with respect to each row's w = P*c'
  double *covarianceTimesDirections;  // n x m: P after the period times each row's direction
  double *transposedGains;      // m x n: the period's gains, column by column
  double *transposedRows;       // m x n: its measurement rows, column by column
  double *transposedMeasurement;  // m x n: with many states, C's rows as prepared, column by column
  double *transposedHalves;     // m x n: its g, column by column
  double *pairs;                // with many states, n x 16 or 4 x n (within n*m)
  double *groupCoefficients;    // with many states, 4 x n (within n*m)
  double *seriesScalars;        // n: a number per series of the period, as a step needs it (F, 1/Delta)
  double *rowGradients;         // n x m: the derivatives with respect to the period's measurement rows
  double *noiseGradients;       // n: ... and to its noise variances
  double *innovationGradients;  // n: ... and to where each innovation starts (y, or y*)
  double *stateNoiseAdjoint;    // m x m: the sum over periods of the derivatives with respect to B*B'
  double *rowGradientSums;      // n x m: ... and to the rows of a constant C
  // The sum over periods of the derivatives with respect to the lower
  // triangle of H = D*D', row a at a*n, for a constant D of n <= m*T series
  // (within the records); null otherwise, and D's derivative is summed as
  // the periods come (see noise_adjoint.h).
  double *noiseCovarianceSums;
};

// Taken when a constant D's derivative is asked for and n <= m*T.
inline constexpr WorkingBlock noiseCovarianceSumBlocks[] = {
    {offsetof(GradientWorkspace, noiseCovarianceSums), nnDoubles},
};

// Whether D's derivative is summed over the periods in noiseCovarianceSums.
inline bool sumsNoiseCovariance(const StateSpaceModel &model) {
  return !changesByPeriod(model.D) && model.n <= model.m * model.T;
}

// The filter's blocks, as statefilter takes them.
inline constexpr WorkingBlock gradientFilterBlocks[] = {
    {offsetof(GradientWorkspace, model.period.transitionRows), mmDoubles},
    {offsetof(GradientWorkspace, model.period.stateNoiseCov), mmDoubles},
    {offsetof(GradientWorkspace, model.period.measurementRows), nmDoubles},
    {offsetof(GradientWorkspace, model.period.observationNoiseVar), nDoubles},
    {offsetof(GradientWorkspace, state.x), mDoubles},
    {offsetof(GradientWorkspace, state.P), mmDoubles},
    {offsetof(GradientWorkspace, scratch.covTimesRow), mDoubles},
    {offsetof(GradientWorkspace, scratch.gain), mDoubles},
    {offsetof(GradientWorkspace, scratch.transitionTimesCov), mmDoubles},
    {offsetof(GradientWorkspace, scratch.stateCopy), mDoubles},
};

// What the way back needs: m*(m+1)/2*T + m*n*T + m*T + 3*n*T doubles and a
// few of m*m and n*m, within the smoother's storage; with a diffuse start
// m*(m+1)/2 + 1 more a period of its phase.
inline constexpr WorkingBlock gradientRecordBlocks[] = {
    {offsetof(GradientWorkspace, filteredStates), mTDoubles},
    {offsetof(GradientWorkspace, filteredCovariances), triangleTDoubles},
    {offsetof(GradientWorkspace, observationGains), mnTDoubles},
    {offsetof(GradientWorkspace, scaledInnovations), nTDoubles},
    {offsetof(GradientWorkspace, reciprocalVariances), nTDoubles},
    {offsetof(GradientWorkspace, skipFlags), nTDoubles},
    {offsetof(GradientWorkspace, stateAdjoint), mDoubles},
    {offsetof(GradientWorkspace, covarianceAdjoint), mmDoubles},
    {offsetof(GradientWorkspace, transitionProduct), mmDoubles},
    {offsetof(GradientWorkspace, product), mmDoubles},
    {offsetof(GradientWorkspace, adjointTimesGain), mDoubles},
    {offsetof(GradientWorkspace, vector), mDoubles},
    {offsetof(GradientWorkspace, predictedState), mDoubles},
    {offsetof(GradientWorkspace, predictedCovariance), mmDoubles},
    {offsetof(GradientWorkspace, wholeCovariances), mmDoubles},
    {offsetof(GradientWorkspace, wholeCovariances) + sizeof(double *), mmDoubles},
    {offsetof(GradientWorkspace, directions), nmDoubles},
    {offsetof(GradientWorkspace, covarianceTimesDirections), nmDoubles},
    {offsetof(GradientWorkspace, transposedGains), nmDoubles},
    {offsetof(GradientWorkspace, transposedRows), nmDoubles},
    {offsetof(GradientWorkspace, transposedMeasurement), nmDoubles},
    {offsetof(GradientWorkspace, transposedHalves), nmDoubles},
    {offsetof(GradientWorkspace, pairs), nmDoubles},
    {offsetof(GradientWorkspace, groupCoefficients), nmDoubles},
    {offsetof(GradientWorkspace, seriesScalars), nDoubles},
    {offsetof(GradientWorkspace, rowGradients), nmDoubles},
    {offsetof(GradientWorkspace, noiseGradients), nDoubles},
    {offsetof(GradientWorkspace, innovationGradients), nDoubles},
    {offsetof(GradientWorkspace, stateNoiseAdjoint), mmDoubles},
    {offsetof(GradientWorkspace, rowGradientSums), nmDoubles},
};

// Where the gradient goes: the derivative of the summed log-likelihood with
// respect to each element of A, B, C, D, x0 and P0 as the module reads them,
// a paged input's page by page. Null for an output the caller did not ask
// for, which is then not formed.
struct GradientOutputs {
  double *A = nullptr, *B = nullptr, *C = nullptr, *D = nullptr, *x0 = nullptr, *P0 = nullptr;
  bool any() const { return A != nullptr || B != nullptr || C != nullptr || D != nullptr || x0 != nullptr || P0 != nullptr; }
};
