// statesmoother called through the host: the worked cases, the shapes, and
// every input it refuses, with nothing left behind on any path.
#include "host_testing.h"
#include "smoother_test_model.h"
#include "statesmoother_inputs.h"

#include <limits>
#include <string>

using namespace testing_support;

namespace {

const double missing = std::numeric_limits<double>::quiet_NaN();
const std::string prefix = statesmootherGateway.errorPrefix;
const std::string notReal = prefix + "InputNotReal";
const std::string tooSmall = prefix + "InputTooSmall";
const std::string tooLarge = prefix + "TooLarge";

// T = 2, n = m = k = h = 1, A = B = C = D = 1, P0 = 1, tol = 0, x0 = 0.
SmootherTestModel unitModel(double y0, double y1) {
  SmootherTestModel model;
  model.T = 2;
  model.n = model.m = model.k = model.h = 1;
  model.Y = {y0, y1};
  model.A = model.B = model.C = model.D = model.P0 = {1.0};
  model.x0 = {0.0};
  return model;
}

// A valid model with T = 4, n = 3, m = 2, k = 2, h = 1 to spoil one input at a time.
std::vector<orrim::ArrayPtr> validInputs() { return smootherInputs(smallSmootherModel(4, 3)); }

// The name of input `position` (1-based), as its errors give it.
const char *nameOf(size_t position) { return statesmootherInputs[position - 1].name; }

// Replaces input `position` (1-based) and expects the error; returns the message.
std::string spoil(uint64_t position, orrim::ArrayPtr replacement, const std::string &identifier) {
  std::vector<orrim::ArrayPtr> inputs = validInputs();
  inputs[position - 1] = std::move(replacement);
  return expectError(statesmootherModule(), handles(inputs), identifier);
}

}  // namespace

TEST(StatesmootherWorkedCases, SmoothedStatesOfTheUnitModel) {
  // The missing first observation changes the records but not the result.
  for (const double y0 : {1.0, missing}) {
    const std::vector<double> out = callStateSmoother(unitModel(y0, 2.0));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], 1.0) << "y0 = " << y0;
    EXPECT_EQ(out[1], 1.5) << "y0 = " << y0;
  }
}

TEST(StatesmootherWorkedCases, NothingObservedGivesTheMeanPathExactly) {
  SmootherTestModel model = unitModel(missing, missing);
  model.A = {0.5};
  model.x0 = {2.0};
  model.stateIntercept = {1.0, 1.0};
  model.B = {3.7};
  model.D = {0.2};
  model.P0 = {5.0};
  model.tol = 0.3;
  EXPECT_TRUE(bitIdentical({2.0, 2.0}, callStateSmoother(model)));
}

TEST(StatesmootherShapes, EmptyDimensions) {
  // T = 0 with every coefficient paged (zero pages, nothing to divide by): 0 x m.
  SmootherTestModel noPeriods;
  noPeriods.n = 2;
  noPeriods.m = 3;
  noPeriods.k = noPeriods.h = 0;
  noPeriods.pagedA = noPeriods.pagedB = noPeriods.pagedC = noPeriods.pagedD = true;
  noPeriods.P0.assign(9, 1.0);
  noPeriods.x0.assign(3, 1.0);
  EXPECT_TRUE(callStateSmoother(noPeriods).empty());

  // m = 0: a T x 0 result from empty A, B, C, P0, x0.
  SmootherTestModel noStates;
  noStates.T = 3;
  noStates.n = 1;
  noStates.h = 1;
  noStates.Y = {1.0, missing, 2.0};
  noStates.D = {1.0};
  noStates.observationIntercept = {1.0, 2.0, 3.0};
  EXPECT_TRUE(callStateSmoother(noStates).empty());
}

// With neither a state nor a series every period is empty, and so is the
// T x 0 result. Y with no column may claim 2^40 periods: the result must come
// back at once, not after 2^40 empty periods.
TEST(StatesmootherShapes, NoStateAndNoSeriesOverAstronomicalPeriodsReturnsAtOnce) {
  const uint64_t periods = uint64_t{1} << 40;
  std::vector<orrim::ArrayPtr> inputs;
  inputs.push_back(orrim::createReal({periods, 0}));
  for (int position = 2; position <= 10; ++position) {
    inputs.push_back(position == 7 ? scalar(0.0) : orrim::createEmpty());
  }
  const orrim::CallResult result = callChecked(statesmootherModule(), handles(inputs));
  ASSERT_FALSE(result.failed) << result.message;
  EXPECT_EQ(orrim::dimensions(result.outputs[0].get()), (std::vector<uint64_t>{periods, 0}));
}

TEST(StatesmootherErrors, WrongInputCount) {
  const std::vector<orrim::ArrayPtr> inputs = validInputs();
  expectInputCountRefused(statesmootherModule(), statesmootherGateway, handles(inputs));
}

TEST(StatesmootherErrors, EveryInputMustBeReal) {
  for (uint64_t position = 1; position <= std::size(statesmootherInputs); ++position) {
    std::vector<orrim::ArrayPtr> cells;
    cells.push_back(scalar(1.0));
    const std::string message = spoil(position, cellColumn(std::move(cells)), notReal);
    EXPECT_EQ(message.rfind(nameOf(position), 0), 0u) << message;
  }
}

// Each input in each kind of mistake, paged and not: too few elements keep
// their error, enough of them in another shape are refused as such, and the
// message names the input, the shape given and the shape wanted.
TEST(StatesmootherErrors, WrongShapesAreRefusedBeforeAnythingIsTaken) {
  ASSERT_FALSE(callChecked(statesmootherModule(), handles(validInputs())).failed);
  const std::string shape = prefix + "InputShape";
  const struct {
    uint64_t position;  // 1-based
    std::vector<uint64_t> dimensions;
    const std::string &identifier;
    const char *mentions;
  } cases[] = {
      {2, {2, 1}, tooSmall, "at least 4"},
      {2, {2, 2, 2}, tooSmall, "4 pages"},
      {3, {1, 3}, tooSmall, "m x k = 2 x 3"},
      {4, {3, 1}, tooSmall, "at least 6"},
      {4, {3, 2, 3}, tooSmall, "4 pages"},
      {5, {2, 1}, tooSmall, "at least 3"},
      {6, {3, 1}, tooSmall, "at least 4"},
      {7, {0, 0}, tooSmall, "one value"},
      {8, {1, 1}, tooSmall, "at least 2"},
      {9, {2, 2}, tooSmall, "at least 8"},
      {10, {5, 1}, tooSmall, "at least 12"},
      {1, {4, 1, 3}, shape, "is 4 x 1 x 3; it must be T x n."},
      {2, {2, 3}, shape, "is 2 x 3; it must be m x m = 2 x 2 (one page), or m x m x T = 2 x 2 x 4."},
      {2, {2, 2, 4, 2}, shape, "is 2 x 2 x 4 x 2;"},
      {3, {3, 2}, shape, "m x k = 2 x k (one page)"},
      {3, {3, 2, 4}, shape, "is 3 x 2 x 4;"},
      {4, {2, 3}, shape, "is 2 x 3; it must be n x m = 3 x 2 (one page), or n x m x T = 3 x 2 x 4."},
      {4, {2, 3, 4}, shape, "is 2 x 3 x 4;"},
      {4, {4, 4}, shape, "is 4 x 4;"},
      {5, {4, 1}, shape, "n x h = 3 x h"},
      {6, {3, 3}, shape, "is 3 x 3; it must be m x m = 2 x 2."},
      {6, {2, 2, 4}, shape, "is 2 x 2 x 4;"},
      {7, {1, 2}, shape, "it must be one value."},
      {8, {3, 1}, shape, "m x 1 = 2 x 1 (or 1 x 2)"},
      {9, {4, 2}, shape, "is 4 x 2; it must be m x T = 2 x 4, or empty."},
      {9, {2, 4, 2}, shape, "is 2 x 4 x 2;"},
      {10, {4, 3}, shape, "is 4 x 3; it must be n x T = 3 x 4, or empty."},
  };
  for (const auto &test : cases) {
    uint64_t count = 1;
    for (uint64_t d : test.dimensions) count *= d;
    const orrim::Counters before = orrim::counters();
    const std::string message =
        spoil(test.position, realArray(test.dimensions, std::vector<double>(count, 0.5)), test.identifier);
    EXPECT_EQ(orrim::counters().allocations, before.allocations) << message;
    EXPECT_EQ(message.rfind(nameOf(test.position), 0), 0u) << message;
    EXPECT_NE(message.find(test.mentions), std::string::npos) << message;
  }
}

TEST(StatesmootherErrors, WorkingStorageBeyondSixtyFourBits) {
  // Arrays over a few doubles that claim huge sizes: the counts must be
  // refused before any element is read or anything allocated.
  static const double storage[64] = {};
  const struct {
    uint64_t T, n, m;
    const char *what;
  } cases[] = {{uint64_t{1} << 30, uint64_t{1} << 30, 16, "m*n*T"},    // the element count overflows
               {uint64_t{1} << 30, uint64_t{1} << 30, 8, "in bytes"}};  // only the byte count does
  for (const auto &size : cases) {
    const uint64_t m = size.m;
    std::vector<orrim::ArrayPtr> inputs;
    inputs.push_back(orrim::wrapReal({size.T, size.n}, storage));
    inputs.push_back(orrim::wrapReal({m, m}, storage));
    inputs.push_back(orrim::wrapReal({m, 1}, storage));
    inputs.push_back(orrim::wrapReal({size.n, m}, storage));
    inputs.push_back(orrim::wrapReal({size.n, 1}, storage));
    inputs.push_back(orrim::wrapReal({m, m}, storage));
    inputs.push_back(scalar(0.0));
    inputs.push_back(orrim::wrapReal({m, 1}, storage));
    inputs.push_back(orrim::createEmpty());
    inputs.push_back(orrim::createEmpty());
    const orrim::Counters before = orrim::counters();
    const std::string message = expectError(statesmootherModule(), handles(inputs), tooLarge);
    EXPECT_NE(message.find(size.what), std::string::npos) << message;
    EXPECT_EQ(orrim::counters().allocations, before.allocations);
  }
}
