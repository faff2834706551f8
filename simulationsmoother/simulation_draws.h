// The stages of a simulation smoother call: one pass of the covariance
// recursions, then every draw through the mean recursions alone, a block of
// draws side by side at a time.
#pragma once

#include "filter_types.h"
#include "simulation_workspace.h"

#include <cstdint>

// What the draws read beside the model.
struct DrawInputs {
  const double *variates;  // variateRows x draws: column s holds z0, then u_t and e_t of each period, of draw s
  uint64_t variateRows;    // m + T*(k+h)
  uint64_t draws;
  const double *x0;                    // m
  const double *P0;                    // m x m, for the states that start diffuse
  const double *stateIntercept;        // m x T, or null for zeros
  const double *observationIntercept;  // n x T, or null for zeros
  MissingTest isMissing;               // the covariance pass's
};

// The smoother's forward pass over the deviations of Y from zero means,
// from a zero start with covariance P0: it keeps, for every period, the
// predicted covariance and, for every observation, whether it was passed
// over and, for a used one, its gain and 1/F. Where a period's series share
// noise, they are its decorrelated series, at its first record slots; with a
// diffuse start (the workspace's DiffuseStart taken), the periods of the
// diffuse phase keep their predicted P_inf and their diffuse steps K0, 1/F_inf
// and K1 besides. None of these depends on the data, only on which values are
// missing, so they serve every draw. Expects the model in the workspace and
// every block taken; Y is T x n.
void runCovariancePass(SimulationSmootherWorkspace &workspace, const double *Y, const double *P0,
                       MissingTest isMissing);

// Every draw, into out (T x m x draws, page s draw s, row t period t), after
// runCovariancePass and with initialFactor holding G:
//   x+_{-1} = x0 + G*z0 (see startSimulatedStates),
//   x+_t(i) = s_t(i) + sum over q of B_t(i, q)*u_t(q) + sum over l of A_t(i, l)*x+_{t-1}(l),
//   y+_t(j) = o_t(j) + sum over l of C_t(j, l)*x+_t(l) + sum over q of D_t(j, q)*e_t(q),
// each one accumulator from the intercept (or 0.0), adding the terms of the
// first sum and then of the second in ascending index;
// and the draw x+_t + xhat_t, where xhat_t = a_t + P_t*r_t is the smoothed
// deviation of Y - y+ (NaN where Y is NaN) under a zero start and no
// intercepts:
//   forward, from x = 0: x <- A_t*x (each element a sum in ascending l from
//   0.0), which is a_t; where the pass decorrelated the period, Y - y+ of its
//   observed series through the same L^-1 (decorrelateRowsInPlace, the sums
//   of y*); then each used observation and each diffuse step as
//   updateDrawMeansOfPeriod, over the series the pass took;
//   backward, from r = 0 after the last period: r <- A_{t+1}'*r, r(i) = sum
//   over l of A_{t+1}(l, i)*r(l) from 0.0, out of period t; then within period
//   t the used observations from the last, as carryDrawCumulantsOfPeriod; then
//   draw_t(i) = (x+_t(i) + a_t(i)) + sum over l of P_t(i, l)*r(l), one
//   accumulator from x+_t(i) + a_t(i) in ascending l.
// In the periods of a diffuse phase r is r0, beside r1, which is zero after
// the phase's last period and goes through A_{t+1}' as r does; within the
// period both go back as carryDrawCumulantsOfDiffusePeriod, and draw_t(i) =
// ((x+_t(i) + a_t(i)) + sum over l of P*_t(i, l)*r0(l)) + sum over l of
// P_inf_t(i, l)*r1(l), one accumulator, each sum in ascending l.
// A draw with a NaN among the variates it reads is NaN throughout. A draw's
// bits depend on its own column of variates alone, never on the other draws
// or on the block it is drawn in.
void drawSmoothedStates(SimulationSmootherWorkspace &workspace, const DrawInputs &inputs, double *out);
