// The univariate measurement update: one observed series at a time.
#pragma once

#include "filter_types.h"

#include <cstdint>

// ln(2*pi) as the decimal literal whose double every result is built on; a
// computed logarithm would differ in the last bits.
inline constexpr double logTwoPi = 1.837877066409345;

// w = P*c' into covTimesRow; returns F = d + c*w accumulated onto d.
double innovationVariance(const double *measurementRow, double noiseVar, const double *P, uint64_t m,
                          double *covTimesRow);

struct UsedObservation {
  double innovation;  // v
  double reciprocal;  // 1/F, the one division of the update
};

// Corrects x and P with an observation already found usable, its variance F
// and the w that innovationVariance left in scratch.covTimesRow. The
// innovation starts from `innovationStart` (the observation, or in the
// smoother the observation less its mean) and subtracts c(s)*x(s) in turn.
// A state variance left at or below zero has its row and column of P zeroed.
UsedObservation assimilateObservation(double innovationStart, double F, const double *measurementRow,
                                      uint64_t m, FilterState state, FilterScratch scratch);

// What the observation subtracts from its period's log-likelihood, grouped
// exactly: 0.5*((ln F + ln 2pi) + (v*v)*invF).
double logLikelihoodTerm(double F, double v, double reciprocal);

// The whole update of the filter modules. Returns true when the observation
// was used (and its term subtracted from *logLikelihood); false when it was
// missing or its F is not above tol, with x, P and *logLikelihood untouched.
bool updateWithObservation(double y, const double *measurementRow, double noiseVar, double tol, uint64_t m,
                           FilterState state, FilterScratch scratch, MissingTest isMissing,
                           double *logLikelihood);
