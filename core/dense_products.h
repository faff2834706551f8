// The products the smoother's way back and the prediction share, each on the
// process's kernel path: the kernel compiled for the size where the path has
// one, the general vectorised kernel from its smallest vectorised size, the
// plain loop below. All give the same bits: one accumulator per element,
// terms in ascending index.
#pragma once

#include <cstdint>

// out_i = sum over l of v_l * M[l*m + i]: the vector v against the rows of a
// square matrix stored row by row (or, for a symmetric matrix, its columns).
void vectorTimesRows(double *out, const double *v, const double *M, uint64_t m);

// out[i*m + l] = sum over q of A[i*m + q] * B[q*m + l]: both square matrices
// and the product stored row by row.
void rowsTimesRows(double *out, const double *A, const double *B, uint64_t m);

// rowsTimesRows where only the elements on and below the diagonal are
// wanted, for a product that is mirrored: the same bits there, and above the
// diagonal at most a band of rows' worth, not the whole upper triangle.
void rowsTimesRowsLower(double *out, const double *A, const double *B, uint64_t m);

// out = L'q + c'*s for a used observation with gain K and measurement row c,
// L = I - K*c (see CumulantThroughUpdateKernel). out must not be q.
void cumulantThroughUpdate(double *out, const double *q, const double *K, const double *c, double s, uint64_t m);

// Copies the elements below the diagonal of a square m x m matrix onto those
// above it: the lower triangle stands for the whole of a symmetric result.
void mirrorLowerTriangle(double *S, uint64_t m);

// The other way: S[i*m + l] for l > i onto S[l*m + i].
void mirrorUpperTriangle(double *S, uint64_t m);
