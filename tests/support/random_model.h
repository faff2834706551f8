// Random models for property tests: reproducible from a seed.
#pragma once

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

 private:
  std::mt19937_64 engine_;
};

}  // namespace testing_support
