// The same model through statefilter, bit for bit: given as matrices, as
// cell arrays repeating one matrix, as cell pages of a paged array, and with
// shapes that change by period, padded for statefilter to one shape.
#include "cell_test_model.h"
#include "host_testing.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using cell_testing::InputForms;
using cell_testing::ModelShape;
using cell_testing::PeriodicModel;
using testing_support::bitIdentical;
using testing_support::RandomSource;

bool samePeriods(const cell_testing::PeriodMatrices &matrices, const std::vector<uint64_t> &rows) {
  for (uint64_t t = 1; t < matrices.size(); ++t) {
    if (matrices[t] != matrices[0] || rows[t] != rows[0]) {
      return false;
    }
  }
  return true;
}

uint64_t mostSeries(const PeriodicModel &model) {
  uint64_t most = 0;
  for (uint64_t n : model.series) {
    most = n > most ? n : most;
  }
  return most;
}

TEST(CellStateFilterEquivalence, MatricesAndRepeatedCellsMatchStateFilter) {
  for (uint64_t seed = 0; seed < 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    RandomSource random(seed);
    ModelShape shape;
    shape.T = 1 + random.below(8);
    shape.m = random.below(4);
    shape.mostSeries = 3;
    shape.varyTransition = shape.varyDisturbances = shape.varySeries = shape.varyInnovations = false;
    const PeriodicModel model = cell_testing::randomPeriodicModel(random, shape);
    if (model.series[0] == 0) {
      continue;  // statefilter runs no prediction without series; nothing to compare
    }
    InputForms matrices{false, false, false, false, false, model.series[0], {}};
    // All matrices: exactly statefilter's eight inputs.
    const std::vector<double> expected = cell_testing::run(cell_testing::stateFilter(),
                                                           cell_testing::cellFilterInputs(model, matrices));
    EXPECT_TRUE(bitIdentical(expected, cell_testing::run(cell_testing::cellStateFilter(),
                                                         cell_testing::cellFilterInputs(model, matrices))));
    InputForms cells;
    EXPECT_TRUE(bitIdentical(expected, cell_testing::run(cell_testing::cellStateFilter(),
                                                         cell_testing::cellFilterInputs(model, cells))));
    InputForms mixed{random.chance(0.5), random.chance(0.5), random.chance(0.5),
                     random.chance(0.5), random.chance(0.5), model.series[0], {}};
    EXPECT_TRUE(bitIdentical(expected, cell_testing::run(cell_testing::cellStateFilter(),
                                                         cell_testing::cellFilterInputs(model, mixed))));
  }
}

TEST(CellStateFilterEquivalence, CellPagesMatchPagedStateFilter) {
  for (uint64_t seed = 100; seed < 140; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    RandomSource random(seed);
    ModelShape shape;
    shape.T = 1 + random.below(8);
    shape.m = random.below(4);
    shape.mostSeries = 3;
    shape.varyShapes = false;
    const PeriodicModel model = cell_testing::randomPeriodicModel(random, shape);
    if (model.series[0] == 0) {
      continue;
    }
    // With one shape in every period the padded arrays are the plain pages.
    const std::vector<double> expected =
        cell_testing::run(cell_testing::stateFilter(), cell_testing::paddedStateFilterInputs(model));
    EXPECT_TRUE(bitIdentical(expected, cell_testing::run(cell_testing::cellStateFilter(),
                                                         cell_testing::cellFilterInputs(model, InputForms{}))));
    InputForms matrixY;
    matrixY.cellY = false;
    matrixY.yColumns = model.series[0];
    EXPECT_TRUE(bitIdentical(expected, cell_testing::run(cell_testing::cellStateFilter(),
                                                         cell_testing::cellFilterInputs(model, matrixY))));
  }
}

// A series that a period does not have is, to the filter, a missing
// observation: with each period padded to the largest shape, statefilter must
// give the same bits.
TEST(CellStateFilterEquivalence, ChangingShapesMatchPaddedStateFilter) {
  for (uint64_t seed = 1000; seed < 1200; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    RandomSource random(seed);
    ModelShape shape;
    shape.T = random.below(9);
    shape.m = random.below(4);
    shape.mostSeries = 1 + random.below(5);
    shape.varyTransition = random.chance(0.7);
    shape.varyDisturbances = random.chance(0.7);
    shape.varySeries = random.chance(0.8);
    shape.varyInnovations = random.chance(0.7);
    shape.missingChance = random.chance(0.2) ? 1.0 : 0.25;
    if (shape.T == 0) {
      shape.T = 1;
    }
    const PeriodicModel model = cell_testing::randomPeriodicModel(random, shape);

    InputForms forms;
    forms.cellA = !samePeriods(model.A, model.disturbances) || random.chance(0.5);
    forms.cellB = !samePeriods(model.B, model.disturbances) || random.chance(0.5);
    forms.cellC = !samePeriods(model.C, model.series) || random.chance(0.5);
    forms.cellD = !samePeriods(model.D, model.series) || random.chance(0.5);
    // A matrix Y holds the series count fixed, one column per series.
    const bool constantSeries = std::all_of(model.series.begin(), model.series.end(),
                                            [&](uint64_t n) { return n == model.series[0]; });
    forms.cellY = random.chance(0.5) || !constantSeries;
    forms.yColumns = mostSeries(model);
    random.below(2);  // once a wider Y's extra column: every seed keeps the rest of its stream
    if (random.chance(0.3)) {
      forms.cellShape = {1, model.T};
    }
    const std::vector<double> actual =
        cell_testing::run(cell_testing::cellStateFilter(), cell_testing::cellFilterInputs(model, forms));
    const std::vector<double> expected =
        cell_testing::run(cell_testing::stateFilter(), cell_testing::paddedStateFilterInputs(model));
    EXPECT_TRUE(bitIdentical(expected, actual));
  }
}

}  // namespace
