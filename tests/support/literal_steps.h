// The prediction and the univariate update written out the plainest way,
// independently of core/: the literal filter and the literal smoother, the
// references the modules must match to the bit, are both made of them.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

namespace testing_support {

// The matrix of period t of a coefficient held as one page or as T pages of
// pageSize elements.
inline const double *literalPage(const std::vector<double> &data, bool paged, uint64_t t, uint64_t pageSize) {
  return data.data() + (paged ? t * pageSize : 0);
}

// x <- A*x from a copy; A*P row by row; the lower triangle of B*B' + A*(A*P)',
// mirrored. A is m x m and B m x k, column-major.
void literalPrediction(std::vector<double> &x, std::vector<double> &P, const double *A, const double *B, uint64_t m,
                       uint64_t k);

// What one observation's update found.
struct LiteralUpdate {
  bool present = false;  // not NaN
  bool used = false;     // present, and F above tol
  double variance = std::numeric_limits<double>::quiet_NaN();  // F of a present observation
  double innovation = 0.0;                                     // v of a used one
  double reciprocal = 0.0;                                     // 1/F of a used one
  std::vector<double> gain;                                    // K of a used one
};

// The update of x and P by series j of a period whose C is n x m and D n x h
// (column-major): w = P*c', F = sum of d*d + c*w; when y is present and F
// above tol, v = innovationStart - c*x (the start is y, or in the smoother y
// less its mean), K = (1/F)*w, x += v*K, and P corrected with each variance
// at or below zero clearing its row and column.
LiteralUpdate literalUpdate(double y, double innovationStart, const double *C, const double *D, uint64_t n,
                            uint64_t j, uint64_t m, uint64_t h, double tol, std::vector<double> &x,
                            std::vector<double> &P);

}  // namespace testing_support
