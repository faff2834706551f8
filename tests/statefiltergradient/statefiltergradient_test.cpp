// statefiltergradient through the host: its log-likelihood has statefilter's
// bits, its gradient agrees with complex steps of the literal filter, and it
// takes statefilter's inputs with statefilter's errors, leaving nothing
// behind on any path.
#include "complex_step.h"
#include "host_testing.h"
#include "random_model.h"
#include "statefiltergradient_inputs.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

using namespace testing_support;

namespace {

const orrim::Module &statefiltergradient() {
  static const orrim::Module module = orrim::Module::load(STATEFILTERGRADIENT_MODULE);
  return module;
}

const orrim::Module &statefilter() {
  static const orrim::Module module = orrim::Module::load(STATEFILTER_MODULE);
  return module;
}

std::vector<orrim::ArrayPtr> moduleInputs(const ModelVectors &model) {
  std::vector<orrim::ArrayPtr> inputs = observationAndCoefficientArrays(model);
  inputs.push_back(realArray({model.x0.size(), 1}, model.x0));
  inputs.push_back(realArray({model.m, model.m}, model.P0));
  inputs.push_back(scalar(model.tol));
  return inputs;
}

// The outputs of a call, each as its values; empty when it failed.
std::vector<std::vector<double>> callOutputs(const orrim::Module &module, const ModelVectors &model,
                                             int32_t outputCount) {
  const std::vector<orrim::ArrayPtr> inputs = moduleInputs(model);
  orrim::CallResult result = callChecked(module, handles(inputs), outputCount);
  EXPECT_FALSE(result.failed) << result.identifier << ": " << result.message;
  std::vector<std::vector<double>> outputs;
  if (result.failed) return outputs;
  for (const orrim::ArrayPtr &output : result.outputs) outputs.push_back(valuesOf(output.get()));
  return outputs;
}

// Noise of its own for the complex steps. Uncorrelated: column l of D in
// one row, series l's for l < n and a random one for a last column, so that
// a row may have two. Correlated: 1 to n + 2 innovations loading on every
// series, some loadings zero, now and then a series with none (its
// decorrelated series then carries no noise). Values of positive variance;
// the other draws of the model stay as they were.
void giveNoise(ModelVectors &model, RandomSource &random, bool correlated) {
  const uint64_t n = model.n;
  model.h = correlated ? 1 + random.below(n + 2) : n + random.below(2);
  const uint64_t pages = model.pagedD ? model.T : 1;
  const uint64_t extraRow = n > 0 ? random.below(n) : 0;
  const uint64_t silentRow = correlated && n > 0 && random.chance(0.2) ? random.below(n) : n;
  model.D.assign(pages * n * model.h, 0.0);
  for (uint64_t page = 0; page < pages && n > 0; ++page) {
    double *D = model.D.data() + page * n * model.h;
    for (uint64_t l = 0; l < model.h; ++l) {
      for (uint64_t j = 0; j < n; ++j) {
        if (correlated ? j == silentRow || random.chance(0.2) : j != (l < n ? l : extraRow)) continue;
        D[j + l * n] = random.uniform(0.3, 1.2) * (random.chance(0.5) ? 1.0 : -1.0);
      }
    }
  }
}

// Whether every diffuse step's F_inf lies clear of the rule that calls it
// zero (a value near it tests the threshold, not the code), and no series
// is left with a variance rounding alone makes: series that share their
// shocks observe as many states as they lack noise, exactly, and the next
// one's F is then rounding, with derivatives of its size.
bool clearOfDiffuseRuleAndRounding(const ModelVectors &model) {
  for (double ratio : diffuseVarianceRatios(model)) {
    if (ratio >= 1e-13 && ratio <= 1e-3) return false;
  }
  for (double F : innovationVariances(model)) {
    if (std::fabs(F) < 1e-6) return false;
  }
  return true;
}

// Whether some state starts diffuse.
bool startsDiffuse(const ModelVectors &model) {
  for (uint64_t i = 0; i < model.m; ++i) {
    if (std::isinf(model.P0[i + i * model.m])) return true;
  }
  return false;
}

// Whether every F lies clear of tol, where the sum jumps.
bool clearOfTol(const ModelVectors &model) {
  for (double F : innovationVariances(model)) {
    if (std::fabs(F - model.tol) <= 1e-6 * (1.0 + std::fabs(model.tol))) return false;
  }
  return true;
}

// A tol that passes over about a third of the observations at tol = 0, when
// that stays clear of every F; else tol = 0.
void passSomeOver(ModelVectors &model) {
  model.tol = 0.0;
  std::vector<double> variances = innovationVariances(model);
  if (variances.size() < 3) return;
  std::sort(variances.begin(), variances.end());
  const uint64_t third = variances.size() / 3;
  model.tol = 0.5 * (variances[third - 1] + variances[third]);
  if (model.tol <= 0.0 || !clearOfTol(model)) model.tol = 0.0;
}

double largestMagnitude(const std::vector<double> &values) {
  double largest = 0.0;
  for (double value : values) largest = std::max(largest, std::fabs(value));
  return largest;
}

// Agreement within 1e-8 of each input's largest derivative, or, for an input
// whose every derivative is of the size rounding leaves where the exact one
// is zero (x0 of a diffuse state, D where only diffuse steps see the series),
// within 1e-14 of the largest derivative of all.
::testing::AssertionResult agrees(const char *input, const std::vector<double> &expected,
                                  const std::vector<double> &actual, double largestOfAll) {
  if (expected.size() != actual.size()) {
    return ::testing::AssertionFailure() << input << ": " << actual.size() << " derivatives, not " << expected.size();
  }
  const double scale = std::max(largestMagnitude(expected), 1e-6 * largestOfAll);
  for (size_t e = 0; e < expected.size(); ++e) {
    if (!(std::fabs(expected[e] - actual[e]) <= 1e-8 * scale)) {
      return ::testing::AssertionFailure() << input << " element " << e << ": " << actual[e] << ", complex steps "
                                           << expected[e] << " (scale " << scale << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult agreesWithComplexSteps(const ModelVectors &model) {
  const ModelGradient expected = complexStepGradient(model);
  const std::vector<std::vector<double>> outputs = callOutputs(statefiltergradient(), model, 7);
  if (outputs.size() != 7) return ::testing::AssertionFailure() << "the call failed";
  const std::pair<const char *, const std::vector<double> *> inputs[] = {
      {"A", &expected.A}, {"B", &expected.B}, {"C", &expected.C}, {"D", &expected.D}, {"x0", &expected.x0},
      {"P0", &expected.P0}};
  double largestOfAll = 0.0;
  for (const auto &input : inputs) largestOfAll = std::max(largestOfAll, largestMagnitude(*input.second));
  for (size_t i = 0; i < std::size(inputs); ++i) {
    if (auto result = agrees(inputs[i].first, *inputs[i].second, outputs[i + 1], largestOfAll); !result) {
      return result;
    }
  }
  return ::testing::AssertionSuccess();
}

bool pagedWithPeriods(const ModelVectors &model) {
  return model.T > 0 || !(model.pagedA || model.pagedB || model.pagedC || model.pagedD);
}

}  // namespace

// Every kind of model statefilter takes, cutoffs and special values
// included, on sizes that reach each way the updates run (one state in
// registers, the steps compiled for their size, the next w formed in the
// correction, the plain steps), independent and correlated noise, known and
// diffuse starts: the log-likelihood alone and beside the gradient, to the bit.
TEST(StatefiltergradientLogLikelihood, HasStatefiltersBits) {
  int compared = 0;
  for (const bool shared : {false, true}) {
    for (const RandomShape shape : {RandomShape{6, 3, 4, 0.15, true, shared, shared ? 0.3 : 0.0},
                                    RandomShape{4, 20, 20, 0.2, true, shared, shared ? 0.0 : 0.2},
                                    RandomShape{3, 5, 70, 0.2, true, shared, shared ? 0.2 : 0.0}}) {
      for (uint64_t seed = 1; seed <= 100; ++seed) {
        RandomSource random(seed);
        const ModelVectors model = randomModel(random, shape);
        if (!pagedWithPeriods(model)) continue;
        const std::vector<double> expected = callOutputs(statefilter(), model, 1).at(0);
        ASSERT_TRUE(bitIdentical(expected, callOutputs(statefiltergradient(), model, 1).at(0))) << "seed " << seed;
        ASSERT_TRUE(bitIdentical(expected, callOutputs(statefiltergradient(), model, 7).at(0))) << "seed " << seed;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 400);
}

// Constant and paged coefficients, missing values, a positive tol that
// passes observations over, P0 with a zero variance or taken as given when
// asymmetric; noise independent (whose D still has derivatives where a
// change would correlate it) or shared, with h below and above n; states
// known or diffuse at the start, mixed.
TEST(StatefiltergradientAgainstComplexSteps, RandomModels) {
  struct Case {
    RandomShape shape;
    bool correlated;
    uint64_t firstSeed;
    double zeroLoadings = 0.0;  // the chance of an element of C to be zero
    bool randomWalks = false;   // diffuse states follow random walks, as trends do, and stay diffuse for long
    uint64_t seeds = 150;
  };
  // Then few series, and zero loadings, so that the diffuse phase lasts
  // periods, and a step clears a state of P_inf before others are seen, also
  // with more states than the steps compiled for their size. The last two:
  // many states and more series than a block of the way back's corrections
  // holds, or a group of its other products.
  const Case cases[] = {{RandomShape{8, 4, 4, 0.2, false}, false, 7000},
                        {RandomShape{3, 4, 19, 0.2, false}, false, 7200},
                        {RandomShape{6, 4, 4, 0.2, false}, true, 7400},
                        {RandomShape{3, 5, 18, 0.2, false}, true, 7600},
                        {RandomShape{6, 3, 4, 0.2, false, false, 0.5}, false, 7800},
                        {RandomShape{6, 4, 5, 0.2, false, false, 0.5}, true, 8000},
                        {RandomShape{3, 4, 18, 0.2, false, false, 0.3}, true, 8200},
                        {RandomShape{8, 2, 5, 0.3, false, false, 0.7}, false, 8400, 0.3},
                        {RandomShape{6, 3, 5, 0.2, false, false, 0.7}, true, 8600, 0.3},
                        {RandomShape{5, 1, 20, 0.0, false, false, 0.12, 1, 17}, false, 8800, 0.5, true, 50},
                        {RandomShape{3, 13, 18, 0.2, false, false, 0.0, 9, 17}, false, 9000, 0.0, false, 12},
                        {RandomShape{3, 13, 18, 0.2, false, false, 0.0, 9, 17}, true, 9200, 0.0, false, 12}};
  int compared = 0, passedOver = 0, correlated = 0, diffuse = 0;
  for (const Case &test : cases) {
    for (uint64_t seed = 1; seed <= test.seeds; ++seed) {
      RandomSource random(test.firstSeed + seed);
      ModelVectors model = randomModel(random, test.shape);
      if (!pagedWithPeriods(model)) continue;
      giveNoise(model, random, test.correlated);
      for (double &loading : model.C) {
        if (test.zeroLoadings > 0.0 && random.chance(test.zeroLoadings)) loading = 0.0;
      }
      for (uint64_t page = 0; test.randomWalks && page < model.A.size() / std::max<uint64_t>(model.m * model.m, 1); ++page) {
        for (uint64_t i = 0; i < model.m; ++i) {
          if (!std::isinf(model.P0[i + i * model.m])) continue;
          for (uint64_t l = 0; l < model.m; ++l) model.A[page * model.m * model.m + i + l * model.m] = l == i ? 1.0 : 0.0;
        }
      }
      if (random.chance(0.6)) passSomeOver(model);
      if (!clearOfDiffuseRuleAndRounding(model)) continue;
      passedOver += model.tol > 0.0 ? 1 : 0;
      correlated += test.correlated && model.n >= 2 && model.T > 0 ? 1 : 0;
      diffuse += startsDiffuse(model) && model.n > 0 && model.T > 0 ? 1 : 0;
      ASSERT_TRUE(agreesWithComplexSteps(model)) << "seed " << test.firstSeed + seed << ", m " << model.m << ", n "
                                                 << model.n << ", h " << model.h << ", T " << model.T << ", tol "
                                                 << model.tol;
      ++compared;
    }
  }
  EXPECT_GT(compared, 850);
  EXPECT_GT(passedOver, 200);
  EXPECT_GT(correlated, 220);
  EXPECT_GT(diffuse, 180);
}

// statefilter's checks and messages: every call statefilter refuses, this
// module refuses with the same identifier and message, before it allocates.
TEST(StatefiltergradientErrors, StatefiltersChecksAndMessages) {
  RandomSource random(5);
  ModelVectors model = randomModel(random, RandomShape{4, 2, 2, 0.0, false});
  while (model.m < 2 || model.n == 0 || model.T == 0) model = randomModel(random, RandomShape{4, 2, 2, 0.0, false});
  const std::vector<orrim::ArrayPtr> valid = moduleInputs(model);
  expectInputCountRefused(statefiltergradient(), statefiltergradientGateway, handles(valid));
  struct Case {
    size_t position;
    orrim::ArrayPtr replacement;
  };
  std::vector<Case> cases;
  cases.push_back({2, realArray({1, 1}, {1.0})});                       // B too small
  cases.push_back({3, realArray({model.n, 1, 1}, std::vector<double>(model.n, 1.0))});  // C paged, too few pages
  cases.push_back({5, scalar(0.0)});                                    // x0 too short
  cases.push_back({6, cellColumn({})});                                 // P0 a cell array
  cases.push_back({7, realArray({0, 0}, {})});                          // no tol
  cases.push_back({1, orrim::createReal({uint64_t{1} << 33, 0})});      // m*m overflows
  for (Case &test : cases) {
    std::vector<const OrrimArray *> inputs = handles(valid);
    inputs[test.position] = test.replacement.get();
    const orrim::CallResult expected = statefilter().call(1, inputs);
    ASSERT_TRUE(expected.failed) << "input " << test.position;
    const orrim::Counters before = orrim::counters();
    EXPECT_EQ(expectError(statefiltergradient(), inputs, expected.identifier), expected.message);
    EXPECT_EQ(orrim::counters().allocations, before.allocations) << "input " << test.position;
  }
}

// Each derivative shaped as the module reads its input: a paged coefficient
// m x k x T, a constant one its matrix, x0 m x 1, P0 m x m; only the slots
// asked for, and zeros where nothing is observed.
TEST(StatefiltergradientShapes, OutputsAreShapedAsTheInputsAreRead) {
  RandomSource random(11);
  ModelVectors model = randomModel(random, RandomShape{5, 3, 3, 0.1, false});
  while (model.m == 0 || model.n == 0 || model.T == 0) model = randomModel(random, RandomShape{5, 3, 3, 0.1, false});
  model.pagedA = false;
  model.A = random.stableTransition(model.m);
  model.pagedB = true;
  model.B = random.normals(model.T * model.m * model.k);
  const std::vector<orrim::ArrayPtr> inputs = moduleInputs(model);
  orrim::CallResult result = callChecked(statefiltergradient(), handles(inputs), 9);
  ASSERT_FALSE(result.failed) << result.message;
  const uint64_t T = model.T, n = model.n, m = model.m, k = model.k, h = model.h;
  const std::vector<std::vector<uint64_t>> expected = {
      {T, 1}, {m, m}, {m, k, T}, model.pagedC ? std::vector<uint64_t>{n, m, T} : std::vector<uint64_t>{n, m},
      model.pagedD ? std::vector<uint64_t>{n, h, T} : std::vector<uint64_t>{n, h}, {m, 1}, {m, m}};
  for (size_t slot = 0; slot < expected.size(); ++slot) {
    ASSERT_NE(result.outputs[slot], nullptr) << "slot " << slot;
    EXPECT_EQ(orrim::dimensions(result.outputs[slot].get()), expected[slot]) << "slot " << slot;
  }
  EXPECT_EQ(result.outputs[7], nullptr);
  EXPECT_EQ(result.outputs[8], nullptr);
  // Asked for three, it gives the log-likelihood and A's and B's derivatives, with the same bits.
  orrim::CallResult three = callChecked(statefiltergradient(), handles(inputs), 3);
  ASSERT_EQ(three.outputs.size(), 3u);
  for (int slot = 0; slot < 3; ++slot) {
    EXPECT_TRUE(bitIdentical(valuesOf(result.outputs[slot].get()), valuesOf(three.outputs[slot].get())));
  }
  // The working storage stays within the smoother's bound, m*m*T + 3*m*n*T +
  // 4*(m+n)*T doubles and a mebibyte, outputs included.
  RandomSource large(12);
  ModelVectors big = randomModel(large, RandomShape{1, 1, 1, 0.05, false});
  big.T = 200, big.n = 10, big.m = 30, big.k = 30, big.h = 10;
  big.pagedA = big.pagedB = big.pagedC = big.pagedD = false;
  big.Y = large.normals(big.T * big.n);
  big.A = large.stableTransition(big.m);
  big.B = large.normals(big.m * big.k, 0.3);
  big.C = large.normals(big.n * big.m);
  big.D = large.normals(big.n * big.h);
  big.x0 = large.normals(big.m);
  big.P0 = large.covariance(big.m);
  const uint64_t bound = 8 * (30 * 30 * 200 + 3 * 30 * 10 * 200 + 4 * (30 + 10) * 200) + (uint64_t{1} << 20);
  for (const bool diffuseAndCorrelated : {false, true}) {
    if (diffuseAndCorrelated) {
      // Every series sharing every innovation, and a third of the states
      // diffuse, ten of them seen in a period: a phase of periods.
      big.D = large.normals(big.n * big.h);
      big.C = large.normals(big.n * big.m, 0.1);
      for (uint64_t i = 0; i < big.m; i += 3) {
        for (uint64_t l = 0; l < big.m; ++l) big.P0[l + i * big.m] = big.P0[i + l * big.m] = 0.0;
        big.P0[i + i * big.m] = std::numeric_limits<double>::infinity();
      }
    }
    orrim::resetCounters();
    ASSERT_EQ(callOutputs(statefiltergradient(), big, 7).size(), 7u);
    EXPECT_LE(orrim::counters().peakBytes, bound) << "bound " << bound;
  }
  // Every observation missing: the log-likelihood and every derivative are zeros.
  ModelVectors unseen = model;
  std::fill(unseen.Y.begin(), unseen.Y.end(), std::numeric_limits<double>::quiet_NaN());
  for (const std::vector<double> &output : callOutputs(statefiltergradient(), unseen, 7)) {
    EXPECT_TRUE(std::all_of(output.begin(), output.end(), [](double value) { return value == 0.0; }));
  }
}

// Memory that runs out at any of the call's requests ends it with
// orrim:OutOfMemory and nothing left behind (callChecked checks the
// counters); with enough, the call gives its full result.
// With correlated noise and a diffuse start too, whose blocks grow in the call.
TEST(StatefiltergradientErrors, MemoryRunningOutAnywhereLeavesNothing) {
  for (const RandomShape shape : {RandomShape{6, 3, 4, 0.1, false}, RandomShape{6, 3, 4, 0.1, false, true, 0.5}}) {
    RandomSource random(3);
    ModelVectors model = randomModel(random, shape);
    while (model.m < 2 || model.n < 2 || model.T < 2 || (shape.diffuseChance > 0.0 && !startsDiffuse(model))) {
      model = randomModel(random, shape);
    }
    const std::vector<orrim::ArrayPtr> inputs = moduleInputs(model);
    int refused = 0;
    for (uint64_t limit = 64;; limit += 64) {
      orrim::setMemoryLimit(limit);
      orrim::CallResult result = callChecked(statefiltergradient(), handles(inputs), 7);
      orrim::setMemoryLimit(0);
      if (!result.failed) break;
      ASSERT_EQ(result.identifier, "orrim:OutOfMemory");
      ++refused;
    }
    EXPECT_GT(refused, 20);
  }
}
