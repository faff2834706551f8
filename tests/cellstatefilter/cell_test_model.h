// Models whose shapes change by period, kept as plain per-period matrices so
// that a test can hand each input to cellstatefilter as a matrix or a cell
// array, or to statefilter padded to one shape.
#pragma once

#include "orrim_host.hpp"
#include "random_model.h"

#include <cstdint>
#include <vector>

namespace cell_testing {

using PeriodMatrices = std::vector<std::vector<double>>;  // period t: a column-major matrix

struct PeriodicModel {
  uint64_t T = 0;
  uint64_t m = 0;
  std::vector<uint64_t> series;        // n_t
  std::vector<uint64_t> disturbances;  // k_t
  std::vector<uint64_t> innovations;   // h_t
  PeriodMatrices A, B, C, D;           // m x m, m x k_t, n_t x m, n_t x h_t
  PeriodMatrices y;                    // n_t observations, NaN when missing
  std::vector<double> x0, P0;
  double tol = 0.0;
};

struct ModelShape {
  uint64_t T = 6;
  uint64_t m = 2;
  uint64_t mostSeries = 4;  // n_t is drawn from 0 ... mostSeries
  // Which coefficients change by period; with varyShapes those of B, C and
  // D change their column, row and column counts too.
  bool varyTransition = true;
  bool varyDisturbances = true;
  bool varySeries = true;
  bool varyInnovations = true;
  bool varyShapes = true;
  double missingChance = 0.2;
};

PeriodicModel randomPeriodicModel(testing_support::RandomSource &random, const ModelShape &shape);

// The model with the given series counts, every other shape fixed: A = 0.5,
// B = 1, C all ones, D the identity (each series its own innovation), x0 =
// 2, P0 = 4 for m = 1, random observations.
PeriodicModel modelWithSeries(const std::vector<uint64_t> &series, uint64_t m = 1);

// Which inputs cellstatefilter gets as cell arrays (one matrix per period, in
// a T x 1 cell; coefficients in a cellShape cell when one is given, while Y
// stays T x 1 since its rows are the periods); the others are period 0's
// matrix. A matrix Y has yColumns columns, filled past n_t with values the
// filter must ignore.
struct InputForms {
  bool cellY = true, cellA = true, cellB = true, cellC = true, cellD = true;
  uint64_t yColumns = 0;
  std::vector<uint64_t> cellShape;
};

std::vector<orrim::ArrayPtr> cellFilterInputs(const PeriodicModel &model, const InputForms &forms);

// The same model for statefilter: paged A to D and a T x max(n_t) Y, every
// period padded to the largest n, k and h with missing observations and zero
// columns, which change no sum.
std::vector<orrim::ArrayPtr> paddedStateFilterInputs(const PeriodicModel &model);

orrim::ArrayPtr periodCell(const PeriodMatrices &matrices, const std::vector<uint64_t> &rows,
                           const std::vector<uint64_t> &columns, const std::vector<uint64_t> &cellShape = {});

// Runs a module that must succeed (host counters checked) and returns its output.
std::vector<double> run(const orrim::Module &module, const std::vector<orrim::ArrayPtr> &inputs);

const orrim::Module &cellStateFilter();
const orrim::Module &stateFilter();

}  // namespace cell_testing
