// Worked cases, the growth of the series buffers as the host counts it, and
// the input shapes that callers may rely on.
#include "cell_test_model.h"
#include "cellstatefilter_inputs.h"
#include "host_testing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using cell_testing::InputForms;
using cell_testing::PeriodicModel;
using testing_support::bitIdentical;

constexpr double logTwoPiLiteral = 1.837877066409345;
constexpr double missing = std::numeric_limits<double>::quiet_NaN();

double termOf(double F, double vSquaredOverF) { return -0.5 * ((std::log(F) + logTwoPiLiteral) + vSquaredOverF); }

orrim::ArrayPtr column(const std::vector<double> &values) { return orrim::createReal({values.size(), 1}, values); }

// m = 1, A = 0.5, B = 1, x0 = 2, P0 = 4, tol = 0; C and D are ones, one row
// per series; period t observes y[t].
std::vector<orrim::ArrayPtr> localLevelCase(const std::vector<std::vector<double>> &y) {
  std::vector<orrim::ArrayPtr> Y, C, D;
  for (const std::vector<double> &period : y) {
    Y.push_back(column(period));
    C.push_back(column(std::vector<double>(period.size(), 1.0)));
    D.push_back(column(std::vector<double>(period.size(), 1.0)));
  }
  std::vector<orrim::ArrayPtr> inputs;
  inputs.push_back(testing_support::cellColumn(std::move(Y)));
  inputs.push_back(testing_support::scalar(0.5));
  inputs.push_back(testing_support::scalar(1.0));
  inputs.push_back(testing_support::cellColumn(std::move(C)));
  inputs.push_back(testing_support::cellColumn(std::move(D)));
  inputs.push_back(testing_support::scalar(2.0));
  inputs.push_back(testing_support::scalar(4.0));
  inputs.push_back(testing_support::scalar(0.0));
  return inputs;
}

TEST(CellStateFilterCases, OneSeriesThenTwoGrowsTheBuffersOnce) {
  const std::vector<orrim::ArrayPtr> inputs = localLevelCase({{3.0}, {1.0, missing}});
  orrim::resetCounters();
  const std::vector<double> out = cell_testing::run(cell_testing::cellStateFilter(), inputs);
  const orrim::Counters used = orrim::counters();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_NEAR(out[0], termOf(3.0, 4.0 / 3.0), 1e-15);
  EXPECT_NEAR(out[1], termOf(13.0 / 6.0, 1.0 / 78.0), 1e-14);
  EXPECT_EQ(used.allocations, 11u);
  EXPECT_EQ(used.reallocations, 2u) << "measurementRows and observationNoiseVar grow to two rows";
}

// The period without series still predicts: period 2 starts from x = 7/12,
// P = 31/24, not from the state period 0 left.
TEST(CellStateFilterCases, PeriodWithoutSeriesStillMovesTheState) {
  const std::vector<orrim::ArrayPtr> inputs = localLevelCase({{3.0}, {}, {1.0}});
  orrim::resetCounters();
  const std::vector<double> out = cell_testing::run(cell_testing::cellStateFilter(), inputs);
  EXPECT_EQ(orrim::counters().reallocations, 0u);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_NEAR(out[0], termOf(3.0, 4.0 / 3.0), 1e-15);
  EXPECT_TRUE(bitIdentical({0.0}, {out[1]}));
  EXPECT_NEAR(out[2], termOf(55.0 / 24.0, 5.0 / 66.0), 1e-14);
}

TEST(CellStateFilterCases, SeriesCountsTwoFiveThreeGrowOnceToFive) {
  const PeriodicModel model = cell_testing::modelWithSeries({2, 5, 3}, 2);
  const std::vector<double> expected =
      cell_testing::run(cell_testing::stateFilter(), cell_testing::paddedStateFilterInputs(model));

  const std::vector<orrim::ArrayPtr> cells = cell_testing::cellFilterInputs(model, InputForms{});
  orrim::resetCounters();
  EXPECT_TRUE(bitIdentical(expected, cell_testing::run(cell_testing::cellStateFilter(), cells)));
  EXPECT_EQ(orrim::counters().allocations, 11u);
  EXPECT_EQ(orrim::counters().reallocations, 2u);

  // A matrix Y wide enough for every period: its row buffer grows with them.
  InputForms matrixY;
  matrixY.cellY = false;
  matrixY.yColumns = 5;
  const std::vector<orrim::ArrayPtr> withMatrixY = cell_testing::cellFilterInputs(model, matrixY);
  orrim::resetCounters();
  EXPECT_TRUE(bitIdentical(expected, cell_testing::run(cell_testing::cellStateFilter(), withMatrixY)));
  EXPECT_EQ(orrim::counters().reallocations, 3u);
}

TEST(CellStateFilterCases, FirstPeriodWithoutSeriesStartsWithRoomForOne) {
  const PeriodicModel model = cell_testing::modelWithSeries({0, 1, 2, 1}, 2);
  const std::vector<orrim::ArrayPtr> cells = cell_testing::cellFilterInputs(model, InputForms{});
  orrim::resetCounters();
  const std::vector<double> out = cell_testing::run(cell_testing::cellStateFilter(), cells);
  EXPECT_EQ(orrim::counters().reallocations, 2u) << "no growth for one series, one for two";
  EXPECT_TRUE(bitIdentical(
      cell_testing::run(cell_testing::stateFilter(), cell_testing::paddedStateFilterInputs(model)), out));
}

// A period whose every observation is missing is a period without series.
TEST(CellStateFilterCases, AllMissingPeriodEqualsPeriodWithoutSeries) {
  PeriodicModel model = cell_testing::modelWithSeries({2, 3, 2}, 2);
  model.y[1].assign(3, missing);
  const std::vector<double> allMissing =
      cell_testing::run(cell_testing::cellStateFilter(), cell_testing::cellFilterInputs(model, InputForms{}));
  PeriodicModel withoutSeries = model;
  withoutSeries.series[1] = 0;
  withoutSeries.C[1].clear();
  withoutSeries.D[1].clear();
  withoutSeries.y[1].clear();
  const std::vector<double> empty = cell_testing::run(cell_testing::cellStateFilter(),
                                                      cell_testing::cellFilterInputs(withoutSeries, InputForms{}));
  EXPECT_TRUE(bitIdentical(empty, allMissing));
  ASSERT_EQ(allMissing.size(), 3u);
  EXPECT_TRUE(bitIdentical({0.0}, {allMissing[1]}));
}

// A matrix Y read with counts 3, 1, 3: period 2 must see its own row, not
// values left over from the copy of another period.
TEST(CellStateFilterCases, MatrixYPeriodReadsItsOwnRow) {
  const PeriodicModel model = cell_testing::modelWithSeries({3, 1, 3}, 1);
  InputForms matrixY;
  matrixY.cellY = false;
  matrixY.yColumns = 3;
  EXPECT_TRUE(bitIdentical(
      cell_testing::run(cell_testing::stateFilter(), cell_testing::paddedStateFilterInputs(model)),
      cell_testing::run(cell_testing::cellStateFilter(), cell_testing::cellFilterInputs(model, matrixY))));
}

TEST(CellStateFilterCases, NoPeriodGivesAnEmptyColumn) {
  const PeriodicModel model = cell_testing::modelWithSeries({1}, 2);
  std::vector<orrim::ArrayPtr> inputs = cell_testing::cellFilterInputs(model, InputForms{});
  inputs[0] = orrim::createReal({0, 1});
  orrim::resetCounters();
  EXPECT_TRUE(cell_testing::run(cell_testing::cellStateFilter(), inputs).empty());
  EXPECT_EQ(orrim::counters().allocations, 11u);
  // With no period a coefficient cell array may be empty.
  inputs[0] = orrim::createCell({0, 1});
  inputs[3] = orrim::createCell({0, 1});
  EXPECT_TRUE(cell_testing::run(cell_testing::cellStateFilter(), inputs).empty());
}

TEST(CellStateFilterCases, WrongInputCountIsRejected) {
  const std::vector<orrim::ArrayPtr> inputs = localLevelCase({{3.0}});
  testing_support::expectInputCountRefused(cell_testing::cellStateFilter(), cellstatefilterGateway,
                                           testing_support::handles(inputs));
}

TEST(CellStateFilterCases, ShapesCallersMayRelyOn) {
  const PeriodicModel model = cell_testing::modelWithSeries({3, 2, 3, 1, 2, 3}, 2);
  const std::vector<double> expected =
      cell_testing::run(cell_testing::cellStateFilter(), cell_testing::cellFilterInputs(model, InputForms{}));
  ASSERT_EQ(expected.size(), 6u);

  // Cell arrays of any shape, and longer than the periods.
  for (const std::vector<uint64_t> &shape : {std::vector<uint64_t>{1, 6}, {2, 3}, {3, 3}, {2, 2, 2}}) {
    InputForms forms;
    forms.cellShape = shape;
    uint64_t elements = 1;
    for (uint64_t dimension : shape) {
      elements *= dimension;
    }
    PeriodicModel longer = model;
    longer.T = elements;
    while (longer.A.size() < elements) {
      longer.A.push_back(longer.A[0]);
      longer.B.push_back(longer.B[0]);
      longer.C.push_back(longer.C[0]);
      longer.D.push_back(longer.D[0]);
      longer.series.push_back(longer.series[0]);
      longer.disturbances.push_back(longer.disturbances[0]);
      longer.innovations.push_back(longer.innovations[0]);
    }
    std::vector<orrim::ArrayPtr> inputs = cell_testing::cellFilterInputs(longer, forms);
    inputs[0] = cell_testing::periodCell(model.y, model.series, std::vector<uint64_t>(6, 1));
    EXPECT_TRUE(bitIdentical(expected, cell_testing::run(cell_testing::cellStateFilter(), inputs)));
  }

  // Cell Y elements with more values than the period's series.
  std::vector<orrim::ArrayPtr> inputs = cell_testing::cellFilterInputs(model, InputForms{});
  cell_testing::PeriodMatrices padded = model.y;
  for (std::vector<double> &period : padded) {
    period.push_back(7.0);
    period.push_back(missing);
  }
  std::vector<uint64_t> longerRows = model.series;
  for (uint64_t &rows : longerRows) {
    rows += 2;
  }
  inputs[0] = cell_testing::periodCell(padded, longerRows, std::vector<uint64_t>(6, 1));
  EXPECT_TRUE(bitIdentical(expected, cell_testing::run(cell_testing::cellStateFilter(), inputs)));

  // One D matrix for periods with no more series than the first: the
  // identity, whose noise variances, all ones, are every cell element's.
  inputs = cell_testing::cellFilterInputs(model, InputForms{});
  inputs[4] = orrim::createReal({3, 3}, {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0});
  EXPECT_TRUE(bitIdentical(expected, cell_testing::run(cell_testing::cellStateFilter(), inputs)));

  // A one-row cell Y: its rows, 1, are the periods.
  inputs = cell_testing::cellFilterInputs(model, InputForms{});
  inputs[0] = cell_testing::periodCell(model.y, model.series, std::vector<uint64_t>(6, 1), {1, 6});
  EXPECT_TRUE(bitIdentical({expected[0]}, cell_testing::run(cell_testing::cellStateFilter(), inputs)));
}

}  // namespace
