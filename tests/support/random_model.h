// Random models for property tests, reproducible from a seed, and the model
// as plain vectors that the module tests and the literal references share.
#pragma once

#include "orrim_host.hpp"

#include <cstdint>
#include <random>
#include <vector>

namespace testing_support {

class RandomSource {
 public:
  explicit RandomSource(uint64_t seed) : engine_(seed) {}
  double uniform(double low, double high) { return std::uniform_real_distribution<double>(low, high)(engine_); }
  double normal() { return std::normal_distribution<double>(0.0, 1.0)(engine_); }
  bool chance(double probability) { return uniform(0.0, 1.0) < probability; }
  uint64_t below(uint64_t bound) { return std::uniform_int_distribution<uint64_t>(0, bound - 1)(engine_); }
  std::vector<double> normals(uint64_t count, double scale = 1.0);
  // A symmetric positive definite m x m matrix, column-major.
  std::vector<double> covariance(uint64_t m);
  // An m x m matrix with spectral radius below one, column-major.
  std::vector<double> stableTransition(uint64_t m);
  // `pages` stable transitions one after the other.
  std::vector<double> stableTransitions(uint64_t pages, uint64_t m);

 private:
  std::mt19937_64 engine_;
};

// The inputs every module takes first, as plain vectors: Y, and A, B, C, D
// each one page or T pages; then x0, P0 and tol.
struct ModelVectors {
  uint64_t T = 0, n = 0, m = 0, k = 0, h = 0;
  std::vector<double> Y;           // T x n, NaN = missing
  std::vector<double> A, B, C, D;  // one page, or T pages when paged
  bool pagedA = false, pagedB = false, pagedC = false, pagedD = false;
  std::vector<double> x0, P0;
  double tol = 0.0;
};

// Makes the series of D (pages of n x h, column-major, one after the other)
// independent: column l keeps its element in row l mod n, the others become
// zero, so that D*D' is diagonal and the literal references, which take the
// series one at a time, describe the model. Draws nothing.
void keepEachInnovationInOneSeries(std::vector<double> &D, uint64_t n, uint64_t h);

// Whether a module takes the blocks of decorrelated series for the model:
// some period observes two series or more, and two of its D's rows load on
// one innovation.
bool takesDecorrelationBlocks(const ModelVectors &model);

// Y, A, B, C, D as a host passes them: a paged coefficient m x m x T and so on.
std::vector<orrim::ArrayPtr> observationAndCoefficientArrays(const ModelVectors &model);

struct RandomShape {
  uint64_t maxT = 8, maxN = 4, maxM = 4;
  double missingChance = 0.2;
  bool allowCutoffs = true;  // zero rows of C and D, and tol values that pass observations over
  bool independentNoise = true;  // each column of D in one series; else series share innovations
};

// Sizes up to the shape's (k up to 3, h up to 2), each coefficient paged or
// not, independent series (each column of D non-zero in one row at most)
// unless the shape asks for shared innovations, from the same stream,
// missing values, and special values: a zero state
// variance or an asymmetric P0 (taken as given, never symmetrised); with
// cutoffs zeros in C, zeros and ones in D, and tol values at, below and
// beyond F, NaN included.
ModelVectors randomModel(RandomSource &random, const RandomShape &shape);

}  // namespace testing_support
