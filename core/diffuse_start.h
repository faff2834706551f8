// The exact diffuse start: a state whose initial variance is infinite, marked
// by +inf on the diagonal of P0 (its row and column otherwise zero). The
// covariance is then P* + kappa*P_inf with kappa -> infinity: P_inf starts as
// the 0/1 diagonal of the diffuse states and P* as P0 with their rows and
// columns zero, and both go through the periods of the diffuse phase in the
// univariate form of the exact recursions:
// - the prediction: P_inf <- A*P_inf*A' beside P* <- A*P*A' + B*B';
// - each observation (decorrelated, where series share noise): M_inf =
//   P_inf*c', F_inf = c*M_inf. When F_inf is zero by the rule below, the
//   update of a known start runs on x and P*, with its tol; P_inf stays.
//   Otherwise a diffuse step: M* = P*c', F* = c*M* + d, K0 = (1/F_inf)*M_inf,
//   x <- x + K0*v, P_inf <- P_inf - K0*M_inf', P* <- P* + K0*K0'*F* - K0*M*'
//   - M*K0', and the period's log-likelihood less (ln F_inf + ln 2pi)/2.
//   tol does not apply to F_inf.
// - the phase ends after the period whose P_inf has no element above the
//   rule's size; the periods after it run the arithmetic of a known start.
//
// Zero up to rounding: relative to the largest |element| P_inf has had in the
// call (it is 1 at the start and only the predictions raise it), F_inf is
// zero when F_inf <= 1e-9 * (sum of c_i^2) * largest, and an element of P_inf
// when |element| <= 1e-9 * largest: a diffuse step leaves rounding of that
// size behind. A variance of P_inf or P* that a step leaves at or below zero
// has its row and column set to zero, as a known start's variances do.
//
// Every sum is one accumulator in ascending index, in plain loops that run
// the same on every kernel path; each is written out below where it is formed.
#pragma once

#include "filter_types.h"
#include "measurement_update.h"
#include "working_blocks.h"

#include <cstddef>
#include <cstdint>

// The relative size below which an innovation variance or an element of
// P_inf counts as zero.
inline constexpr double diffuseZeroTolerance = 1e-9;

// Whether P0 (m x m, column-major) marks a state as diffuse.
bool hasDiffuseStates(const double *P0, uint64_t m);

// The diffuse part of the state through the diffuse phase.
struct DiffuseStart {
  double *infinitePart;  // m x m, both triangles: P_inf
  double *infiniteGain;  // m: M_inf of the observation in progress
  double *finiteGain;    // m: M* of a diffuse step
  double largest;        // the largest |element| P_inf has had in the call
  bool active;           // within the diffuse phase
};

// The blocks of a DiffuseStart, in the order they are taken and released; a
// call takes them only when P0 marks a diffuse state.
inline constexpr WorkingBlock diffuseStartBlocks[] = {
    {offsetof(DiffuseStart, infinitePart), mmDoubles},
    {offsetof(DiffuseStart, infiniteGain), mDoubles},
    {offsetof(DiffuseStart, finiteGain), mDoubles},
};

// Splits the P0 in state.P: P_inf the 0/1 diagonal of the states whose
// variance is +inf, P* = P0 with those rows and columns zero (in state.P).
// Starts the diffuse phase.
void startDiffusePhase(DiffuseStart &diffuse, double *P, uint64_t m);

// P_inf <- A*P_inf*A', A column-major as the caller holds it: A*P_inf row by
// row into `product` (element (i, j) over q of A(i, q)*P_inf(q, j)), then
// element (j, i), j >= i, over q of A(j, q)*(A*P_inf)(i, q), mirrored.
// Raises `largest` to the largest |element| of the result.
void predictInfinitePart(DiffuseStart &diffuse, const double *Acolumns, double *product, uint64_t m);

// What the smoother keeps of a diffuse step beyond ObservationRecords, whose
// gain, scaled innovation and reciprocal then hold K0, (1/F_inf)*v and
// 1/F_inf, and whose skip flag holds diffuseStepFlag.
struct DiffuseStepRecords {
  double *gainCorrections;  // K1 = (1/F_inf)*(M* - K0*F*) of series j at j*m
  double *finiteTerms;      // (F* * (1/F_inf)) * (1/F_inf) of series j
};

// The skip flag of an observation taken by a diffuse step: neither used by a
// known start's update (0.0) nor passed over (1.0).
inline constexpr double diffuseStepFlag = 2.0;

// The updates of one period's `count` series in the diffuse phase, series j
// observed at y[j*yStride] with measurement row and noise variance from
// `period`, its innovation starting where innovationStartOf says. With
// `records`, each series is recorded, with what a diffuse step leaves in
// `stepRecords`; returns the period's log-likelihood where the records form
// it (always without them), else 0.0.
double updateInDiffusePhase(const double *y, uint64_t yStride, uint64_t count, const PreparedModel &period, double tol,
                            uint64_t m, FilterState state, FilterScratch scratch, DiffuseStart &diffuse,
                            MissingTest isMissing, const ObservationRecords *records = nullptr,
                            const DiffuseStepRecords *stepRecords = nullptr);

// Whether element e of P_inf is zero by the rule.
inline bool infinitePartIsZero(const DiffuseStart &diffuse, uint64_t e) {
  const double value = diffuse.infinitePart[e];
  return (value < 0.0 ? -value : value) <= diffuseZeroTolerance * diffuse.largest;
}

// Ends the diffuse phase when no element of P_inf is above the rule's size;
// returns whether it ended.
bool endDiffusePhaseWhenDone(DiffuseStart &diffuse, uint64_t m);

// The filtered covariance of a period of the diffuse phase: P* where P_inf's
// element is zero by the rule, and infinity of P_inf's sign where it is not
// (NaN where it is NaN).
void writeDiffuseCovariance(double *page, const double *P, const DiffuseStart &diffuse, uint64_t m);
