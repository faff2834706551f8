// statefilter against the literal filter on random models, to the bit (the
// log-likelihood alone and with the filtered states), and the properties that
// catch whole classes of faults.
#include "host_testing.h"
#include "literal_state_filter.h"
#include "random_model.h"

#include <cmath>
#include <limits>

using namespace testing_support;

namespace {

const orrim::Module &statefilter() {
  static const orrim::Module module = orrim::Module::load(STATEFILTER_MODULE);
  return module;
}

// Models of up to 6 periods, 3 series and 4 states, with missing values,
// cutoffs at and below tol, zeroed rows of C and D, and paged coefficients.
LiteralFilterModel randomFilterModel(uint64_t seed) {
  RandomSource random(seed);
  return randomModel(random, RandomShape{6, 3, 4, 0.15, true});
}

// The module's outputs, the log-likelihood first; nothing when it failed.
std::vector<std::vector<double>> callModuleOutputs(const LiteralFilterModel &model, int32_t outputCount) {
  std::vector<orrim::ArrayPtr> inputs = observationAndCoefficientArrays(model);
  inputs.push_back(realArray({model.x0.size(), 1}, model.x0));
  inputs.push_back(realArray({model.m, model.m}, model.P0));
  inputs.push_back(scalar(model.tol));
  orrim::CallResult result = callChecked(statefilter(), handles(inputs), outputCount);
  EXPECT_FALSE(result.failed) << result.identifier << ": " << result.message;
  std::vector<std::vector<double>> outputs;
  if (!result.failed) {
    for (int32_t slot = 0; slot < outputCount; ++slot) outputs.push_back(valuesOf(result.outputs[slot].get()));
  }
  return outputs;
}

std::vector<double> callModule(const LiteralFilterModel &model) {
  std::vector<std::vector<double>> outputs = callModuleOutputs(model, 1);
  return outputs.empty() ? std::vector<double>{} : outputs[0];
}

// The log-likelihood alone, and with the filtered states beside it: all to
// the bit of the literal filter's.
::testing::AssertionResult matchesTheLiteralFilter(const LiteralFilterModel &model) {
  LiteralFilteredStates states;
  const std::vector<double> expected = literalStateFilter(model, &states);
  if (auto alone = bitIdentical(expected, callModule(model)); !alone) return alone << " (one output)";
  const std::vector<std::vector<double>> outputs = callModuleOutputs(model, 3);
  if (outputs.size() != 3) return ::testing::AssertionFailure() << "the call with three outputs failed";
  if (auto first = bitIdentical(expected, outputs[0]); !first) return first << " (log-likelihood beside the states)";
  if (auto means = bitIdentical(states.means, outputs[1]); !means) return means << " (filtered means)";
  if (auto covariances = bitIdentical(states.covariances, outputs[2]); !covariances) {
    return covariances << " (filtered covariances)";
  }
  return ::testing::AssertionSuccess();
}

bool pagedWithPeriods(const LiteralFilterModel &model) {
  return model.T > 0 || !(model.pagedA || model.pagedB || model.pagedC || model.pagedD);
}

}  // namespace

TEST(StatefilterRandomModels, BitIdenticalToTheLiteralFilter) {
  int compared = 0;
  for (uint64_t seed = 1; seed <= 600; ++seed) {
    const LiteralFilterModel model = randomFilterModel(seed);
    if (!pagedWithPeriods(model)) continue;  // a paged coefficient of zero pages has no shape to build
    ASSERT_TRUE(matchesTheLiteralFilter(model)) << "seed " << seed;
    ++compared;
  }
  EXPECT_GT(compared, 400);
}

// Up to 17 states and 20 series: the steps compiled for each size, the
// general path above them, and periods of more series than one run takes.
TEST(StatefilterRandomModels, LargerModelsStayBitIdentical) {
  for (uint64_t seed = 1; seed <= 12; ++seed) {
    RandomSource random(seed * 7919);
    LiteralFilterModel model;
    model.T = 40;
    model.n = 3 + random.below(18);
    model.m = 9 + random.below(9);
    model.k = 2 + random.below(5);
    model.h = 1 + random.below(3);
    model.pagedA = seed % 2 == 0;
    model.pagedC = seed % 3 == 0;
    model.A = random.stableTransitions(model.pagedA ? model.T : 1, model.m);
    model.B = random.normals(model.m * model.k);
    model.C = random.normals((model.pagedC ? model.T : 1) * model.n * model.m);
    model.D = random.normals(model.n * model.h);
    testing_support::keepEachInnovationInOneSeries(model.D, model.n, model.h);
    model.x0 = random.normals(model.m);
    model.P0 = random.covariance(model.m);
    model.Y = random.normals(model.T * model.n, 2.0);
    for (double &value : model.Y) if (random.chance(0.05)) value = std::numeric_limits<double>::quiet_NaN();
    ASSERT_TRUE(matchesTheLiteralFilter(model)) << "seed " << seed;
  }
}

TEST(StatefilterRandomModels, PagesEqualToAConstantMatrixGiveTheConstantResult) {
  for (uint64_t seed = 1; seed <= 60; ++seed) {
    LiteralFilterModel constant = randomFilterModel(seed * 31);
    constant.pagedA = constant.pagedB = constant.pagedC = constant.pagedD = false;
    const uint64_t T = constant.T, n = constant.n, m = constant.m, k = constant.k, h = constant.h;
    if (T == 0) continue;
    constant.A.resize(m * m);
    constant.B.resize(m * k);
    constant.C.resize(n * m);
    constant.D.resize(n * h);
    LiteralFilterModel paged = constant;
    paged.pagedA = paged.pagedB = paged.pagedC = paged.pagedD = true;
    auto repeat = [T](const std::vector<double> &page) {
      std::vector<double> all;
      for (uint64_t t = 0; t < T; ++t) all.insert(all.end(), page.begin(), page.end());
      return all;
    };
    paged.A = repeat(constant.A);
    paged.B = repeat(constant.B);
    paged.C = repeat(constant.C);
    paged.D = repeat(constant.D);
    ASSERT_TRUE(bitIdentical(callModule(constant), callModule(paged))) << "seed " << seed;
  }
}

TEST(StatefilterRandomModels, NanAndCutoffGuards) {
  LiteralFilterModel model = randomFilterModel(5);
  model.T = 3;
  model.n = 2;
  model.m = 2;
  model.k = 1;
  model.h = 1;
  model.pagedA = model.pagedB = model.pagedC = model.pagedD = false;
  model.A = {0.5, 0.0, 0.0, 0.5};
  model.B = {1.0, 1.0};
  model.C = {1.0, 0.0, 0.0, 0.0};  // series 1 has a zero measurement row: F = d
  model.D = {1.0, 1.0};
  model.x0 = {0.0, 0.0};
  model.P0 = {1.0, 0.0, 0.0, 1.0};
  model.Y = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0};

  model.tol = 1.0;  // series 1 has F = 1 exactly: passed over
  const std::vector<double> atTol = callModule(model);
  LiteralFilterModel firstOnly = model;
  firstOnly.Y[3] = firstOnly.Y[4] = firstOnly.Y[5] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(bitIdentical(callModule(firstOnly), atTol));

  model.tol = std::numeric_limits<double>::quiet_NaN();  // nothing is passed over by the cutoff
  const std::vector<double> noCutoff = callModule(model);
  model.tol = -1.0;
  EXPECT_TRUE(bitIdentical(callModule(model), noCutoff));

  model.D = {std::numeric_limits<double>::quiet_NaN(), 1.0};  // a NaN F is used and spreads
  const std::vector<double> poisoned = callModule(model);
  for (double value : poisoned) EXPECT_TRUE(std::isnan(value));
}
