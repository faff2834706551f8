#include "workloads.h"

#include <cmath>
#include <limits>
#include <random>

const std::vector<Workload> &standardWorkloads() {
  static const std::vector<Workload> workloads = {
      {"W1", 1, 1, 100000, false},
      {"W2", 10, 5, 10000, false},
      {"W2p", 10, 5, 10000, true},
      {"W2c", 10, 5, 10000, false, ObservationNoise::correlated},
      {"W3", 50, 20, 1000, false},
      {"W2d", 10, 5, 10000, false, ObservationNoise::independent, true},
      {"W3d", 50, 20, 1000, false, ObservationNoise::independent, true},
  };
  return workloads;
}

std::vector<const OrrimArray *> WorkloadInputs::filterInputs() const {
  return {Y.get(), A.get(), B.get(), C.get(), D.get(), x0.get(), P0.get(), tol.get()};
}

std::vector<const OrrimArray *> WorkloadInputs::smootherInputs() const {
  return {Y.get(), A.get(), B.get(), C.get(), D.get(), P0.get(), tol.get(), x0.get(), emptyIntercept.get(),
          emptyIntercept.get()};
}

std::vector<const OrrimArray *> WorkloadInputs::simulationInputs(uint64_t draws) {
  std::mt19937_64 engine(draws);
  std::normal_distribution<double> normal;
  std::vector<double> values((m + T * (k + h)) * draws);
  for (double &value : values) value = normal(engine);
  variates = orrim::createReal({m + T * (k + h), draws}, values);
  std::vector<const OrrimArray *> inputs = smootherInputs();
  inputs.push_back(variates.get());
  return inputs;
}

namespace {

// A random matrix scaled so that its row sums of absolute values stay below
// 0.9: every page is then a contraction and the filter settles.
std::vector<double> stableTransition(std::mt19937_64 &engine, uint64_t m) {
  std::normal_distribution<double> normal;
  std::vector<double> A(m * m);
  for (double &value : A) value = normal(engine);
  for (uint64_t i = 0; i < m; ++i) {
    double rowSum = 0.0;
    for (uint64_t j = 0; j < m; ++j) rowSum += std::fabs(A[i + j * m]);
    for (uint64_t j = 0; j < m; ++j) A[i + j * m] *= 0.9 / rowSum;
  }
  return A;
}

}  // namespace

WorkloadInputs makeWorkload(const Workload &workload, uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> uniform;
  const uint64_t m = workload.m, n = workload.n, T = workload.T;
  WorkloadInputs inputs;

  std::vector<double> A;
  for (uint64_t page = 0; page < (workload.pagedA ? T : 1); ++page) {
    const std::vector<double> one = stableTransition(engine, m);
    A.insert(A.end(), one.begin(), one.end());
  }
  inputs.A = workload.pagedA ? orrim::createReal({m, m, T}, A) : orrim::createReal({m, m}, A);

  auto randomValues = [&](uint64_t rows, uint64_t columns, double scale) {
    std::vector<double> values(rows * columns);
    for (double &value : values) value = scale * normal(engine);
    return values;
  };
  auto randomMatrix = [&](uint64_t rows, uint64_t columns, double scale) {
    return orrim::createReal({rows, columns}, randomValues(rows, columns, scale));
  };
  inputs.B = randomMatrix(m, m, 0.3);
  inputs.C = randomMatrix(n, m, 1.0);
  // The draws of a full D, of which the independent noise keeps the
  // diagonal and the correlated the lower triangle.
  std::vector<double> D = randomValues(n, n, 0.5);
  for (uint64_t j = 0; j < n; ++j)
    for (uint64_t l = 0; l < n; ++l)
      if (workload.noise == ObservationNoise::independent ? l != j : l > j) D[j + l * n] = 0.0;
  inputs.D = orrim::createReal({n, n}, D);
  inputs.x0 = randomMatrix(m, 1, 1.0);
  std::vector<double> P0(m * m, 0.0);
  for (uint64_t i = 0; i < m; ++i) P0[i + i * m] = workload.diffuseStart ? std::numeric_limits<double>::infinity() : 1.0;
  inputs.P0 = orrim::createReal({m, m}, P0);
  inputs.tol = orrim::createReal({1, 1}, {1e-10});

  std::vector<double> Y(T * n);
  for (double &value : Y) {
    value = uniform(engine) < 0.05 ? std::numeric_limits<double>::quiet_NaN() : normal(engine);
  }
  inputs.Y = orrim::createReal({T, n}, Y);
  inputs.emptyIntercept = orrim::createEmpty();
  inputs.m = m;
  inputs.T = T;
  inputs.k = m;
  inputs.h = n;
  return inputs;
}
