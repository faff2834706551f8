// Inputs that would make the filter read outside a block, or read a value as
// another: each is refused before anything is created, with an error that
// names the input and the period, and leaves no block behind.
#include "cell_test_model.h"
#include "cellstatefilter_inputs.h"
#include "host_testing.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>

namespace {

using cell_testing::PeriodicModel;
using cell_testing::PeriodMatrices;

// m = 2; the series counts are 2, 3, 1, k = 2 and h the series count in every period.
const PeriodicModel &baseModel() {
  static const PeriodicModel model = cell_testing::modelWithSeries({2, 3, 1}, 2);
  return model;
}

const std::vector<uint64_t> twos{2, 2, 2};
const std::vector<uint64_t> ones{1, 1, 1};

orrim::ArrayPtr cellReplacing(const PeriodMatrices &matrices, const std::vector<uint64_t> &rows,
                              const std::vector<uint64_t> &columns, uint64_t t, orrim::ArrayPtr element) {
  orrim::ArrayPtr cell = cell_testing::periodCell(matrices, rows, columns);
  orrim::setCellElement(cell.get(), t, std::move(element));
  return cell;
}

// Input names start a sentence or stand inside one.
std::string lowerCase(std::string text) {
  for (char &c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

orrim::ArrayPtr zeros(uint64_t rows, uint64_t columns) { return orrim::createReal({rows, columns}); }

struct BadInput {
  const char *what;
  size_t position;
  std::function<orrim::ArrayPtr(const PeriodicModel &)> replacement;
  std::string identifier;
  std::vector<std::string> mentions;  // besides the input's name
};

const std::string prefix = cellstatefilterGateway.errorPrefix;
const std::string tooSmall = prefix + "InputTooSmall";
const std::string notReal = prefix + "InputNotReal";
const std::string tooLarge = prefix + "TooLarge";
const std::string shape = prefix + "InputShape";

std::vector<BadInput> badInputs() {
  return {
      {"a cell A with fewer elements than periods", 1,
       [](const PeriodicModel &model) {
         return cell_testing::periodCell({model.A[0], model.A[1]}, {2, 2}, {2, 2});
       },
       tooSmall, {"2 elements"}},
      {"a cell B with an element never set", 2,
       [](const PeriodicModel &model) { return cellReplacing(model.B, twos, twos, 1, nullptr); }, notReal,
       {"period t = 1"}},
      {"a cell C whose element is a cell", 3,
       [](const PeriodicModel &model) {
         return cellReplacing(model.C, model.series, twos, 2, orrim::createCell({1, 1}));
       },
       notReal, {"period t = 2"}},
      {"a matrix Y narrower than a period's series", 0, [](const PeriodicModel &) { return zeros(3, 2); }, tooSmall,
       {"period t = 1", "3 series"}},
      {"a cell Y element with fewer values than series", 0,
       [](const PeriodicModel &model) { return cellReplacing(model.y, model.series, ones, 1, zeros(2, 1)); },
       tooSmall, {"period t = 1"}},
      {"a cell Y with no elements", 0, [](const PeriodicModel &) { return orrim::createCell({3, 0}); }, tooSmall,
       {}},
      {"a D element with fewer than n*h values", 4,
       [](const PeriodicModel &model) { return cellReplacing(model.D, model.series, model.series, 1, zeros(2, 1)); },
       tooSmall, {"period t = 1"}},
      {"one D matrix with fewer than n*h values for a later period", 4,
       [](const PeriodicModel &) { return zeros(2, 1); }, tooSmall, {"period t = 1"}},
      {"one D matrix without columns for a period with more series", 4,
       [](const PeriodicModel &) { return zeros(2, 0); }, shape, {"period t = 1", "3 series"}},
      {"an A element with fewer than m*m values", 1,
       [](const PeriodicModel &model) { return cellReplacing(model.A, twos, twos, 2, zeros(2, 1)); }, tooSmall,
       {"period t = 2"}},
      {"an A matrix with fewer than m*m values", 1, [](const PeriodicModel &) { return zeros(2, 1); }, tooSmall,
       {}},
      {"a B element with fewer rows than states", 2,
       [](const PeriodicModel &model) { return cellReplacing(model.B, twos, twos, 0, zeros(1, 3)); }, tooSmall,
       {"period t = 0"}},
      {"a C element with fewer columns than states", 3,
       [](const PeriodicModel &model) { return cellReplacing(model.C, model.series, twos, 1, zeros(3, 1)); },
       tooSmall, {"period t = 1"}},
      {"an x0 shorter than m", 5, [](const PeriodicModel &) { return zeros(1, 1); }, tooSmall, {}},
      {"a P0 with fewer than m*m values", 6, [](const PeriodicModel &) { return zeros(3, 1); }, tooSmall,
       {}},
      {"an empty tol", 7, [](const PeriodicModel &) { return zeros(0, 0); }, tooSmall, {}},
      {"a cell C with every period's matrix transposed", 3,
       [](const PeriodicModel &model) {
         return cell_testing::periodCell(model.C, twos, model.series);
       },
       shape, {"period t = 1", "is 2 x 3; it must be n x m = n x 2."}},
      {"a cell Y element with more values than series", 0,
       [](const PeriodicModel &model) { return cellReplacing(model.y, model.series, ones, 1, zeros(4, 1)); },
       shape, {"period t = 1", "n x 1 = 3 x 1 (or 1 x 3)"}},
      {"a matrix Y wide enough for every period", 0, [](const PeriodicModel &) { return zeros(3, 3); }, shape,
       {"is 3 x 3; it must be T x n = 3 x 2, or a cell array"}},
      {"an A element of four values in one row", 1,
       [](const PeriodicModel &model) { return cellReplacing(model.A, twos, twos, 1, zeros(1, 4)); }, shape,
       {"period t = 1", "m x m = 2 x 2"}},
      {"an A matrix with one page per period", 1,
       [](const PeriodicModel &) { return orrim::createReal({2, 2, 3}); }, shape,
       {"is 2 x 2 x 3", "or a cell array with a matrix for each period"}},
      {"a B element with more rows than states", 2,
       [](const PeriodicModel &model) { return cellReplacing(model.B, twos, twos, 2, zeros(3, 2)); }, shape,
       {"period t = 2", "m x k = 2 x k"}},
      {"a D element with more rows than series", 4,
       [](const PeriodicModel &model) { return cellReplacing(model.D, model.series, model.series, 2, zeros(2, 2)); },
       shape, {"period t = 2", "n x h = 1 x h"}},
      {"an x0 longer than m", 5, [](const PeriodicModel &) { return zeros(3, 1); }, shape, {"m x 1 = 2 x 1"}},
      {"a P0 of 3 x 3", 6, [](const PeriodicModel &) { return zeros(3, 3); }, shape, {"m x m = 2 x 2"}},
      {"a tol of two values", 7, [](const PeriodicModel &) { return zeros(1, 2); }, shape, {"one value"}},
      {"an x0 given as a cell array", 5, [](const PeriodicModel &) { return orrim::createCell({2, 1}); }, notReal,
       {}},
      {"an m*m that overflows", 1, [](const PeriodicModel &) { return zeros(uint64_t{1} << 32, 0); }, tooLarge,
       {"m*m of input 2 (A)"}},
      {"a period's n*m that overflows", 3,
       [](const PeriodicModel &model) {
         return cellReplacing(model.C, model.series, twos, 1, zeros(uint64_t{1} << 63, 0));
       },
       tooLarge, {"n*m of the cell of period t = 1 in input 4 (C)"}},
  };
}

TEST(CellStateFilterBadInput, EachIsRefusedWithItsErrorAndNoBlockLeft) {
  const PeriodicModel &model = baseModel();
  // The base model itself is accepted.
  EXPECT_EQ(cell_testing::run(cell_testing::cellStateFilter(),
                              cell_testing::cellFilterInputs(model, cell_testing::InputForms{}))
                .size(),
            3u);
  for (const BadInput &bad : badInputs()) {
    SCOPED_TRACE(bad.what);
    std::vector<orrim::ArrayPtr> inputs = cell_testing::cellFilterInputs(model, cell_testing::InputForms{});
    inputs[bad.position] = bad.replacement(model);
    orrim::resetCounters();
    const std::string message = testing_support::expectError(cell_testing::cellStateFilter(),
                                                             testing_support::handles(inputs), bad.identifier);
    EXPECT_EQ(orrim::counters().allocations, 0u) << "refused before any block is taken";
    std::vector<std::string> mentions = bad.mentions;
    mentions.push_back(cellstatefilterInputs[bad.position].name);
    for (const std::string &mention : mentions) {
      EXPECT_NE(lowerCase(message).find(lowerCase(mention)), std::string::npos) << message << " should mention "
                                                                                << mention;
    }
  }
}

// A matrix Y with no column may claim 2^40 rows. With no cell array, nothing
// bounds the period count by what memory holds, so a check of each period in
// turn would spin for hours before the 2^40-row output could be refused.
TEST(CellStateFilterBadInput, AstronomicalPeriodCountIsRefusedWithoutVisitingEachPeriod) {
  std::vector<orrim::ArrayPtr> inputs;
  inputs.push_back(zeros(uint64_t{1} << 40, 0));
  inputs.push_back(testing_support::scalar(0.9));
  inputs.push_back(testing_support::scalar(0.5));
  inputs.push_back(zeros(0, 1));
  inputs.push_back(zeros(0, 1));
  inputs.push_back(testing_support::scalar(0.0));
  inputs.push_back(testing_support::scalar(1.0));
  inputs.push_back(testing_support::scalar(0.0));
  testing_support::expectError(cell_testing::cellStateFilter(), testing_support::handles(inputs),
                               "orrim:OutOfMemory");
}

TEST(CellStateFilterBadInput, MissingInputIsRefused) {
  const std::vector<orrim::ArrayPtr> inputs =
      cell_testing::cellFilterInputs(baseModel(), cell_testing::InputForms{});
  for (size_t position : {size_t{0}, size_t{4}, size_t{7}}) {
    std::vector<const OrrimArray *> handles = testing_support::handles(inputs);
    handles[position] = nullptr;
    const std::string message = testing_support::expectError(cell_testing::cellStateFilter(), handles, notReal);
    EXPECT_EQ(message.rfind(cellstatefilterInputs[position].name, 0), 0u) << message;
  }
}

}  // namespace
