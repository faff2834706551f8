// The way back over one used observation: the adjoint of the univariate
// update, as the filter forms it. With w = P*c', F = d + c*w, v = y - c*x,
// K = w/F, the update sets x+ = x + K*v, P- = P - w*w'/F and subtracts
// 0.5*((ln F + ln 2pi) + v*v/F) from the log-likelihood; the guard that
// clears a state then zeroes rows and columns of P- (the caller masks the
// adjoint of P+ before this step). From the derivatives of the summed
// log-likelihood with respect to x+ and P- (xbar, M), with s = xbar'*K:
//   u = M*K, kappa = K'*u,
//   dF = ((kappa - a*s) + 0.5*(a*a)) - 0.5*(1/F), a = (1/F)*v,
//   dv = s - a,
//   dw = a*xbar - 2*u,
// and then those with respect to x and P before the update and to the
// observation's row and noise variance:
//   xbar <- xbar - dv*c',
//   M <- M + (c'*g' + g*c), g = 0.5*(dw + dF*c'),
//   dc = (P*dw + (2*dF*F)*K) - dv*x,  dd = dF,
// and dv is the derivative with respect to where the innovation starts (y).
#pragma once

#include <cstdint>

// What one used observation gives back besides its row's derivative.
struct ObservationDerivatives {
  double noiseVariance;    // dd: with respect to d, the noise variance of the row
  double innovationStart;  // dv: with respect to the observation y the innovation starts from
};

// The scratch of the step: three vectors of m.
struct ObservationAdjointScratch {
  double *adjointTimesGain;          // u
  double *gainDirection;             // dw
  double *covarianceTimesDirection;  // P*dw
};

// One used observation with gain K, (1/F)*v `scaledInnovation`, 1/F
// `reciprocal` and measurement row c, on the point before it (P symmetric,
// x), carrying M (m x m, symmetric, the adjoint of P-) and xbar (m) from
// after the observation to before it; rowGradient (m) receives dc. Every
// sum is one accumulator from 0.0 in ascending index: u_i over l of
// K_l*M(l, i), s and kappa over l, (P*dw)_i over l of dw_l*P(l, i); every
// element of M is formed as written above, so M stays exactly symmetric.
ObservationDerivatives goBackOverObservation(double *M, double *xbar, const double *P, const double *x, const double *K,
                                             const double *c, double scaledInnovation, double reciprocal, uint64_t m,
                                             const ObservationAdjointScratch &scratch, double *rowGradient);
