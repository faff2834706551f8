// The seed corpus of the fuzz targets: calls that reach every outcome of each
// module (results of every shape the module accepts and each of its errors),
// so that fuzzing starts from inside the filters rather than at their checks.
//
//   fuzz_seed_corpus write DIR   writes DIR/<module>/<outcome>--<what>
//   fuzz_seed_corpus check DIR   runs every file of DIR/<module>/ through the
//                                module's contract; a file whose name says
//                                an outcome must give it ("ok", or the end of
//                                the error identifier)
#include "fuzz_input.h"
#include "gateway_contract.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using fuzzing::CallEncoder;

namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();
const uint64_t huge40 = fuzzing::hugeDimensions[0];  // 2^40
const uint64_t huge63 = fuzzing::hugeDimensions[10];  // 2^63

struct Seed {
  std::string outcome;
  std::string what;
  CallEncoder call;
};

// A module's seeds, each added with the outcome its call must give and a
// name for what it tries.
struct SeedList {
  std::vector<Seed> list;
  void add(const std::string &outcome, const std::string &what, CallEncoder call) {
    list.push_back({outcome, what, std::move(call)});
  }
};

struct ModuleSeeds {
  const fuzzing::GatewayContract &contract;
  std::vector<Seed> seeds;
};

// A two-state, two-series model over T periods: Y, A, B, C, D, x0, P0.
struct SmallModel {
  uint64_t T;
  std::vector<double> Y;
};

SmallModel twoSeries(uint64_t T) {
  SmallModel model{T, {}};
  const double pattern[] = {0.5, 1.25, -0.75, 2.0, nan, 1.5, 0.25, -1.0};
  for (uint64_t e = 0; e < 2 * T; ++e) {
    model.Y.push_back(pattern[e % 8]);
  }
  return model;
}

const std::vector<double> transition{0.75, 0.125, -0.25, 0.5};
const std::vector<double> loading{0.5, 0.25, 0.0, 0.5};
const std::vector<double> measurement{1.0, 0.5, 0.25, 1.0};
const std::vector<double> innovation{0.75, 0.5, 0.25, 1.0};
const std::vector<double> initialState{0.5, -0.5};
const std::vector<double> initialCovariance{2.0, 0.5, 0.5, 1.0};
// The second state diffuse; and a diffuse first state beside a covariance.
const std::vector<double> diffuseCovariance{2.0, 0.0, 0.0, inf};
const std::vector<double> brokenDiffuseCovariance{inf, 0.5, 0.5, 1.0};

// Constant coefficients in statefilter's order from A on: A, B, C, D, x0, P0.
void constantCoefficients(CallEncoder &call) {
  call.matrix(2, 2, transition).matrix(2, 2, loading).matrix(2, 2, measurement).matrix(2, 2, innovation);
  call.matrix(2, 1, initialState).matrix(2, 2, initialCovariance);
}

// T pages of a 2 x 2 matrix, page t scaled by (t + 1) / 2.
std::vector<double> pagesOf(const std::vector<double> &matrix, uint64_t T) {
  std::vector<double> pages;
  for (uint64_t t = 0; t < T; ++t) {
    for (double v : matrix) {
      pages.push_back(v * static_cast<double>(t + 1) / 2.0);
    }
  }
  return pages;
}

std::vector<Seed> statefilterSeeds() {
  const int32_t N = 8;
  SeedList seeds;
  const SmallModel model = twoSeries(6);
  {
    CallEncoder call(N, N);
    call.real({6}, {1.0, 1.5, nan, 2.0, 0.5, 1.25}).scalar(1.0).scalar(0.5).scalar(1.0).scalar(0.75);
    call.scalar(0.0).scalar(4.0).scalar(0.0);
    seeds.add("ok", "local-level", std::move(call));
  }
  {
    // Found by fuzzing the gradient: with no state, a B of 2^40 columns holds
    // nothing, and nothing may walk its columns.
    CallEncoder call(N, N);
    call.real({2, 1}, {1.0, 0.5}).matrix(0, 0, {}).matrix(0, huge40, {}).matrix(1, 0, {}).scalar(1.0);
    call.matrix(0, 1, {}).matrix(0, 0, {}).scalar(0.0);
    seeds.add("ok", "no-states-b-of-2pow40-columns", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(6, 2, model.Y);
    constantCoefficients(call);
    call.scalar(0.0);
    seeds.add("ok", "two-series-constant", std::move(call));
  }
  {
    CallEncoder call(N, N, 2);
    call.matrix(3, 2, twoSeries(3).Y);
    call.real({2, 2, 3}, pagesOf(transition, 3)).real({2, 2, 3}, pagesOf(loading, 3));
    call.real({2, 2, 3}, pagesOf(measurement, 3)).real({2, 2, 3}, pagesOf(innovation, 3));
    call.matrix(2, 1, initialState).matrix(2, 2, initialCovariance).scalar(1e-8);
    seeds.add("ok", "paged-coefficients", std::move(call));
  }
  for (const bool broken : {false, true}) {
    CallEncoder call(N, N, 3);
    call.matrix(6, 2, model.Y).matrix(2, 2, transition).matrix(2, 2, loading).matrix(2, 2, measurement);
    call.matrix(2, 2, innovation).matrix(2, 1, initialState);
    call.matrix(2, 2, broken ? brokenDiffuseCovariance : diffuseCovariance).scalar(0.0);
    seeds.add(broken ? "InvalidDiffuseStart" : "ok", broken ? "diffuse-state-beside-a-covariance" : "diffuse-start",
              std::move(call));
  }
  {
    CallEncoder call(N, N, 0);
    call.matrix(0, 2, {}).matrix(2, 2, transition).real({2, 2, 0}, {}).matrix(2, 2, measurement);
    call.real({2, 1, 0}, {}).matrix(2, 1, initialState).matrix(2, 2, initialCovariance).scalar(0.0);
    seeds.add("ok", "no-periods-paged-b-and-d", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(6, 2, model.Y).real({2, 2, 1, 1}, transition);
    call.matrix(2, 2, loading).matrix(2, 2, measurement).matrix(2, 2, innovation);
    call.matrix(1, 2, initialState).matrix(2, 2, initialCovariance).real({1, 1, 1}, {0.0});
    seeds.add("ok", "four-dimensional-a-row-x0-and-three-dimensional-tol", std::move(call));
  }
  // The two-series model with a paged B of these dimensions, every value 0.5.
  const auto withPagedB = [&](const std::vector<uint64_t> &dimensions) {
    CallEncoder call(N, N);
    call.matrix(6, 2, model.Y).matrix(2, 2, transition);
    call.real(dimensions, std::vector<double>(dimensions[0] * dimensions[1] * dimensions[2], 0.5));
    call.matrix(2, 2, measurement).matrix(2, 2, innovation).matrix(2, 1, initialState);
    call.matrix(2, 2, initialCovariance).scalar(0.0);
    return call;
  };
  seeds.add("ok", "paged-b-with-pages-past-the-periods", withPagedB({2, 1, 8}));
  {
    CallEncoder call(N, N);
    call.matrix(6, 2, model.Y).matrix(2, 2, transition).matrix(2, 2, loading).matrix(2, 2, measurement);
    call.matrix(2, 2, innovation).real({4}, {0.5, -0.5, 9.0, 9.0}).matrix(2, 2, initialCovariance).scalar(0.0);
    seeds.add("InputShape", "long-x0", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(6, 2, model.Y).matrix(2, 2, transition).matrix(2, 2, loading).matrix(1, 4, measurement);
    call.matrix(2, 2, innovation).matrix(2, 1, initialState).matrix(2, 2, initialCovariance).scalar(0.0);
    seeds.add("InputShape", "c-of-one-row", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.real({6, 1, 2}, model.Y);
    constantCoefficients(call);
    call.matrix(2, 1, {0.0, 1.0});
    seeds.add("InputShape", "three-dimensional-y-and-two-tols", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(6, 2, model.Y).empty().matrix(0, 0, {}).matrix(2, 0, {}).matrix(2, 1, {0.5, 1.0});
    call.empty().empty().scalar(0.0);
    seeds.add("ok", "no-states", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(4, 0, {}).matrix(2, 2, transition).matrix(2, 2, loading).matrix(0, 2, {}).matrix(0, 3, {});
    call.matrix(2, 1, initialState).matrix(2, 2, initialCovariance).scalar(0.0);
    seeds.add("ok", "no-series", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(3, 2, {inf, 1e300, -0.0, nan, 1e-300, -inf});
    call.matrix(2, 2, {1e154, 0.0, 0.0, 1e154}).matrix(2, 2, loading).matrix(2, 2, measurement);
    call.matrix(2, 2, {0.0, 0.0, 0.0, 0.0}).matrix(2, 1, initialState).matrix(2, 2, {nan, 0.0, 0.0, -1.0});
    call.scalar(-1.0);
    seeds.add("ok", "special-values", std::move(call));
  }
  {
    CallEncoder call(7, N);
    call.matrix(6, 2, model.Y);
    constantCoefficients(call);
    seeds.add("NotEnoughInputs", "seven-inputs", std::move(call));
  }
  seeds.add("NotEnoughInputs", "no-inputs", CallEncoder(0, N));
  {
    CallEncoder call(N, N);
    call.matrix(6, 2, model.Y).matrix(2, 2, transition).matrix(2, 2, loading).matrix(2, 2, measurement);
    call.matrix(2, 2, innovation).matrix(2, 1, initialState).matrix(1, 3, {1.0, 0.0, 1.0}).scalar(0.0);
    seeds.add("InputTooSmall", "short-p0", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(6, 2, model.Y).matrix(2, 2, transition).matrix(2, 2, loading);
    call.real({2, 2, 5}, pagesOf(measurement, 5)).matrix(2, 2, innovation).matrix(2, 1, initialState);
    call.matrix(2, 2, initialCovariance).scalar(0.0);
    seeds.add("InputTooSmall", "paged-c-one-page-short", std::move(call));
  }
  seeds.add("InputTooSmall", "paged-b-with-one-row-for-two-states", withPagedB({1, 3, 6}));
  seeds.add("ok", "paged-b-of-one-column-given-as-rows", withPagedB({1, 2, 6}));
  {
    CallEncoder call(N, N);
    call.matrix(6, 2, model.Y).cell({2, 1}).matrix(2, 2, transition).matrix(2, 2, transition);
    call.matrix(2, 2, loading).matrix(2, 2, measurement).matrix(2, 2, innovation);
    call.matrix(2, 1, initialState).matrix(2, 2, initialCovariance).scalar(0.0);
    seeds.add("InputNotReal", "cell-a", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(6, 2, model.Y).matrix(2, 2, transition).matrix(2, 2, loading).matrix(2, 2, measurement);
    call.matrix(2, 2, innovation).missing().matrix(2, 2, initialCovariance).scalar(0.0);
    seeds.add("InputNotReal", "missing-x0", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(6, 2, model.Y).matrix(huge40, 0, {}).matrix(2, 2, loading).matrix(2, 2, measurement);
    call.matrix(2, 2, innovation).matrix(2, 1, initialState).matrix(2, 2, initialCovariance).scalar(0.0);
    seeds.add("TooLarge", "states-beyond-64-bits", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.limitMemory(7);
    call.matrix(6, 2, model.Y);
    constantCoefficients(call);
    call.scalar(0.0);
    seeds.add("OutOfMemory", "memory-limited-to-64-bytes", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(huge40, 0, {}).empty().empty().empty().empty().empty().empty().scalar(0.0);
    seeds.add("OutOfMemory", "output-of-2pow40-periods", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(huge63, 0, {}).empty().empty().empty().empty().empty().empty().scalar(0.0);
    seeds.add("TooLarge", "output-of-2pow63-periods", std::move(call));
  }
  return seeds.list;
}

// The gradient takes statefilter's calls, with their outcomes, and shapes
// its derivatives as it reads the coefficients.
std::vector<Seed> statefiltergradientSeeds() {
  const int32_t N = 8;
  SeedList seeds;
  seeds.list = statefilterSeeds();
  {
    // Found by fuzzing: with no state, a paged B of no element may claim
    // any columns, and its derivative, of k*T columns, cannot be made.
    CallEncoder call(N, N, 3);
    call.real({3, 1}, {1.0, 0.5, -0.25}).matrix(0, 0, {}).real({0, huge63, 0}, {}).matrix(1, 0, {});
    call.scalar(1.0).matrix(0, 1, {}).matrix(0, 0, {}).scalar(0.0);
    seeds.add("TooLarge", "paged-b-of-no-state-whose-derivative-has-2pow63-times-t-columns", std::move(call));
  }
  return seeds.list;
}

std::vector<Seed> cellstatefilterSeeds() {
  const int32_t N = 8;
  SeedList seeds;
  // One state; the series count goes 1, 2, 0, 3.
  auto growingSeries = [](CallEncoder &call, bool withY) {
    if (withY) {
      call.cell({4, 1}).real({1}, {1.0}).real({2}, {0.5, nan}).empty().real({3}, {1.0, -1.0, 2.0});
    }
    call.scalar(0.9).scalar(0.5);
    call.cell({4, 1}).matrix(1, 1, {1.0}).matrix(2, 1, {1.0, 0.5}).matrix(0, 1, {}).matrix(3, 1, {1.0, 2.0, 0.5});
    call.cell({4, 1}).matrix(1, 1, {0.75}).matrix(2, 2, {0.5, 0.25, 0.5, 1.0}).matrix(0, 0, {});
    call.matrix(3, 1, {1.0, 0.5, 0.25});
    call.scalar(0.0).scalar(1.0).scalar(0.0);
  };
  {
    CallEncoder call(N, N);
    growingSeries(call, true);
    seeds.add("ok", "series-one-two-none-three", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(6, 2, twoSeries(6).Y);
    constantCoefficients(call);
    call.scalar(0.0);
    seeds.add("ok", "all-matrices", std::move(call));
  }
  for (const bool broken : {false, true}) {
    CallEncoder call(N, N, 3);
    call.cell({4, 1}).real({1}, {1.0}).real({2}, {0.5, nan}).empty().real({3}, {1.0, -1.0, 2.0});
    call.matrix(2, 2, transition).matrix(2, 2, loading);
    call.cell({4, 1}).matrix(1, 2, {1.0, 0.5}).matrix(2, 2, measurement).matrix(0, 2, {}).matrix(3, 2, {1, 2, 3, 4, 5, 6});
    call.cell({4, 1}).matrix(1, 1, {0.75}).matrix(2, 2, {0.5, 0.25, 0.5, 1.0}).matrix(0, 0, {});
    call.matrix(3, 1, {1.0, 0.5, 0.25});
    call.matrix(2, 1, initialState).matrix(2, 2, broken ? brokenDiffuseCovariance : diffuseCovariance).scalar(0.0);
    seeds.add(broken ? "InvalidDiffuseStart" : "ok", broken ? "diffuse-state-beside-a-covariance" : "diffuse-start",
              std::move(call));
  }
  {
    CallEncoder call(N, N, 3);
    call.matrix(3, 2, twoSeries(3).Y).cell({1, 3});
    for (int t = 0; t < 3; ++t) {
      call.matrix(2, 2, transition);
    }
    call.cell({3, 1}).matrix(2, 1, {0.5, 0.25}).matrix(2, 2, loading).matrix(2, 3, {0.5, 0, 0, 0.5, 0.25, 0.25});
    call.cell({2, 2}).matrix(2, 2, measurement).matrix(2, 2, measurement).matrix(2, 2, measurement).empty();
    call.matrix(2, 2, innovation).matrix(2, 1, initialState).matrix(2, 2, initialCovariance).scalar(0.0);
    seeds.add("ok", "matrix-y-with-cells-of-other-shapes", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.cell({0, 1}).scalar(0.9).scalar(0.5).cell({0, 0}).empty().scalar(0.0).scalar(1.0).scalar(0.0);
    seeds.add("ok", "no-periods-empty-cells", std::move(call));
  }
  {
    // No period, but A's first element gives m = 1: T x m and m x m x T.
    CallEncoder call(N, N, 3);
    call.matrix(0, 1, {}).cell({1, 1}).scalar(0.5);
    call.scalar(1.0).scalar(1.0).scalar(1.0).scalar(0.0).scalar(1.0).scalar(0.0);
    seeds.add("ok", "no-periods-cell-a-with-an-element-and-three-outputs", std::move(call));
  }
  {
    // No period, a Y of one column and a C of no element: C, read as m x 1
    // turned, gives no series, which Y's columns do not contradict with no
    // observation to hold. statefilter, taking n from Y, refuses the call.
    CallEncoder call(N, N);
    call.matrix(0, 1, {}).scalar(0.5).scalar(1.0).matrix(1, 0, {}).matrix(0, 1, {});
    call.scalar(0.0).scalar(1.0).scalar(0.0);
    seeds.add("ok", "no-periods-c-of-no-element-beside-a-y-column", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.cell({2, 1}).real({1}, {inf}).real({1}, {-1e300}).scalar(1e154).scalar(1e154).scalar(1.0);
    call.scalar(0.0).scalar(nan).scalar(1.0).scalar(-inf);
    seeds.add("ok", "special-values", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.cell({4, 1}).real({1}, {1.0}).real({2}, {0.5, nan}).empty().real({3}, {1.0, -1.0, 2.0});
    call.cell({2, 1}).scalar(0.9).scalar(0.9);
    call.scalar(0.5).cell({4, 1}).matrix(1, 1, {1.0}).matrix(2, 1, {1.0, 0.5}).matrix(0, 1, {});
    call.matrix(3, 1, {1.0, 2.0, 0.5}).scalar(1.0).scalar(0.0).scalar(1.0).scalar(0.0);
    seeds.add("InputTooSmall", "cell-a-shorter-than-the-periods", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.cell({2, 1}).real({1}, {1.0}).real({1}, {2.0}).scalar(0.9).scalar(0.5);
    call.cell({2, 1}).matrix(1, 1, {1.0}).missing();
    call.scalar(1.0).scalar(0.0).scalar(1.0).scalar(0.0);
    seeds.add("InputNotReal", "unset-element-of-c", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.cell({2, 1}).real({1}, {1.0}).cell({1, 1}).scalar(2.0).scalar(0.9).scalar(0.5);
    call.scalar(1.0).scalar(1.0).scalar(0.0).scalar(1.0).scalar(0.0);
    seeds.add("InputNotReal", "nested-cell-in-y", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(2, 1, {1.0, 2.0}).scalar(0.9).scalar(0.5);
    call.cell({2, 1}).matrix(1, 1, {1.0}).matrix(2, 1, {1.0, 1.0});
    call.scalar(1.0).scalar(0.0).scalar(1.0).scalar(0.0);
    seeds.add("InputTooSmall", "one-d-matrix-for-more-series", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(2, 2, {1.0, 2.0, 1.0, 2.0}).scalar(0.9).scalar(0.5);
    call.cell({2, 1}).matrix(1, 1, {1.0}).matrix(2, 1, {1.0, 1.0});
    call.cell({2, 1}).matrix(1, 1, {1.0}).matrix(2, 1, {1.0, 1.0}).scalar(0.0).scalar(1.0).scalar(0.0);
    seeds.add("InputShape", "matrix-y-wider-than-the-first-period", std::move(call));
  }
  {
    // Two states: each period's C given as m x n.
    CallEncoder call(N, N);
    call.cell({2, 1}).real({3}, {1.0, 0.5, 2.0}).real({3}, {nan, 1.0, 0.0}).matrix(2, 2, transition);
    call.matrix(2, 1, {0.5, 0.5}).cell({2, 1}).matrix(2, 3, std::vector<double>(6, 0.5));
    call.matrix(2, 3, std::vector<double>(6, 0.25)).matrix(3, 1, {1.0, 1.0, 1.0});
    call.matrix(2, 1, initialState).matrix(2, 2, initialCovariance).scalar(0.0);
    seeds.add("InputShape", "cell-c-transposed", std::move(call));
  }
  {
    // One state: C rows and B columns, the other way round.
    CallEncoder call(N, N);
    call.cell({2, 1}).real({2}, {1.0, 0.5}).real({1}, {2.0}).scalar(0.9);
    call.cell({2, 1}).matrix(2, 1, {0.5, 0.25}).matrix(3, 1, {0.5, 0.25, 1.0});
    call.cell({2, 1}).matrix(1, 2, {1.0, 0.5}).matrix(1, 1, {1.0});
    call.cell({2, 1}).matrix(2, 1, {1.0, 0.5}).matrix(2, 1, {0.75, 0.25});
    call.scalar(0.0).scalar(1.0).scalar(0.0);
    seeds.add("ok", "one-state-cells-the-other-way-round", std::move(call));
  }
  {
    CallEncoder call(9, N);
    growingSeries(call, true);
    call.scalar(0.0);
    seeds.add("NotEnoughInputs", "nine-inputs", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.cell({1, 1}).real({1}, {1.0}).matrix(2, 2, transition).matrix(2, 1, {0.5, 0.5});
    call.cell({1, 1}).matrix(huge63, 0, {});
    call.scalar(1.0).matrix(2, 1, initialState).matrix(2, 2, initialCovariance).scalar(0.0);
    seeds.add("TooLarge", "series-beyond-64-bits", std::move(call));
  }
  {
    // Found by fuzzing: the checks visited each of the 2^40 periods.
    CallEncoder call(N, N);
    call.matrix(huge40, 0, {}).scalar(0.9).scalar(0.5).matrix(0, 1, {}).matrix(0, 1, {});
    call.scalar(0.0).scalar(1.0).scalar(0.0);
    seeds.add("OutOfMemory", "matrix-y-of-2pow40-periods-without-cells", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.limitMemory(11);
    growingSeries(call, true);
    seeds.add("OutOfMemory", "memory-limited-to-96-bytes-on-growth", std::move(call));
  }
  {
    // Found by fuzzing: the test of shared innovations visited each of the
    // 2^40 columns of a D without rows.
    CallEncoder call(N, N);
    call.cell({1, 1}).matrix(0, 1, {}).matrix(2, 2, transition).matrix(2, 1, {0.5, 0.5});
    call.cell({1, 1}).matrix(0, 2, {});
    call.cell({1, 1}).matrix(0, huge40, {});
    call.matrix(2, 1, initialState).matrix(2, 2, initialCovariance).scalar(0.0);
    seeds.add("ok", "a-period-without-series-whose-d-has-2pow40-columns", std::move(call));
  }
  return seeds.list;
}

std::vector<Seed> statesmootherSeeds() {
  const int32_t N = 10;
  SeedList seeds;
  const SmallModel model = twoSeries(5);
  // Y and A are given by the caller; B, C, D, P0, tol, x0 follow here.
  auto afterA = [](CallEncoder &call) {
    call.matrix(2, 2, loading).matrix(2, 2, measurement).matrix(2, 2, innovation);
    call.matrix(2, 2, initialCovariance).scalar(0.0).matrix(2, 1, initialState);
  };
  {
    CallEncoder call(N, N);
    call.real({5}, {1.0, 1.5, nan, 2.0, 0.5}).scalar(1.0).scalar(0.5).scalar(1.0).scalar(0.75);
    call.scalar(4.0).scalar(0.0).scalar(0.0).matrix(1, 5, {0.0, 0.25, 0.0, -0.25, 0.0});
    call.matrix(1, 5, {0.5, 0.5, 0.5, 0.5, 0.5});
    seeds.add("ok", "local-level-with-intercepts", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(5, 2, model.Y).real({2, 2, 5}, pagesOf(transition, 5));
    afterA(call);
    call.empty().empty();
    seeds.add("ok", "paged-a-with-distinct-pages", std::move(call));
  }
  for (const bool broken : {false, true}) {
    CallEncoder call(N, N, 2);
    call.matrix(5, 2, model.Y).real({2, 2, 5}, pagesOf(transition, 5));
    call.matrix(2, 2, loading).matrix(2, 2, measurement).matrix(2, 2, innovation);
    call.matrix(2, 2, broken ? brokenDiffuseCovariance : diffuseCovariance).scalar(0.0).matrix(2, 1, initialState);
    call.empty().empty();
    seeds.add(broken ? "InvalidDiffuseStart" : "ok", broken ? "diffuse-state-beside-a-covariance" : "diffuse-start",
              std::move(call));
  }
  {
    CallEncoder call(N, N, 2);
    call.matrix(5, 2, model.Y).matrix(2, 2, transition).real({2, 2, 5}, pagesOf(loading, 5));
    call.real({2, 2, 5}, pagesOf(measurement, 5)).real({2, 1, 5}, {0.5, 0.5, 0.25, 1.0, 0.5, 0.5, 1.0, 0.25, 0.5, 0.5});
    call.matrix(2, 2, initialCovariance).scalar(1e-8).matrix(2, 1, initialState);
    call.matrix(2, 5, {0.1, 0.2, 0.3, 0.4, 0.5, 0.0, 0.0, 0.0, 0.0, 0.0}).empty();
    seeds.add("ok", "paged-b-c-d-and-an-intercept", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(5, 2, model.Y).matrix(2, 2, transition);
    afterA(call);
    call.matrix(5, 2, {0.1, 0.2, 0.3, 0.4, 0.5, 0.0, 0.0, 0.0, 0.0, 0.0}).empty();
    seeds.add("InputShape", "t-by-m-state-intercept", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(5, 2, model.Y).real({2, 2, 5, 2}, std::vector<double>(40, 0.25));
    afterA(call);
    call.empty().empty();
    seeds.add("InputShape", "four-dimensional-a", std::move(call));
  }
  {
    CallEncoder call(N, N, 0);
    call.matrix(0, 2, {}).matrix(2, 2, transition).real({2, 2, 0}, {}).matrix(2, 2, measurement);
    call.real({2, 1, 0}, {}).matrix(2, 2, initialCovariance).scalar(0.0).matrix(2, 1, initialState);
    call.empty().empty();
    seeds.add("ok", "no-periods-paged-b-and-d", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(4, 0, {}).matrix(2, 2, transition).matrix(2, 2, loading).matrix(0, 2, {}).matrix(0, 1, {});
    call.matrix(2, 2, initialCovariance).scalar(0.0).matrix(2, 1, initialState).empty().empty();
    seeds.add("ok", "no-series", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(5, 2, model.Y).empty().empty().matrix(2, 0, {}).matrix(2, 1, {0.5, 1.0});
    call.empty().scalar(0.0).empty().empty().matrix(2, 5, std::vector<double>(10, 0.25));
    seeds.add("ok", "no-states", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(3, 2, {inf, 1e300, -0.0, nan, 1e-300, -inf}).matrix(2, 2, {1e154, 0.0, 0.0, 1e154});
    call.matrix(2, 2, loading).matrix(2, 2, measurement).matrix(2, 2, {0.0, 0.0, 0.0, 0.0});
    call.matrix(2, 2, {nan, 0.0, 0.0, -1.0}).scalar(-1.0).matrix(2, 1, initialState).empty().empty();
    seeds.add("ok", "special-values", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(5, 2, model.Y).matrix(2, 2, transition);
    afterA(call);
    call.matrix(2, 4, std::vector<double>(8, 0.5)).empty();
    seeds.add("InputTooSmall", "state-intercept-one-period-short", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.cell({1, 1}).matrix(5, 2, model.Y).matrix(2, 2, transition);
    afterA(call);
    call.empty().empty();
    seeds.add("InputNotReal", "cell-y", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(5, 2, model.Y).matrix(huge40, 0, {});
    afterA(call);
    call.empty().empty();
    seeds.add("TooLarge", "states-beyond-64-bits", std::move(call));
  }
  {
    // 2^62 periods of no series: the lower triangles of P, 3 * 2^62 doubles,
    // are counted before P0's values are read.
    CallEncoder call(N, N);
    call.matrix(uint64_t{1} << 62, 0, {}).matrix(2, 2, transition).matrix(2, 2, loading).matrix(0, 2, {});
    call.matrix(0, 1, {}).matrix(2, 2, brokenDiffuseCovariance).scalar(0.0).matrix(2, 1, initialState);
    call.empty().empty();
    seeds.add("TooLarge", "storage-of-2pow62-periods-counted-before-a-broken-diffuse-start", std::move(call));
  }
  {
    CallEncoder call(8, N);
    call.matrix(5, 2, model.Y).matrix(2, 2, transition);
    afterA(call);
    seeds.add("NotEnoughInputs", "eight-inputs", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.limitMemory(47);
    call.matrix(5, 2, model.Y).matrix(2, 2, transition);
    afterA(call);
    call.empty().empty();
    seeds.add("OutOfMemory", "memory-limited-to-384-bytes", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(huge40, 0, {}).scalar(1.0).scalar(1.0).matrix(0, 1, {}).matrix(0, 1, {}).scalar(1.0);
    call.scalar(0.0).scalar(0.0).empty().empty();
    seeds.add("OutOfMemory", "2pow40-periods", std::move(call));
  }
  {
    // Found by fuzzing: 2^40 empty periods were walked for a 2^40 x 0 result.
    CallEncoder call(N, N);
    call.matrix(huge40, 0, {}).empty().empty().empty().empty().empty().scalar(0.0).empty().empty().empty();
    seeds.add("ok", "no-state-no-series-2pow40-periods", std::move(call));
  }
  return seeds.list;
}

// The variates of `draws` draws of `rows` rows, on the encoder's grid.
std::vector<double> variatesOf(uint64_t rows, uint64_t draws) {
  std::vector<double> values;
  for (uint64_t e = 0; e < rows * draws; ++e) {
    values.push_back(static_cast<double>(static_cast<int>(e * 7 % 17) - 8) / 4.0);
  }
  return values;
}

std::vector<Seed> simulationsmootherSeeds() {
  const int32_t N = 11;
  SeedList seeds;
  const SmallModel model = twoSeries(3);
  // m + T*(k+h) = 2 + 3*(2+2) rows for the two-state model: dimensions stay below 16.
  const uint64_t rows = 14;
  // B, C, D, P0, tol, x0 after Y and A, as the smoother takes them.
  auto afterA = [](CallEncoder &call, const std::vector<double> &P0) {
    call.matrix(2, 2, loading).matrix(2, 2, measurement).matrix(2, 2, innovation);
    call.matrix(2, 2, P0).scalar(0.0).matrix(2, 1, initialState);
  };
  // Every input before the variates: the two-state model with a constant A.
  auto twoStatesWithoutIntercepts = [&](CallEncoder &call, const std::vector<double> &P0) -> CallEncoder & {
    call.matrix(3, 2, model.Y).matrix(2, 2, transition);
    afterA(call, P0);
    return call.empty().empty();
  };
  {
    CallEncoder call(N, N);
    call.real({5}, {1.0, 1.5, nan, 2.0, 0.5}).scalar(1.0).scalar(0.5).scalar(1.0).scalar(0.75);
    call.scalar(4.0).scalar(0.0).scalar(0.0).matrix(1, 5, {0.0, 0.25, 0.0, -0.25, 0.0});
    call.matrix(1, 5, {0.5, 0.5, 0.5, 0.5, 0.5}).matrix(11, 3, variatesOf(11, 3));
    seeds.add("ok", "local-level-with-intercepts-three-draws", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(3, 2, model.Y).real({2, 2, 3}, pagesOf(transition, 3));
    afterA(call, initialCovariance);
    call.empty().empty().matrix(rows, 15, variatesOf(rows, 15));
    seeds.add("ok", "paged-a-and-15-draws", std::move(call));
  }
  {
    CallEncoder call(N, N);
    twoStatesWithoutIntercepts(call, {1.0, 1.0, 1.0, 1.0}).matrix(rows, 2, variatesOf(rows, 2));
    seeds.add("ok", "singular-p0-two-draws", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(3, 2, {inf, 1e300, -0.0, nan, 1e-300, -inf}).matrix(2, 2, {1e154, 0.0, 0.0, 1e154});
    call.matrix(2, 2, loading).matrix(2, 2, measurement).matrix(2, 2, {0.0, 0.0, 0.0, 0.0});
    call.matrix(2, 2, {nan, 0.0, 0.0, 1.0}).scalar(-1.0).matrix(2, 1, initialState).empty().empty();
    std::vector<double> variates = variatesOf(14, 2);
    variates[5] = nan;
    call.matrix(14, 2, variates);
    seeds.add("ok", "special-values-and-a-nan-variate", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(0, 2, {}).matrix(2, 2, transition).real({2, 2, 0}, {}).matrix(2, 2, measurement);
    call.real({2, 1, 0}, {}).matrix(2, 2, initialCovariance).scalar(0.0).matrix(2, 1, initialState);
    call.empty().empty().matrix(2, 1, {0.5, -0.5});
    seeds.add("ok", "no-periods-paged-b-and-d", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(3, 2, model.Y).empty().empty().matrix(2, 0, {}).matrix(2, 1, {0.5, 1.0});
    call.empty().scalar(0.0).empty().empty().matrix(2, 3, std::vector<double>(6, 0.25));
    call.matrix(3, 2, variatesOf(3, 2));
    seeds.add("ok", "no-states", std::move(call));
  }
  {
    CallEncoder call(N, N);
    twoStatesWithoutIntercepts(call, initialCovariance).matrix(rows - 1, 2, variatesOf(rows - 1, 2));
    seeds.add("InputTooSmall", "variates-one-row-short", std::move(call));
  }
  {
    CallEncoder call(N, N);
    twoStatesWithoutIntercepts(call, {1.0, 2.0, 2.0, 1.0}).matrix(rows, 2, variatesOf(rows, 2));
    seeds.add("NotPositiveSemidefinite", "negative-pivot", std::move(call));
  }
  {
    CallEncoder call(N, N);
    twoStatesWithoutIntercepts(call, initialCovariance).cell({1, 1}).matrix(rows, 1, variatesOf(rows, 1));
    seeds.add("InputNotReal", "cell-variates", std::move(call));
  }
  {
    CallEncoder call(10, N);
    twoStatesWithoutIntercepts(call, initialCovariance);
    seeds.add("NotEnoughInputs", "ten-inputs", std::move(call));
  }
  {
    // No state, so that B of 2^63 columns holds nothing; T*(k+h) overflows.
    CallEncoder call(N, N);
    call.matrix(3, 2, model.Y).empty().matrix(0, huge63, {}).matrix(2, 0, {}).matrix(2, 2, innovation);
    call.empty().scalar(0.0).empty().empty().empty().matrix(rows, 1, variatesOf(rows, 1));
    seeds.add("TooLarge", "variate-rows-beyond-64-bits", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.limitMemory(47);
    twoStatesWithoutIntercepts(call, initialCovariance).matrix(rows, 2, variatesOf(rows, 2));
    seeds.add("OutOfMemory", "memory-limited-to-384-bytes", std::move(call));
  }
  {
    CallEncoder call(N, N);
    call.matrix(huge40, 0, {}).empty().empty().empty().empty().empty().scalar(0.0).empty().empty().empty();
    call.matrix(0, 3, {});
    seeds.add("ok", "no-state-no-series-2pow40-periods", std::move(call));
  }
  return seeds.list;
}

std::vector<ModuleSeeds> allSeeds() {
  return {{fuzzing::statefilterContract(), statefilterSeeds()},
          {fuzzing::cellstatefilterContract(), cellstatefilterSeeds()},
          {fuzzing::statesmootherContract(), statesmootherSeeds()},
          {fuzzing::statefiltergradientContract(), statefiltergradientSeeds()},
          {fuzzing::simulationsmootherContract(), simulationsmootherSeeds()}};
}

std::string outcomeOf(const fuzzing::CheckedCall &checked) {
  if (!checked.failed) {
    return "ok";
  }
  return checked.identifier.substr(checked.identifier.rfind(':') + 1);
}

int writeSeeds(const fs::path &root) {
  for (const ModuleSeeds &module : allSeeds()) {
    const fs::path directory = root / module.contract.name;
    fs::create_directories(directory);
    for (const Seed &seed : module.seeds) {
      std::ofstream file(directory / (seed.outcome + "--" + seed.what), std::ios::binary);
      const std::string bytes = seed.call.bytes();
      file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::cout << module.seeds.size() << " seeds for " << module.contract.name << "\n";
  }
  return 0;
}

int checkSeeds(const fs::path &root) {
  int failures = 0;
  for (const ModuleSeeds &module : allSeeds()) {
    const fs::path directory = root / module.contract.name;
    int files = 0;
    int succeeded = 0;
    for (const fs::directory_entry &entry : fs::directory_iterator(directory)) {
      std::ifstream file(entry.path(), std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      const fuzzing::DecodedCall call = fuzzing::decodeCall(reinterpret_cast<const uint8_t *>(bytes.data()),
                                                            bytes.size(), inputCountOf(module.contract));
      const fuzzing::CheckedCall checked = fuzzing::checkGatewayCall(module.contract, call);
      const std::string name = entry.path().filename().string();
      const size_t separator = name.find("--");
      const std::string outcome = outcomeOf(checked);
      ++files;
      succeeded += checked.failed ? 0 : 1;
      if (!checked.violation.empty()) {
        std::cout << module.contract.name << "/" << name << ": " << checked.violation << "\n";
        ++failures;
      } else if (separator != std::string::npos && name.substr(0, separator) != outcome) {
        std::cout << module.contract.name << "/" << name << ": gave " << outcome << " (" << checked.message << ")\n";
        ++failures;
      }
    }
    std::cout << module.contract.name << ": " << files << " seeds, " << succeeded << " with a result\n";
    if (succeeded == 0) {
      std::cout << module.contract.name << ": no seed reaches the filter\n";
      ++failures;
    }
  }
  std::cout << (failures == 0 ? "every seed gave its outcome" : "seeds failed") << "\n";
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3 || (std::string(argv[1]) != "write" && std::string(argv[1]) != "check")) {
    std::cerr << "usage: fuzz_seed_corpus write|check DIR\n";
    return 2;
  }
  return std::string(argv[1]) == "write" ? writeSeeds(argv[2]) : checkSeeds(argv[2]);
}
