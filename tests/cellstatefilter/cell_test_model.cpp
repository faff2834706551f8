#include "cell_test_model.h"

#include "host_testing.h"

#include <algorithm>
#include <limits>

namespace cell_testing {
namespace {

using testing_support::RandomSource;

constexpr double missing = std::numeric_limits<double>::quiet_NaN();

uint64_t largest(const std::vector<uint64_t> &values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

std::vector<double> observations(RandomSource &random, uint64_t n, double missingChance) {
  std::vector<double> values = random.normals(n, 2.0);
  for (double &value : values) {
    value = random.chance(missingChance) ? missing : value;
  }
  return values;
}

// Copies the r x c matrix into the top left of a rows x columns page that
// starts at `page`, leaving the rest as it is.
void placeInPage(double *page, uint64_t rows, const std::vector<double> &matrix, uint64_t r, uint64_t c) {
  for (uint64_t j = 0; j < c; ++j) {
    for (uint64_t i = 0; i < r; ++i) {
      page[i + j * rows] = matrix[i + j * r];
    }
  }
}

orrim::ArrayPtr paged(const PeriodMatrices &matrices, uint64_t rows, uint64_t columns,
                      const std::vector<uint64_t> &rowsOf, const std::vector<uint64_t> &columnsOf, double filler) {
  const uint64_t T = matrices.size();
  std::vector<double> values(rows * columns * T, 0.0);
  for (uint64_t t = 0; t < T; ++t) {
    double *page = values.data() + t * rows * columns;
    // Rows past the period's own are never read; columns past its own are
    // zero, so that they add nothing to B*B' or D*D'.
    for (uint64_t j = 0; j < columns; ++j) {
      for (uint64_t i = rowsOf[t]; i < rows; ++i) {
        page[i + j * rows] = filler;
      }
    }
    placeInPage(page, rows, matrices[t], rowsOf[t], columnsOf[t]);
  }
  return orrim::createReal({rows, columns, T}, values);
}

}  // namespace

PeriodicModel randomPeriodicModel(RandomSource &random, const ModelShape &shape) {
  PeriodicModel model;
  model.T = shape.T;
  model.m = shape.m;
  const uint64_t m = shape.m;
  const uint64_t firstK = random.below(3);
  const uint64_t firstN = random.below(shape.mostSeries + 1);
  const uint64_t firstH = 1 + random.below(2);
  for (uint64_t t = 0; t < shape.T; ++t) {
    const bool first = t == 0;
    const bool newShapes = !first && shape.varyShapes;
    const uint64_t k = newShapes && shape.varyDisturbances ? random.below(3) : firstK;
    const uint64_t n = newShapes && shape.varySeries ? random.below(shape.mostSeries + 1) : firstN;
    const uint64_t h = newShapes && shape.varyInnovations ? 1 + random.below(2) : firstH;
    model.disturbances.push_back(k);
    model.series.push_back(n);
    model.innovations.push_back(h);
    model.A.push_back(first || shape.varyTransition ? random.stableTransition(m) : model.A[0]);
    model.B.push_back(first || shape.varyDisturbances ? random.normals(m * k, 0.6) : model.B[0]);
    model.C.push_back(first || shape.varySeries ? random.normals(n * m) : model.C[0]);
    const bool sameD = !first && !shape.varyInnovations && n == firstN;
    model.D.push_back(sameD ? model.D[0] : random.normals(n * h, 0.8));
    model.y.push_back(observations(random, n, shape.missingChance));
  }
  model.x0 = random.normals(m);
  model.P0 = random.covariance(m);
  model.tol = random.chance(0.3) ? 0.5 : 0.0;
  return model;
}

PeriodicModel modelWithSeries(const std::vector<uint64_t> &series, uint64_t m) {
  RandomSource random(series.size() * 31 + m);
  PeriodicModel model;
  model.T = series.size();
  model.m = m;
  model.series = series;
  for (uint64_t t = 0; t < model.T; ++t) {
    const uint64_t n = series[t];
    model.disturbances.push_back(m);
    model.innovations.push_back(n);
    std::vector<double> A(m * m, 0.0);
    std::vector<double> B(m * m, 0.0);
    for (uint64_t i = 0; i < m; ++i) {
      A[i + i * m] = 0.5;
      B[i + i * m] = 1.0;
    }
    model.A.push_back(A);
    model.B.push_back(B);
    model.C.push_back(std::vector<double>(n * m, 1.0));
    std::vector<double> D(n * n, 0.0);
    for (uint64_t j = 0; j < n; ++j) {
      D[j + j * n] = 1.0;
    }
    model.D.push_back(D);
    model.y.push_back(random.normals(n, 2.0));
  }
  model.x0.assign(m, 2.0);
  model.P0.assign(m * m, 0.0);
  for (uint64_t i = 0; i < m; ++i) {
    model.P0[i + i * m] = 4.0;
  }
  return model;
}

orrim::ArrayPtr periodCell(const PeriodMatrices &matrices, const std::vector<uint64_t> &rows,
                           const std::vector<uint64_t> &columns, const std::vector<uint64_t> &cellShape) {
  orrim::ArrayPtr cell = orrim::createCell(cellShape.empty() ? std::vector<uint64_t>{matrices.size(), 1} : cellShape);
  for (uint64_t t = 0; t < matrices.size(); ++t) {
    orrim::setCellElement(cell.get(), t, orrim::createReal({rows[t], columns[t]}, matrices[t]));
  }
  return cell;
}

std::vector<orrim::ArrayPtr> cellFilterInputs(const PeriodicModel &model, const InputForms &forms) {
  const std::vector<uint64_t> ms(model.T, model.m);
  const std::vector<uint64_t> ones(model.T, 1);
  auto form = [&](bool cell, const PeriodMatrices &matrices, const std::vector<uint64_t> &rows,
                  const std::vector<uint64_t> &columns) {
    return cell ? periodCell(matrices, rows, columns, forms.cellShape)
                : orrim::createReal({rows[0], columns[0]}, matrices[0]);
  };
  std::vector<orrim::ArrayPtr> inputs;
  if (forms.cellY) {
    inputs.push_back(periodCell(model.y, model.series, ones));
  } else {
    std::vector<double> Y(model.T * forms.yColumns, 1e3);
    for (uint64_t t = 0; t < model.T; ++t) {
      for (uint64_t j = 0; j < model.series[t]; ++j) {
        Y[t + j * model.T] = model.y[t][j];
      }
    }
    inputs.push_back(orrim::createReal({model.T, forms.yColumns}, Y));
  }
  inputs.push_back(form(forms.cellA, model.A, ms, ms));
  inputs.push_back(form(forms.cellB, model.B, ms, model.disturbances));
  inputs.push_back(form(forms.cellC, model.C, model.series, ms));
  inputs.push_back(form(forms.cellD, model.D, model.series, model.innovations));
  inputs.push_back(orrim::createReal({model.m, 1}, model.x0));
  inputs.push_back(orrim::createReal({model.m, model.m}, model.P0));
  inputs.push_back(orrim::createReal({1, 1}, {model.tol}));
  return inputs;
}

std::vector<orrim::ArrayPtr> paddedStateFilterInputs(const PeriodicModel &model) {
  const uint64_t T = model.T;
  const uint64_t n = largest(model.series);
  const uint64_t k = largest(model.disturbances);
  const uint64_t h = largest(model.innovations);
  const std::vector<uint64_t> ms(T, model.m);
  std::vector<double> Y(T * n, missing);
  for (uint64_t t = 0; t < T; ++t) {
    for (uint64_t j = 0; j < model.series[t]; ++j) {
      Y[t + j * T] = model.y[t][j];
    }
  }
  std::vector<orrim::ArrayPtr> inputs;
  inputs.push_back(orrim::createReal({T, n}, Y));
  inputs.push_back(paged(model.A, model.m, model.m, ms, ms, 0.0));
  inputs.push_back(paged(model.B, model.m, k, ms, model.disturbances, 0.0));
  inputs.push_back(paged(model.C, n, model.m, model.series, ms, 0.25));
  inputs.push_back(paged(model.D, n, h, model.series, model.innovations, 1.0));
  inputs.push_back(orrim::createReal({model.m, 1}, model.x0));
  inputs.push_back(orrim::createReal({model.m, model.m}, model.P0));
  inputs.push_back(orrim::createReal({1, 1}, {model.tol}));
  return inputs;
}

std::vector<double> run(const orrim::Module &module, const std::vector<orrim::ArrayPtr> &inputs) {
  const orrim::CallResult result = testing_support::callChecked(module, testing_support::handles(inputs));
  EXPECT_FALSE(result.failed) << result.identifier << ": " << result.message;
  if (result.failed || result.outputs.empty() || result.outputs[0] == nullptr) {
    return {};
  }
  EXPECT_EQ(orrim::dimensions(result.outputs[0].get()), (std::vector<uint64_t>{orrimRows(inputs[0].get()), 1}));
  return testing_support::valuesOf(result.outputs[0].get());
}

const orrim::Module &cellStateFilter() {
  static const orrim::Module module = orrim::Module::load(CELLSTATEFILTER_MODULE);
  return module;
}

const orrim::Module &stateFilter() {
  static const orrim::Module module = orrim::Module::load(STATEFILTER_MODULE);
  return module;
}

}  // namespace cell_testing
