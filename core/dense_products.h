// The products the filtering steps share: the kernel compiled for the size
// from 2 to 16 states, the general vectorised kernel above, the plain loop
// below. All give the same bits: one accumulator per element, terms in
// ascending index.
#pragma once

#include <cstdint>

// out_i = sum over l of v_l * M[l*m + i]: the vector v against the rows of a
// square matrix stored row by row (or, for a symmetric matrix, its columns).
void vectorTimesRows(double *out, const double *v, const double *M, uint64_t m);

// out[i*m + l] = sum over q of A[i*m + q] * B[q*m + l]: both square matrices
// and the product stored row by row.
void rowsTimesRows(double *out, const double *A, const double *B, uint64_t m);

// out = L'q + c'*s for a used observation with gain K and measurement row c,
// L = I - K*c (see CumulantThroughUpdateKernel). out must not be q.
void cumulantThroughUpdate(double *out, const double *q, const double *K, const double *c, double s, uint64_t m);

// Below this size the plain loops are as fast as the kernels.
inline constexpr uint64_t smallestVectorisedSize = 8;
