// Storage for one filtering step of m states and n series, for the tests and
// benchmarks that drive the steps without a module.
#pragma once

#include "filter_types.h"

#include <cstdint>
#include <vector>

namespace testing_support {

struct StepBuffers {
  explicit StepBuffers(uint64_t m, uint64_t n = 1)
      : x(m), P(m * m), rows(m * m), noise(m * m), measurement(n * m), observationNoise(n), copy(m), ap(m * m),
        w(m), K(m) {}
  std::vector<double> x, P, rows, noise, measurement, observationNoise, copy, ap, w, K;
  std::vector<double> columns;  // A column-major, when the model offers it

  FilterState state() { return {x.data(), P.data()}; }
  PreparedModel model() {
    return {rows.data(), noise.data(), measurement.data(), observationNoise.data(),
            columns.empty() ? nullptr : columns.data()};
  }
  FilterScratch scratch() { return {copy.data(), ap.data(), w.data(), K.data()}; }

  // The model offers A by its columns as well, copied from `rows`.
  void offerColumns() {
    const uint64_t m = x.size();
    columns.resize(m * m);
    for (uint64_t i = 0; i < m; ++i)
      for (uint64_t j = 0; j < m; ++j) columns[i + j * m] = rows[i * m + j];
  }
};

}  // namespace testing_support
