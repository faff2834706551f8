// statefilter called through the host as a host calls it: the worked cases,
// the shapes, the errors, and what every call leaves behind.
#include "host_testing.h"
#include "statefilter_inputs.h"

#include <cmath>
#include <functional>
#include <limits>
#include <string>

using namespace testing_support;

namespace {

constexpr double c = 1.837877066409345;
const double notANumber = std::numeric_limits<double>::quiet_NaN();
const std::string prefix = statefilterGateway.errorPrefix;

const orrim::Module &statefilter() {
  static const orrim::Module module = orrim::Module::load(STATEFILTER_MODULE);
  return module;
}

struct Inputs {
  orrim::ArrayPtr Y, A, B, C, D, x0, P0, tol;
  std::vector<const OrrimArray *> list() const {
    return {Y.get(), A.get(), B.get(), C.get(), D.get(), x0.get(), P0.get(), tol.get()};
  }
};

// m = n = 1, T = 2: B = C = D = 1, x0 = 2, P0 = 4, tol = 0, pages of A given.
Inputs twoPeriodModel(double page0, double page1, double y0, double y1) {
  return Inputs{realArray({2, 1}, {y0, y1}), realArray({1, 1, 2}, {page0, page1}), scalar(1), scalar(1), scalar(1),
                scalar(2), scalar(4), scalar(0)};
}

std::vector<double> run(const Inputs &inputs) {
  orrim::CallResult result = callChecked(statefilter(), inputs.list());
  EXPECT_FALSE(result.failed) << result.identifier << ": " << result.message;
  if (result.failed) return {};
  EXPECT_EQ(orrimColumns(result.outputs[0].get()), 1u);
  return valuesOf(result.outputs[0].get());
}

}  // namespace

TEST(StatefilterWorkedCases, PagedTransitionUsesThePageOfThePeriodEntered) {
  const std::vector<double> out = run(twoPeriodModel(0.5, 2.0, 3, 1));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_DOUBLE_EQ(out[0], -0.5 * ((std::log(3.0) + c) + 4.0 / 3.0));
  EXPECT_DOUBLE_EQ(out[1], -0.5 * ((std::log(14.0 / 3.0) + c) + 121.0 / 42.0));
}

TEST(StatefilterWorkedCases, EqualPagesAndMissingSecondPeriod) {
  const std::vector<double> same = run(twoPeriodModel(0.5, 0.5, 3, 1));
  EXPECT_DOUBLE_EQ(same[1], -0.5 * ((std::log(13.0 / 6.0) + c) + 1.0 / 78.0));
  const std::vector<double> missing = run(twoPeriodModel(0.5, 2.0, 3, notANumber));
  EXPECT_DOUBLE_EQ(missing[0], -0.5 * ((std::log(3.0) + c) + 4.0 / 3.0));
  EXPECT_EQ(missing[1], 0.0);
}

TEST(StatefilterWorkedCases, FirstPeriodTermIsExactToTheBit) {
  // Prediction x = 1, P = 2 from x0 = 2, P0 = 4, A = 0.5; then w = 2, F = 3,
  // v = 2: every intermediate is exact, so the term is exactly this
  // expression with the literal constant.
  const std::vector<double> out = run(twoPeriodModel(0.5, 0.5, 3, notANumber));
  EXPECT_TRUE(bitIdentical({-0.5 * ((std::log(3.0) + c) + 4.0 * (1.0 / 3.0)), 0.0}, out));
}

TEST(StatefilterShapes, EmptyDimensionsGiveZerosOrNothing) {
  // n = 0: T zeros. T = 0 (also with paged B and D): a 0 x 1 output.
  Inputs noSeries{realArray({3, 0}, {}), scalar(0.5), scalar(1), realArray({0, 1}, {}), realArray({0, 1}, {}),
                  scalar(0), scalar(1), scalar(0)};
  EXPECT_TRUE(bitIdentical({0.0, 0.0, 0.0}, run(noSeries)));

  Inputs noPeriods{realArray({0, 1}, {}), scalar(0.5), realArray({1, 0, 0}, {}), scalar(1), realArray({1, 0, 0}, {}),
                   scalar(0), scalar(1), scalar(0)};
  orrim::CallResult result = callChecked(statefilter(), noPeriods.list());
  ASSERT_FALSE(result.failed) << result.message;
  EXPECT_EQ(orrimRows(result.outputs[0].get()), 0u);
  EXPECT_EQ(orrimColumns(result.outputs[0].get()), 1u);

  // m = 0: every used observation contributes -0.5((ln d + c) + y^2/d).
  Inputs noStates{realArray({2, 1}, {2, notANumber}), realArray({0, 0}, {}), realArray({0, 0}, {}), realArray({1, 0}, {}),
                  scalar(2), realArray({0, 0}, {}), realArray({0, 0}, {}), scalar(0)};
  EXPECT_TRUE(bitIdentical({-0.5 * ((std::log(4.0) + c) + (2.0 * 2.0) * (1.0 / 4.0)), 0.0}, run(noStates)));
}

TEST(StatefilterShapes, OutputIsCreatedWhateverTheOutputCount) {
  Inputs inputs = twoPeriodModel(0.5, 2.0, 3, 1);
  orrim::CallResult result = callChecked(statefilter(), inputs.list(), 0);
  ASSERT_FALSE(result.failed);
  ASSERT_EQ(result.outputs.size(), 1u);
  ASSERT_NE(result.outputs[0], nullptr);
  EXPECT_EQ(orrimRows(result.outputs[0].get()), 2u);

  // Asked for five, it fills the three it has: T x 1, T x m and m x m x T.
  // Period 0 predicts x = 1, P = 2 and is corrected by K = 2/3, v = 2.
  result = callChecked(statefilter(), inputs.list(), 5);
  ASSERT_FALSE(result.failed);
  ASSERT_EQ(result.outputs.size(), 5u);
  EXPECT_EQ(orrim::dimensions(result.outputs[1].get()), (std::vector<uint64_t>{2, 1}));
  EXPECT_EQ(orrim::dimensions(result.outputs[2].get()), (std::vector<uint64_t>{1, 1, 2}));
  EXPECT_EQ(result.outputs[3], nullptr);
  EXPECT_EQ(result.outputs[4], nullptr);
  EXPECT_DOUBLE_EQ(valuesOf(result.outputs[1].get())[0], 7.0 / 3.0);
  EXPECT_DOUBLE_EQ(valuesOf(result.outputs[2].get())[0], 2.0 / 3.0);
}

// The same numbers in another form give the bits of the exact form: a shape
// of one row or one column the other way round, trailing dimensions of one,
// and pages past the T-th, which are not read.
TEST(StatefilterShapes, BenignFormsGiveTheBitsOfTheExactForms) {
  // T = 3, n = 1, m = 2, k = 2, h = 2; A and B paged.
  const auto model = [] {
    return Inputs{realArray({3, 1}, {1.5, notANumber, -0.5}),
                  realArray({2, 2, 3}, {0.5, 0.1, 0, 0.4, 0.6, 0, 0.2, 0.3, 0.7, 0.1, -0.1, 0.2}),
                  realArray({2, 2, 3}, {1, 0.5, 0, 1, 0.8, 0.1, 0.2, 0.9, 1.2, 0, 0.3, 0.7}),
                  realArray({1, 2}, {1, 0.5}), realArray({1, 2}, {0.75, 0.25}), realArray({2, 1}, {1, -1}),
                  realArray({2, 2}, {2, 0.5, 0.5, 1}), scalar(0)};
  };
  // m = n = 1, T = 2, k = 2, h = 3: B and D of one row.
  const auto oneState = [] {
    Inputs inputs = twoPeriodModel(0.5, 0.9, 3, 1);
    inputs.B = realArray({1, 2}, {1, 0.5});
    inputs.D = realArray({1, 3}, {1, 0.25, 2});
    return inputs;
  };
  // T = 2, n = 3, m = 2, k = h = 1: B and D of one column.
  const auto oneColumn = [] {
    return Inputs{realArray({2, 3}, {1, 2, notANumber, 0.5, -1, 3}), realArray({2, 2}, {0.5, 0.1, 0, 0.4}),
                  realArray({2, 1}, {1, 0.5}), realArray({3, 2}, {1, 0, 1, 0, 1, 1}), realArray({3, 1}, {1, 2, 0.5}),
                  realArray({2, 1}, {0, 1}), realArray({2, 2}, {1, 0, 0, 1}), scalar(0)};
  };
  const auto constantA = [&] {
    Inputs inputs = oneState();
    inputs.A = scalar(0.5);
    return inputs;
  };
  const std::vector<double> extraPage(4, notANumber);
  const auto withExtraPages = [&](const OrrimArray *paged, uint64_t pages) {
    std::vector<double> values = valuesOf(paged);
    for (uint64_t p = 0; p < pages; ++p) values.insert(values.end(), extraPage.begin(), extraPage.end());
    return realArray({2, 2, 3 + pages}, values);
  };
  struct Case {
    const char *what;
    std::function<Inputs()> exact;
    std::function<void(Inputs &)> benign;
  };
  const Case cases[] = {
      {"x0 as a row", model, [](Inputs &in) { in.x0 = realArray({1, 2}, {1, -1}); }},
      {"C of one row as a column", model, [](Inputs &in) { in.C = realArray({2, 1}, {1, 0.5}); }},
      {"D of one row as a column", model, [](Inputs &in) { in.D = realArray({2, 1}, {0.75, 0.25}); }},
      {"B of one row as a column", oneState, [](Inputs &in) { in.B = realArray({2, 1}, {1, 0.5}); }},
      {"B and D of one column as rows", oneColumn,
       [](Inputs &in) {
         in.B = realArray({1, 2}, {1, 0.5});
         in.D = realArray({1, 3}, {1, 2, 0.5});
       }},
      {"paged D of one row given as columns", oneState,
       [](Inputs &in) { in.D = realArray({3, 1, 2}, {1, 0.25, 2, 1, 0.25, 2}); }},
      {"A with two pages more than periods", model, [&](Inputs &in) { in.A = withExtraPages(in.A.get(), 2); }},
      {"B with three pages more than periods (k = 2, not 9 / 3)", model,
       [&](Inputs &in) { in.B = withExtraPages(in.B.get(), 3); }},
      {"paged A with a fourth dimension of one", model,
       [](Inputs &in) { in.A = realArray({2, 2, 3, 1}, valuesOf(in.A.get())); }},
      {"P0, tol and Y with trailing dimensions of one", model,
       [](Inputs &in) {
         in.P0 = realArray({2, 2, 1}, valuesOf(in.P0.get()));
         in.tol = realArray({1, 1, 1, 1}, {0});
         in.Y = realArray({3, 1, 1}, valuesOf(in.Y.get()));
       }},
      {"one page as r x c x 1: one matrix for every period", constantA,
       [](Inputs &in) {
         in.A = realArray({1, 1, 1}, {0.5});
         in.C = realArray({1, 1, 1, 1}, {1});
       }},
  };
  for (const Case &test : cases) {
    SCOPED_TRACE(test.what);
    Inputs benign = test.exact();
    test.benign(benign);
    const std::vector<double> expected = run(test.exact());
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(bitIdentical(expected, run(benign)));
  }
}

TEST(StatefilterErrors, WrongInputCountRaisesTheModuleError) {
  expectInputCountRefused(statefilter(), statefilterGateway, twoPeriodModel(0.5, 2.0, 3, 1).list());
}

// Each input in each kind of mistake, paged and not: too few elements keep
// their error, enough of them in another shape are refused as such, and the
// message names the input, the shape given and the shape wanted.
TEST(StatefilterErrors, WrongShapesAreRefusedBeforeAnythingIsTaken) {
  // T = 3, n = 3, m = 2, k = 1, h = 1.
  auto model = [] {
    return Inputs{realArray({3, 3}, {1, 2, 3, 4, 5, 6, 7, 8, 9}), realArray({2, 2}, {0.5, 0, 0, 0.5}),
                  realArray({2, 1}, {1, 1}), realArray({3, 2}, {1, 0, 1, 0, 1, 1}), realArray({3, 1}, {1, 1, 1}),
                  realArray({2, 1}, {0, 0}), realArray({2, 2}, {1, 0, 0, 1}), scalar(0)};
  };
  ASSERT_FALSE(callChecked(statefilter(), model().list()).failed);
  const auto filled = [](std::vector<uint64_t> dimensions) {
    uint64_t count = 1;
    for (uint64_t d : dimensions) count *= d;
    return realArray(dimensions, std::vector<double>(count, 0.5));
  };

  struct Case {
    size_t position;  // 0-based, of the input the error names
    std::vector<uint64_t> dimensions;
    const char *identifier;
    const char *mentions;  // beyond the input's name
  };
  const Case cases[] = {
      {2, {1, 1}, "InputTooSmall", "(m x k = 2 x 1)"},
      {3, {3, 1}, "InputTooSmall", "at least 6"},
      {4, {2, 1}, "InputTooSmall", "at least 3"},
      {5, {1, 1}, "InputTooSmall", "at least 2"},
      {6, {3, 1}, "InputTooSmall", "at least 4"},
      {7, {0, 0}, "InputTooSmall", "one value"},
      {1, {2, 1}, "InputTooSmall", "at least 4"},
      {1, {2, 2, 2}, "InputTooSmall", "3 pages"},
      {3, {3, 2, 2}, "InputTooSmall", "3 pages"},
      {0, {3, 1, 3}, "InputShape", "is 3 x 1 x 3; it must be T x n"},
      {1, {2, 3}, "InputShape", "is 2 x 3; it must be m x m = 2 x 2 (one page), or m x m x T = 2 x 2 x 3."},
      {1, {2, 2, 3, 2}, "InputShape", "is 2 x 2 x 3 x 2;"},
      {2, {3, 1}, "InputShape", "is 3 x 1; it must be m x k = 2 x k (one page), or m x k x T = 2 x k x 3."},
      {2, {3, 1, 3}, "InputShape", "is 3 x 1 x 3;"},
      {3, {2, 3}, "InputShape", "is 2 x 3; it must be n x m = 3 x 2 (one page), or n x m x T = 3 x 2 x 3."},
      {3, {4, 4}, "InputShape", "is 4 x 4;"},
      {3, {2, 3, 3}, "InputShape", "is 2 x 3 x 3;"},
      {4, {4, 1}, "InputShape", "n x h = 3 x h"},
      {5, {3, 1}, "InputShape", "is 3 x 1; it must be m x 1 = 2 x 1 (or 1 x 2)."},
      {5, {2, 2}, "InputShape", "m x 1 = 2 x 1"},
      {6, {3, 3}, "InputShape", "is 3 x 3; it must be m x m = 2 x 2."},
      {6, {2, 2, 3}, "InputShape", "is 2 x 2 x 3;"},
      {7, {2, 1}, "InputShape", "is 2 x 1; it must be one value."},
  };
  for (const Case &test : cases) {
    Inputs inputs = model();
    orrim::ArrayPtr *slots[] = {&inputs.Y, &inputs.A, &inputs.B, &inputs.C,
                                &inputs.D, &inputs.x0, &inputs.P0, &inputs.tol};
    *slots[test.position] = filled(test.dimensions);
    const orrim::Counters before = orrim::counters();
    const std::string message = expectError(statefilter(), inputs.list(), prefix + test.identifier);
    EXPECT_EQ(orrim::counters().allocations, before.allocations) << message;
    EXPECT_EQ(message.rfind(statefilterInputs[test.position].name, 0), 0u) << message;
    EXPECT_NE(message.find(test.mentions), std::string::npos) << message;
  }
}

TEST(StatefilterErrors, CellInputsAndOverflowingSizesAreRejectedBeforeAnythingIsCreated) {
  Inputs inputs = twoPeriodModel(0.5, 2.0, 3, 1);
  inputs.P0 = cellColumn({});
  EXPECT_EQ(expectError(statefilter(), inputs.list(), prefix + "InputNotReal").rfind(statefilterInputs[6].name, 0), 0u);

  // A with 2^33 rows and no columns: m*m overflows.
  Inputs huge = twoPeriodModel(0.5, 2.0, 3, 1);
  huge.A = orrim::createReal({uint64_t{1} << 33, 0});
  const orrim::Counters before = orrim::counters();
  expectError(statefilter(), huge.list(), prefix + "TooLarge");
  EXPECT_EQ(orrim::counters().allocations, before.allocations);
}

TEST(StatefilterErrors, InputsAreNeverWritten) {
  Inputs inputs = twoPeriodModel(0.5, 2.0, 3, 1);
  std::vector<std::vector<double>> before;
  for (const OrrimArray *input : inputs.list()) before.push_back(valuesOf(input));
  run(inputs);
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_TRUE(bitIdentical(before[i], valuesOf(inputs.list()[i]))) << "input " << i;
  }
}
