#include "smoother_test_model.h"

#include <limits>

using namespace testing_support;

namespace {

std::vector<uint64_t> coefficientDimensions(uint64_t rows, uint64_t columns, bool paged, uint64_t T) {
  return paged ? std::vector<uint64_t>{rows, columns, T} : std::vector<uint64_t>{rows, columns};
}

orrim::ArrayPtr interceptArray(const std::vector<double> &values, uint64_t rows, uint64_t T) {
  return values.empty() ? orrim::createEmpty() : realArray({rows, T}, values);
}

std::vector<double> transitionPages(RandomSource &random, uint64_t pages, uint64_t m) {
  std::vector<double> result;
  for (uint64_t t = 0; t < pages; ++t) {
    const std::vector<double> page = random.stableTransition(m);
    result.insert(result.end(), page.begin(), page.end());
  }
  return result;
}

}  // namespace

std::vector<orrim::ArrayPtr> smootherInputs(const SmootherTestModel &model) {
  const uint64_t T = model.T, n = model.n, m = model.m, k = model.k, h = model.h;
  std::vector<orrim::ArrayPtr> inputs;
  inputs.push_back(realArray({T, n}, model.Y));
  inputs.push_back(realArray(coefficientDimensions(m, m, model.pagedA, T), model.A));
  inputs.push_back(realArray(coefficientDimensions(m, k, model.pagedB, T), model.B));
  inputs.push_back(realArray(coefficientDimensions(n, m, model.pagedC, T), model.C));
  inputs.push_back(realArray(coefficientDimensions(n, h, model.pagedD, T), model.D));
  inputs.push_back(realArray({m, m}, model.P0));
  inputs.push_back(scalar(model.tol));
  inputs.push_back(realArray({model.x0.size(), 1}, model.x0));
  inputs.push_back(interceptArray(model.stateIntercept, m, T));
  inputs.push_back(interceptArray(model.observationIntercept, n, T));
  return inputs;
}

const orrim::Module &statesmootherModule() {
  static const orrim::Module module = orrim::Module::load(STATESMOOTHER_MODULE);
  return module;
}

std::vector<double> callStateSmoother(const std::vector<orrim::ArrayPtr> &inputs, uint64_t T, uint64_t m) {
  const orrim::Counters before = orrim::counters();
  orrim::CallResult result = callChecked(statesmootherModule(), handles(inputs));
  EXPECT_FALSE(result.failed) << result.identifier << ": " << result.message;
  if (result.failed) {
    return {};
  }
  EXPECT_EQ(orrim::counters().allocations - before.allocations, 22u) << "the working blocks";
  EXPECT_EQ(orrimRows(result.outputs[0].get()), T);
  EXPECT_EQ(orrimColumns(result.outputs[0].get()), m);
  return valuesOf(result.outputs[0].get());
}

std::vector<double> callStateSmoother(const SmootherTestModel &model) {
  return callStateSmoother(smootherInputs(model), model.T, model.m);
}

SmootherOutputs callStateSmootherWithCovariances(const SmootherTestModel &model) {
  const uint64_t T = model.T, m = model.m;
  const std::vector<orrim::ArrayPtr> inputs = smootherInputs(model);
  const orrim::Counters before = orrim::counters();
  orrim::CallResult result = callChecked(statesmootherModule(), handles(inputs), 2);
  EXPECT_FALSE(result.failed) << result.identifier << ": " << result.message;
  if (result.failed) {
    return {};
  }
  EXPECT_EQ(orrim::counters().allocations - before.allocations, 27u) << "the working blocks";
  EXPECT_EQ(orrim::dimensions(result.outputs[1].get()), (std::vector<uint64_t>{m, m, T}));
  SmootherOutputs outputs{valuesOf(result.outputs[0].get()), valuesOf(result.outputs[1].get())};
  for (uint64_t t = 0; t < T; ++t)
    for (uint64_t i = 0; i < m; ++i)
      for (uint64_t l = 0; l < i; ++l) {
        const double *page = outputs.covariances.data() + t * m * m;
        EXPECT_TRUE(bitIdentical({page[i + l * m]}, {page[l + i * m]})) << "period " << t << " (" << i << ", " << l << ")";
      }
  return outputs;
}

SmootherTestModel randomSmootherModel(RandomSource &random, const RandomShape &shape) {
  SmootherTestModel model;
  model.T = random.below(shape.maxT + 1);
  model.n = random.below(shape.maxN + 1);
  model.m = random.below(shape.maxM + 1);
  model.k = random.below(4);
  model.h = random.below(3);
  model.pagedA = random.chance(0.5);
  model.pagedB = random.chance(0.5);
  model.pagedC = random.chance(0.5);
  model.pagedD = random.chance(0.5);
  const uint64_t T = model.T, n = model.n, m = model.m, k = model.k, h = model.h;
  model.A = transitionPages(random, model.pagedA ? T : 1, m);
  model.B = random.normals((model.pagedB ? T : 1) * m * k);
  model.C = random.normals((model.pagedC ? T : 1) * n * m);
  model.D = random.normals((model.pagedD ? T : 1) * n * h);
  model.P0 = random.covariance(m);
  if (m >= 2 && random.chance(0.2)) model.P0[m] += 0.5;  // taken as given: read by columns, never symmetrised
  model.x0 = random.normals(m, 2.0);
  if (random.chance(0.6)) model.stateIntercept = random.normals(m * T);
  if (random.chance(0.6)) model.observationIntercept = random.normals(n * T);
  model.Y = random.normals(T * n, 3.0);
  for (double &value : model.Y) {
    if (random.chance(shape.missingChance)) value = std::numeric_limits<double>::quiet_NaN();
  }
  if (shape.allowCutoffs) {
    for (double &value : model.C) if (random.chance(0.1)) value = 0.0;
    for (double &value : model.D) if (random.chance(0.2)) value = 0.0;
    const double tols[] = {0.0, 0.5, 1e-12, -1.0, std::numeric_limits<double>::quiet_NaN()};
    model.tol = tols[random.below(5)];
  }
  return model;
}
