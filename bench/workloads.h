// The benchmark workloads: random stable models with 5% of the observations
// missing, as host arrays in the modules' input order.
#pragma once

#include "orrim_host.hpp"

#include <cstdint>
#include <string>
#include <vector>

// How the series' noises relate: independent (D diagonal), or correlated
// through a full lower-triangular D.
enum class ObservationNoise { independent, correlated };

struct Workload {
  std::string name;
  uint64_t m, n, T;
  bool pagedA;
  ObservationNoise noise = ObservationNoise::independent;
  bool diffuseStart = false;  // every state diffuse (P0 = +inf*I), else P0 = I
};

// W1: local level; W2: m = 10, n = 5; W2p: W2 with a paged A; W2c: W2 with
// correlated noise; W3: m = 50, n = 20; W2d and W3d: W2 and W3 with every
// state diffuse at the start.
const std::vector<Workload> &standardWorkloads();

struct WorkloadInputs {
  orrim::ArrayPtr Y, A, B, C, D, x0, P0, tol;
  std::vector<const OrrimArray *> filterInputs() const;    // Y A B C D x0 P0 tol
  std::vector<const OrrimArray *> smootherInputs() const;  // Y A B C D P0 tol x0 [] []
  // The smoother's inputs and variates for `draws` draws: m + T*(k+h) rows.
  std::vector<const OrrimArray *> simulationInputs(uint64_t draws);
  orrim::ArrayPtr emptyIntercept;
  orrim::ArrayPtr variates;
  uint64_t m = 0, T = 0, k = 0, h = 0;
};

WorkloadInputs makeWorkload(const Workload &workload, uint64_t seed);
