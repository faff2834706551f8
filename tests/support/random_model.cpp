#include "random_model.h"

namespace testing_support {

std::vector<double> RandomSource::normals(uint64_t count, double scale) {
  std::vector<double> values(count);
  for (double &value : values) {
    value = scale * normal();
  }
  return values;
}

std::vector<double> RandomSource::covariance(uint64_t m) {
  const std::vector<double> root = normals(m * m);
  std::vector<double> result(m * m);
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t j = 0; j < m; ++j) {
      double s = i == j ? 1.0 : 0.0;
      for (uint64_t l = 0; l < m; ++l) {
        s += root[i + l * m] * root[j + l * m];
      }
      result[i + j * m] = s;
    }
  }
  return result;
}

std::vector<double> RandomSource::stableTransition(uint64_t m) {
  // Row sums of absolute values below 0.95 bound the spectral radius.
  std::vector<double> result = normals(m * m);
  for (uint64_t i = 0; i < m; ++i) {
    double rowSum = 0.0;
    for (uint64_t j = 0; j < m; ++j) {
      rowSum += result[i + j * m] < 0 ? -result[i + j * m] : result[i + j * m];
    }
    const double scale = rowSum > 0 ? uniform(0.2, 0.95) / rowSum : 0.0;
    for (uint64_t j = 0; j < m; ++j) {
      result[i + j * m] *= scale;
    }
  }
  return result;
}

}  // namespace testing_support
