// simulationsmoother called through the host: every draw against the literal
// simulation smoother to the bit, a draw alone against the same draw among
// many, the inputs it refuses, and the storage it keeps within its bound.
#include "host_testing.h"
#include "literal_simulation_smoother.h"
#include "simulation_workspace.h"
#include "simulationsmoother_inputs.h"
#include "smoother_test_model.h"

#include <cmath>
#include <limits>
#include <string>
#include <tuple>

using namespace testing_support;

namespace {

const double missing = std::numeric_limits<double>::quiet_NaN();
const std::string prefix = simulationsmootherGateway.errorPrefix;

const orrim::Module &simulationsmootherModule() {
  static const orrim::Module module = orrim::Module::load(SIMULATIONSMOOTHER_MODULE);
  return module;
}

uint64_t variateRows(const SmootherTestModel &model) { return model.m + model.T * (model.k + model.h); }

// `draws` columns of standard normals; with `withNaN`, a NaN here and there.
std::vector<double> randomVariates(RandomSource &random, const SmootherTestModel &model, uint64_t draws,
                                   bool withNaN) {
  std::vector<double> variates = random.normals(variateRows(model) * draws);
  if (withNaN) {
    for (double &value : variates) if (random.chance(0.02)) value = missing;
  }
  return variates;
}

std::vector<orrim::ArrayPtr> simulationInputs(const SmootherTestModel &model, const std::vector<double> &variates,
                                              uint64_t draws) {
  std::vector<orrim::ArrayPtr> inputs = smootherInputs(model);
  inputs.push_back(realArray({variateRows(model), draws}, variates));
  return inputs;
}

bool startsDiffuse(const SmootherTestModel &model) {
  for (uint64_t i = 0; i < model.m; ++i)
    if (model.P0[i + i * model.m] == std::numeric_limits<double>::infinity()) return true;
  return false;
}

// The blocks of the three tables; the 7 of decorrelated series where a
// period needs them; with a diffuse start, those of the DiffuseStart, r1 of
// the draws and the 3 records of the phase, which grow with it.
uint64_t simulationBlocksOf(const SmootherTestModel &model) {
  const bool periods = model.T > 0 && model.m > 0;
  // A block for each table (P0's factor, the smoother's, the draws'; the
  // diffuse phase's two), and one for each block that grows by itself.
  return 3 + (periods && takesDecorrelationBlocks(model) ? 7 : 0) + (startsDiffuse(model) ? 2 + (periods ? 3 : 0) : 0);
}

// The call through the host's counters: expects success, `blocks` blocks
// taken and a T x m x draws result, and returns its elements.
std::vector<double> callSimulationSmoother(const std::vector<orrim::ArrayPtr> &inputs, uint64_t T, uint64_t m,
                                           uint64_t draws, uint64_t blocks) {
  const orrim::Counters before = orrim::counters();
  orrim::CallResult result = callChecked(simulationsmootherModule(), handles(inputs));
  EXPECT_FALSE(result.failed) << result.identifier << ": " << result.message;
  if (result.failed) return {};
  EXPECT_EQ(orrim::counters().allocations - before.allocations, blocks);
  EXPECT_EQ(orrim::dimensions(result.outputs[0].get()), (std::vector<uint64_t>{T, m, draws}));
  return valuesOf(result.outputs[0].get());
}

std::vector<double> callSimulationSmoother(const SmootherTestModel &model, const std::vector<double> &variates,
                                           uint64_t draws) {
  return callSimulationSmoother(simulationInputs(model, variates, draws), model.T, model.m, draws,
                                simulationBlocksOf(model));
}

// A random smoother model whose P0 is positive semidefinite: the random
// builder's zero variance of state 0 comes with a zero row and column.
SmootherTestModel randomModelWithProperStart(RandomSource &random, const RandomShape &shape) {
  SmootherTestModel model = randomSmootherModel(random, shape);
  const uint64_t m = model.m;
  if (m > 0 && model.P0[0] == 0.0) {
    for (uint64_t i = 0; i < m; ++i) model.P0[i] = model.P0[i * m] = 0.0;
  }
  return model;
}

// The model with each state diffuse at the start by `chance`: +inf on its
// diagonal of P0, zeros beside it.
void makeStatesDiffuse(SmootherTestModel &model, RandomSource &random, double chance) {
  const uint64_t m = model.m;
  for (uint64_t i = 0; i < m; ++i) {
    if (!random.chance(chance)) continue;
    for (uint64_t l = 0; l < m; ++l) model.P0[i + l * m] = model.P0[l + i * m] = 0.0;
    model.P0[i + i * m] = std::numeric_limits<double>::infinity();
  }
}

// Page s of the module's result: draw s, T x m.
std::vector<double> drawOf(const std::vector<double> &result, uint64_t s, uint64_t T, uint64_t m) {
  return {result.begin() + static_cast<long>(s * T * m), result.begin() + static_cast<long>((s + 1) * T * m)};
}

// Every draw of `draws` against the literal simulation smoother.
void expectLiteralDraws(const SmootherTestModel &model, RandomSource &random, uint64_t draws, const std::string &where) {
  const std::vector<double> variates = randomVariates(random, model, draws, random.chance(0.3));
  const std::vector<double> result = callSimulationSmoother(model, variates, draws);
  for (uint64_t s = 0; s < draws; ++s) {
    const LiteralDraw expected = literalSimulationDraw(model, variates.data() + s * variateRows(model));
    ASSERT_FALSE(expected.refused) << where;
    ASSERT_TRUE(bitIdentical(expected.states, drawOf(result, s, model.T, model.m))) << where << ", draw " << s;
  }
}

}  // namespace

// Random shapes up to those of the smoother's tests, every coefficient paged
// or not, missing values, intercepts, cut-offs, a zero state variance; then
// up to 16 states and 20 series (the steps compiled for each size), up to 40
// states, and up to 30 periods (tiles of periods after the first), and one
// state and one series up to 40 periods. Each
// with independent noise, with series that share innovations (decorrelated
// periods), and with diffuse states beside known ones, or both.
TEST(SimulationsmootherReference, RandomModelsMatchTheLiteralDrawsToTheBit) {
  for (const bool shared : {false, true}) {
    for (const double diffuse : {0.0, 0.5}) {
      const std::string kind = std::string(shared ? "shared noise" : "independent noise") +
                               (diffuse > 0.0 ? ", diffuse states" : "") + ", seed ";
      for (uint64_t seed = 0; seed < 300; ++seed) {
        RandomSource random(seed);
        RandomShape shape{};
        shape.correlatedNoise = shared;
        if (seed == 0) shape.maxT = 0;
        if (seed == 1) shape.maxN = 0;
        if (seed == 2) shape.maxM = 0;
        SmootherTestModel model = randomModelWithProperStart(random, shape);
        makeStatesDiffuse(model, random, diffuse);
        expectLiteralDraws(model, random, 1 + random.below(5), kind + std::to_string(seed));
      }
      for (RandomShape shape : {RandomShape{4, 20, 16}, RandomShape{3, 6, 40}, RandomShape{30, 3, 5}}) {
        shape.correlatedNoise = shared;
        for (uint64_t seed = 0; seed < 40; ++seed) {
          RandomSource random(1000 + seed);
          SmootherTestModel model = randomModelWithProperStart(random, shape);
          makeStatesDiffuse(model, random, diffuse);
          expectLiteralDraws(model, random, 1 + random.below(11), "larger, " + kind + std::to_string(seed));
        }
      }
      // The local level model, drawn once, as a Gibbs sampler draws it, or
      // as the last of 33 draws, alone in its block: its own loops.
      const RandomShape localLevel{40, 1, 1, 0.2, true, shared, 0.0, 1, 1};
      for (uint64_t seed = 0; seed < 60; ++seed) {
        RandomSource random(2000 + seed);
        SmootherTestModel model = randomModelWithProperStart(random, localLevel);
        makeStatesDiffuse(model, random, diffuse);
        const uint64_t draws = seed % 2 == 0 ? 1 : 33;
        expectLiteralDraws(model, random, draws, "one state and series, " + kind + std::to_string(seed));
      }
    }
  }
}

// Draws are independent sums side by side: a draw alone, or in any lane of a
// block of any width, has the same bits. 37 draws take a block of 32 and one
// of 5, a width no vector divides.
TEST(SimulationsmootherReference, ADrawAloneHasTheBitsItHasAmongMany) {
  const uint64_t draws = 37;
  ASSERT_GT(draws, drawsSideBySide);
  for (uint64_t seed = 0; seed < 12; ++seed) {
    RandomSource random(500 + seed);
    RandomShape shape{10, 4, seed < 6 ? 5u : 20u};
    // Decorrelated periods and diffuse phases, which take loops of their own.
    shape.correlatedNoise = seed % 2 != 0;
    SmootherTestModel model = randomModelWithProperStart(random, shape);
    makeStatesDiffuse(model, random, seed % 4 < 2 ? 0.0 : 0.5);
    const std::vector<double> variates = randomVariates(random, model, draws, seed % 3 == 0);
    const std::vector<double> together = callSimulationSmoother(model, variates, draws);
    for (const uint64_t s : {uint64_t{0}, uint64_t{31}, uint64_t{32}, draws - 1}) {
      const std::vector<double> column(variates.begin() + static_cast<long>(s * variateRows(model)),
                                       variates.begin() + static_cast<long>((s + 1) * variateRows(model)));
      EXPECT_TRUE(bitIdentical(drawOf(together, s, model.T, model.m), callSimulationSmoother(model, column, 1)))
          << "seed " << seed << ", draw " << s;
    }
  }
}

namespace {

// The small model's inputs and `rows` x `draws` variates: it needs 2 + 3*(2+1) = 11 rows.
std::vector<orrim::ArrayPtr> smallInputs(const SmootherTestModel &model, uint64_t rows, uint64_t draws) {
  RandomSource random(8);
  std::vector<orrim::ArrayPtr> inputs = smootherInputs(model);
  inputs.push_back(realArray({rows, draws}, random.normals(rows * draws)));
  return inputs;
}

}  // namespace

TEST(SimulationsmootherErrors, WrongInputCount) {
  const std::vector<orrim::ArrayPtr> inputs = smallInputs(smallSmootherModel(), 11, 2);
  expectInputCountRefused(simulationsmootherModule(), simulationsmootherGateway, handles(inputs));
}

// Exactly m + T*(k+h) = 2 + 3*3 = 11 rows and at least one column: fewer
// rows or no column are too few variates, more rows another shape, as every
// input's shape is exact.
TEST(SimulationsmootherErrors, VariatesNeedTheirRowsAndAColumn) {
  const SmootherTestModel model = smallSmootherModel();
  const std::string name = simulationsmootherInputs[10].name;
  for (const auto &[rows, draws, fault] : {std::tuple<uint64_t, uint64_t, const char *>{10, 3, "InputTooSmall"},
                                          {11, 0, "InputTooSmall"},
                                          {0, 0, "InputTooSmall"},
                                          {13, 3, "InputShape"}}) {
    const std::string message =
        expectError(simulationsmootherModule(), handles(smallInputs(model, rows, draws)), prefix + fault);
    EXPECT_EQ(message.rfind(name, 0), 0u) << message;
    EXPECT_NE(message.find("= 11 x draws"), std::string::npos) << message;
  }
  std::vector<orrim::ArrayPtr> cells;
  cells.push_back(scalar(1.0));
  std::vector<orrim::ArrayPtr> inputs = smallInputs(model, 11, 1);
  inputs[10] = cellColumn(std::move(cells));
  EXPECT_EQ(expectError(simulationsmootherModule(), handles(inputs), prefix + "InputNotReal").rfind(name, 0), 0u);
}

// P0's finite block must be positive semidefinite: a pivot below -1e-12 times
// the largest diagonal element, or a residual covariance beside a pivot that
// is zero up to that, refuses it, and the block taken for its factor is
// given back before the error. A pivot within the bound of zero is zero.
TEST(SimulationsmootherErrors, InitialCovarianceMustBePositiveSemidefinite) {
  const struct {
    std::vector<double> P0;
    const char *refusedAt;  // null when accepted
  } cases[] = {
      {{1.0, 2.0, 2.0, 1.0}, "pivot of state 2"},
      {{-1.0, 0.0, 0.0, 1.0}, "pivot of state 1"},
      {{0.0, 1.0, 1.0, 1.0}, "state 2 has a residual covariance"},
      {{4.0, 2.0, 2.0, 1.0 - 4e-12}, "pivot of state 2"},
      {{4.0, 2.0, 2.0, 1.0 - 3e-12}, nullptr},
      {{1.0, 1.0, 1.0, 1.0}, nullptr},
      {{0.0, 0.0, 0.0, 0.0}, nullptr},
  };
  for (const auto &test : cases) {
    SmootherTestModel model = smallSmootherModel();
    model.P0 = test.P0;
    const std::vector<orrim::ArrayPtr> inputs = smallInputs(model, 11, 2);
    if (test.refusedAt == nullptr) {
      EXPECT_EQ(callSimulationSmoother(inputs, 3, 2, 2, simulationBlocksOf(model)).size(), 12u) << test.P0[3];
      continue;
    }
    const orrim::Counters before = orrim::counters();
    const std::string message =
        expectError(simulationsmootherModule(), handles(inputs), prefix + "NotPositiveSemidefinite");
    EXPECT_EQ(orrim::counters().blocksReclaimed, before.blocksReclaimed) << "the factor's block was left to the host";
    EXPECT_EQ(message.rfind("Input 6 (P0) is not positive semidefinite", 0), 0u) << message;
    EXPECT_NE(message.find(test.refusedAt), std::string::npos) << message;
  }
}

// With P0 = [1 1; 1 1] both states start from one shock: x+ = x0 + z0(0),
// and z0(1), the direction P0 does not have, changes nothing.
TEST(SimulationsmootherWorkedCases, AZeroPivotGivesItsDirectionNoDraw) {
  SmootherTestModel model;
  model.T = 1;
  model.m = model.k = 2;
  model.A = {1.0, 0.0, 0.0, 1.0};
  model.B = {0.0, 0.0, 0.0, 0.0};
  model.P0 = {1.0, 1.0, 1.0, 1.0};
  model.x0 = {0.25, -3.0};
  for (const double unread : {0.5, -7.0}) {
    const std::vector<double> variates = {1.5, unread, 0.3, 0.4};
    EXPECT_TRUE(bitIdentical({0.25 + 1.5, -3.0 + 1.5}, callSimulationSmoother(model, variates, 1)));
  }
}

TEST(SimulationsmootherShapes, EmptyDimensions) {
  // No period: 0 x m x S, with P0 still checked; no state: T x 0 x S.
  SmootherTestModel noPeriods = smallSmootherModel();
  noPeriods.T = 0;
  noPeriods.Y.clear();
  noPeriods.stateIntercept.clear();
  noPeriods.observationIntercept.clear();
  EXPECT_TRUE(callSimulationSmoother(noPeriods, std::vector<double>(4, 1.0), 2).empty());
  noPeriods.P0 = {1.0, 2.0, 2.0, 1.0};
  expectError(simulationsmootherModule(), handles(simulationInputs(noPeriods, std::vector<double>(4, 1.0), 2)),
              prefix + "NotPositiveSemidefinite");
  SmootherTestModel noStates;
  noStates.T = 3;
  noStates.n = noStates.h = 1;
  noStates.Y = {1.0, missing, 2.0};
  noStates.D = {1.0};
  EXPECT_TRUE(callSimulationSmoother(noStates, std::vector<double>(6, 1.0), 2).empty());
  // Y with no column may claim 2^40 periods: the empty result comes at once.
  std::vector<orrim::ArrayPtr> inputs;
  inputs.push_back(orrim::createReal({uint64_t{1} << 40, 0}));
  for (int position = 2; position <= 10; ++position) {
    inputs.push_back(position == 7 ? scalar(0.0) : orrim::createEmpty());
  }
  inputs.push_back(orrim::createReal({0, 3}));
  EXPECT_TRUE(callSimulationSmoother(inputs, uint64_t{1} << 40, 0, 3, simulationBlocksOf(SmootherTestModel{})).empty());
}

// The storage of a call is the smoother's and that of one block of draws
// side by side, whatever the number of draws: 400 draws of this model
// held at once would take four times the bound.
TEST(SimulationsmootherReference, WorkingStorageStaysWithinItsBound) {
  RandomSource random(77);
  SmootherTestModel model;
  model.T = 400;
  model.n = model.m = model.k = model.h = 10;
  model.Y = random.normals(model.T * model.n);
  model.A = random.stableTransition(model.m);
  model.B = random.normals(model.m * model.k);
  model.C = random.normals(model.n * model.m);
  model.D = random.normals(model.n * model.h);
  model.P0 = random.covariance(model.m);
  model.x0 = random.normals(model.m);
  const uint64_t T = model.T, n = model.n, m = model.m, draws = 400;
  const uint64_t smoother = 8 * (m * m * T + 3 * m * n * T + 4 * (m + n) * T);
  const uint64_t block =
      8 * drawsSideBySide * (T * (m + n) + periodsPerTile * (m + model.k + model.h) + 8 * m + 2 * n + 1);
  const uint64_t bound = smoother + block + (uint64_t{1} << 20);
  ASSERT_GT(8 * draws * T * (m + n), 4 * bound);
  const std::vector<double> variates = randomVariates(random, model, draws, false);
  orrim::resetCounters();
  const std::vector<double> result = callSimulationSmoother(model, variates, draws);
  EXPECT_LE(orrim::counters().peakBytes, bound);
  const uint64_t s = draws - 1;
  EXPECT_TRUE(bitIdentical(literalSimulationDraw(model, variates.data() + s * variateRows(model)).states,
                           drawOf(result, s, T, m)));
}
