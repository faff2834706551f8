// statefilter called through the host as a host calls it: the worked cases,
// the shapes, the errors, and what every call leaves behind.
#include "host_testing.h"
#include "statefilter_inputs.h"

#include <cmath>
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

TEST(StatefilterShapes, FourDimensionalCoefficientIsOneMatrixAndLongerInputsAreTruncated) {
  // A as 1 x 1 x 1 x 1 is one matrix; x0 with extra values uses the first m.
  Inputs fourD{realArray({2, 1}, {3, 1}), realArray({1, 1, 1, 1}, {0.5}), scalar(1), scalar(1), scalar(1),
               realArray({3, 1}, {2, 99, 99}), scalar(4), scalar(0)};
  Inputs plain = twoPeriodModel(0.5, 0.5, 3, 1);
  EXPECT_TRUE(bitIdentical(run(plain), run(fourD)));
}

TEST(StatefilterShapes, PagedDisturbanceWidthIsTruncatedAndThreeDimensionalYCountsSeries) {
  // B of 1 x 3 x 2 seen by a T = 2 call as pages of width k = 1 (3 columns /
  // 2, truncated): page t starts at element t*m*k, so pages are 1.0 and 2.0.
  Inputs truncated{realArray({2, 1}, {3, 1}), scalar(0.5), realArray({1, 3, 1}, {1.0, 2.0, 7.0}), scalar(1),
                   scalar(1), scalar(2), scalar(4), scalar(0)};
  Inputs twoPages{realArray({2, 1}, {3, 1}), scalar(0.5), realArray({1, 1, 2}, {1.0, 2.0}), scalar(1), scalar(1),
                  scalar(2), scalar(4), scalar(0)};
  EXPECT_TRUE(bitIdentical(run(twoPages), run(truncated)));

  // Y of 2 x 1 x 2 has n = 2 series.
  Inputs threeDY{realArray({2, 1, 2}, {3, 1, 2, notANumber}), scalar(0.5), scalar(1), realArray({2, 1}, {1, 0.5}),
                 realArray({2, 1}, {1, 2}), scalar(2), scalar(4), scalar(0)};
  Inputs twoDY = {realArray({2, 2}, {3, 1, 2, notANumber}), scalar(0.5), scalar(1), realArray({2, 1}, {1, 0.5}),
                  realArray({2, 1}, {1, 2}), scalar(2), scalar(4), scalar(0)};
  EXPECT_TRUE(bitIdentical(run(twoDY), run(threeDY)));
}

TEST(StatefilterErrors, WrongInputCountRaisesTheModuleError) {
  expectInputCountRefused(statefilter(), statefilterGateway, twoPeriodModel(0.5, 2.0, 3, 1).list());
}

TEST(StatefilterErrors, InputsSmallerThanTheSizesAddressAreRejected) {
  // m = 2 from A; every other input is made one element too short in turn.
  auto model = [] {
    return Inputs{realArray({3, 2}, {1, 2, 3, 4, 5, 6}), realArray({2, 2}, {0.5, 0, 0, 0.5}),
                  realArray({2, 1}, {1, 1}), realArray({2, 2}, {1, 0, 0, 1}), realArray({2, 1}, {1, 1}),
                  realArray({2, 1}, {0, 0}), realArray({2, 2}, {1, 0, 0, 1}), scalar(0)};
  };
  ASSERT_FALSE(callChecked(statefilter(), model().list()).failed);

  struct Case {
    size_t position;  // 0-based, of the input the error names
    void (*shorten)(Inputs &);
  };
  const Case cases[] = {
      {2, [](Inputs &in) { in.B = realArray({1, 1}, {1}); }},
      {3, [](Inputs &in) { in.C = realArray({2, 1}, {1, 0}); }},
      {4, [](Inputs &in) { in.D = realArray({1, 1}, {1}); }},
      {5, [](Inputs &in) { in.x0 = scalar(0); }},
      {6, [](Inputs &in) { in.P0 = realArray({3, 1}, {1, 0, 0}); }},
      {7, [](Inputs &in) { in.tol = realArray({0, 0}, {}); }},
      {1, [](Inputs &in) { in.A = realArray({2, 1}, {0.5, 0}); }},
      {1, [](Inputs &in) { in.A = realArray({2, 2, 2}, {0.5, 0, 0, 0.5, 0.5, 0, 0, 0.5}); }},  // 2 of 3 pages
      {3, [](Inputs &in) { in.C = realArray({2, 2, 1}, {1, 0, 0, 1}); }},  // paged, 1 of 3 pages
  };
  for (const Case &test : cases) {
    Inputs inputs = model();
    test.shorten(inputs);
    const std::string message = expectError(statefilter(), inputs.list(), prefix + "InputTooSmall");
    EXPECT_EQ(message.rfind(statefilterInputs[test.position].name, 0), 0u) << message;
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
