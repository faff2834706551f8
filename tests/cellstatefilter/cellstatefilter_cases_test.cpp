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
  EXPECT_EQ(used.allocations, 3u) << "the table's one block and the two series buffers";
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
  EXPECT_EQ(orrim::counters().allocations, 3u);
  EXPECT_EQ(orrim::counters().reallocations, 2u);
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

// One matrix Y or D serves every period, so it holds the series count of
// period 0 fixed: with counts 3, 1, 3 each is refused naming period 1 (a
// matrix wide enough for every period would be read in part), and with
// counts 3, 3, 3 it gives the bits of the cell arrays.
TEST(CellStateFilterCases, OneMatrixYOrDHoldsTheSeriesCountFixed) {
  const std::string shape = std::string(cellstatefilterGateway.errorPrefix) + "InputShape";
  const PeriodicModel changing = cell_testing::modelWithSeries({3, 1, 3}, 1);
  for (const bool matrixD : {false, true}) {
    InputForms forms;
    forms.cellY = matrixD;
    forms.cellD = !matrixD;
    forms.yColumns = 3;
    const std::string message = testing_support::expectError(
        cell_testing::cellStateFilter(), testing_support::handles(cell_testing::cellFilterInputs(changing, forms)),
        shape);
    EXPECT_EQ(message.rfind(cellstatefilterInputs[matrixD ? 4 : 0].name, 0), 0u) << message;
    EXPECT_NE(message.find("period t = 1 has 1 series"), std::string::npos) << message;
  }
  const PeriodicModel fixed = cell_testing::modelWithSeries({3, 3, 3}, 1);
  const std::vector<double> expected =
      cell_testing::run(cell_testing::cellStateFilter(), cell_testing::cellFilterInputs(fixed, InputForms{}));
  InputForms matrices;
  matrices.cellY = matrices.cellD = false;
  matrices.yColumns = 3;
  EXPECT_TRUE(bitIdentical(expected, cell_testing::run(cell_testing::cellStateFilter(),
                                                       cell_testing::cellFilterInputs(fixed, matrices))));
}

TEST(CellStateFilterCases, NoPeriodGivesAnEmptyColumn) {
  const PeriodicModel model = cell_testing::modelWithSeries({1}, 2);
  std::vector<orrim::ArrayPtr> inputs = cell_testing::cellFilterInputs(model, InputForms{});
  inputs[0] = orrim::createReal({0, 1});
  orrim::resetCounters();
  EXPECT_TRUE(cell_testing::run(cell_testing::cellStateFilter(), inputs).empty());
  EXPECT_EQ(orrim::counters().allocations, 3u);
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

  // The same numbers in other forms: observations as rows, measurement
  // matrices with a trailing dimension of one, the one series of period 3
  // as a column, x0 as a row.
  std::vector<orrim::ArrayPtr> inputs = cell_testing::cellFilterInputs(model, InputForms{});
  inputs[0] = cell_testing::periodCell(model.y, std::vector<uint64_t>(6, 1), model.series);
  orrim::ArrayPtr otherForms = orrim::createCell({6, 1});
  for (uint64_t t = 0; t < 6; ++t) {
    const std::vector<uint64_t> dimensions =
        model.series[t] == 1 ? std::vector<uint64_t>{2, 1} : std::vector<uint64_t>{model.series[t], 2, 1};
    orrim::setCellElement(otherForms.get(), t, orrim::createReal(dimensions, model.C[t]));
  }
  inputs[3] = std::move(otherForms);
  inputs[5] = orrim::createReal({1, 2}, model.x0);
  EXPECT_TRUE(bitIdentical(expected, cell_testing::run(cell_testing::cellStateFilter(), inputs)));

  // With one state, a cell C of rows and a cell B of columns; with one series
  // in a period, its D as a column.
  const auto oneState = [](bool turned) {
    std::vector<orrim::ArrayPtr> local = localLevelCase({{3.0, 1.0}, {2.0}, {missing, 0.5, 1.5}});
    const std::vector<std::vector<double>> loadings = {{1.0, 0.5}, {0.25, 2.0, 0.75}, {0.5, 1.0}};
    const std::vector<std::vector<double>> shocks = {{1.0, 0.5}, {0.75, 0.25}, {2.0, 0.5, 0.125}};
    std::vector<orrim::ArrayPtr> B, C, D;
    for (uint64_t t = 0; t < 3; ++t) {
      const uint64_t series = t == 1 ? 1 : t == 0 ? 2 : 3;
      const uint64_t k = loadings[t].size();
      const uint64_t h = t == 1 ? 2 : 1;
      std::vector<double> rowOfC(series, t == 1 ? 1.5 : 1.0);
      B.push_back(orrim::createReal(turned ? std::vector<uint64_t>{k, 1} : std::vector<uint64_t>{1, k}, loadings[t]));
      C.push_back(orrim::createReal(turned ? std::vector<uint64_t>{1, series} : std::vector<uint64_t>{series, 1}, rowOfC));
      std::vector<double> noise(shocks[t].begin(), shocks[t].begin() + static_cast<std::ptrdiff_t>(series * h));
      D.push_back(orrim::createReal(turned && t == 1 ? std::vector<uint64_t>{h, 1} : std::vector<uint64_t>{series, h},
                                    noise));
    }
    local[2] = testing_support::cellColumn(std::move(B));
    local[3] = testing_support::cellColumn(std::move(C));
    local[4] = testing_support::cellColumn(std::move(D));
    return local;
  };
  EXPECT_TRUE(bitIdentical(cell_testing::run(cell_testing::cellStateFilter(), oneState(false)),
                           cell_testing::run(cell_testing::cellStateFilter(), oneState(true))));

  // A one-row cell Y: its rows, 1, are the periods.
  inputs = cell_testing::cellFilterInputs(model, InputForms{});
  inputs[0] = cell_testing::periodCell(model.y, model.series, std::vector<uint64_t>(6, 1), {1, 6});
  EXPECT_TRUE(bitIdentical({expected[0]}, cell_testing::run(cell_testing::cellStateFilter(), inputs)));
}

}  // namespace
