// The smoothed state covariances, asked for as a second output: the way back
// carries the information matrix N beside r, through the same records, and
// turns each period's predicted covariance P into V = P - P*N*P.
//
// Every sum is one accumulator in ascending index, through the products of
// dense_products.h or plain loops, so the covariances are as reproducible to
// the bit as the means, on every kernel path. N and V are kept exactly
// symmetric: each element below the diagonal is formed once and mirrored.
#pragma once

#include "working_blocks.h"

#include <cstddef>
#include <cstdint>

struct SmoothedCovarianceWorkspace {
  double *reciprocalVariances;  // n*T: 1/F of a used observation, kept by the forward pass
  double *information;          // m x m: N, carried backwards like r
  double *product;              // m x m scratch
  double *secondProduct;        // m x m scratch
  double *informationTimesGain; // m: N*K
  double *out;                  // m x m x T: the output, page t for period t
};

// The working blocks (not the output), in the order they are taken and
// released: sizes the smoother's own blocks use, and so checked with them.
inline constexpr WorkingBlock smoothedCovarianceBlocks[] = {
    {offsetof(SmoothedCovarianceWorkspace, reciprocalVariances), nTDoubles},
    {offsetof(SmoothedCovarianceWorkspace, information), mmDoubles},
    {offsetof(SmoothedCovarianceWorkspace, product), mmDoubles},
    {offsetof(SmoothedCovarianceWorkspace, secondProduct), mmDoubles},
    {offsetof(SmoothedCovarianceWorkspace, informationTimesGain), mDoubles},
};

// N = 0 before the last observation.
void clearInformation(double *N, uint64_t m);

// N <- A'*N*A for the transition A that leads out of the period, given both
// row by row (transitionRows) and as the caller holds it, column by column:
// X = N*A with X(i, l) = sum over q of N(i, q)*A(q, l), then N(i, l) = sum
// over q of A(q, i)*X(q, l) for i >= l, mirrored. `scratch` is m x m.
void carryInformationThroughTransition(double *N, const double *transitionRows, const double *transitionColumns,
                                       double *scratch, uint64_t m);

// N <- L'*N*L + c'*c/F for a used observation with gain K, measurement row c
// and reciprocal 1/F, L = I - K*c. With u = N*K (u_i = sum over l of
// N(l, i)*K_l) and s = sum over l of K_l*u_l, element (i, l), i >= l, is
// (((N(i, l) - c_i*u_l) - u_i*c_l) + c_i*(s*c_l)) + (c_i*c_l)*(1/F), the
// expansion of L'*N*L for a symmetric N. `u` has room for m.
void carryInformationThroughUpdate(double *N, const double *K, const double *c, double reciprocal, double *u,
                                   uint64_t m);

// page = P - P*N*P for a symmetric P: W = P*N, Z = W*P (each element one sum
// in ascending q), page(i, l) = P(i, l) - Z(i, l) for i >= l, mirrored.
// `first` and `second` are m x m scratch.
void writeSmoothedCovariance(double *page, const double *P, const double *N, double *first, double *second,
                             uint64_t m);
