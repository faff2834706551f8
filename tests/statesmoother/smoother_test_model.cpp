#include "smoother_test_model.h"

using namespace testing_support;

namespace {

orrim::ArrayPtr interceptArray(const std::vector<double> &values, uint64_t rows, uint64_t T) {
  return values.empty() ? orrim::createEmpty() : realArray({rows, T}, values);
}

}  // namespace

std::vector<orrim::ArrayPtr> smootherInputs(const SmootherTestModel &model) {
  const uint64_t T = model.T, n = model.n, m = model.m;
  std::vector<orrim::ArrayPtr> inputs = observationAndCoefficientArrays(model);
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

std::vector<double> callStateSmoother(const std::vector<orrim::ArrayPtr> &inputs, uint64_t T, uint64_t m,
                                      uint64_t blocks) {
  const orrim::Counters before = orrim::counters();
  orrim::CallResult result = callChecked(statesmootherModule(), handles(inputs));
  EXPECT_FALSE(result.failed) << result.identifier << ": " << result.message;
  if (result.failed) {
    return {};
  }
  EXPECT_EQ(orrim::counters().allocations - before.allocations, blocks) << "the working blocks";
  EXPECT_EQ(orrimRows(result.outputs[0].get()), T);
  EXPECT_EQ(orrimColumns(result.outputs[0].get()), m);
  return valuesOf(result.outputs[0].get());
}

// The one block of the smoother's table, and the 7 of decorrelated series
// where a period needs them.
uint64_t workingBlocksOf(const SmootherTestModel &model) { return takesDecorrelationBlocks(model) ? 8 : 1; }

std::vector<double> callStateSmoother(const SmootherTestModel &model) {
  return callStateSmoother(smootherInputs(model), model.T, model.m, workingBlocksOf(model));
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
  EXPECT_EQ(orrim::counters().allocations - before.allocations, workingBlocksOf(model) + 1) << "the working blocks";
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
  static_cast<ModelVectors &>(model) = randomModel(random, shape);
  if (random.chance(0.6)) model.stateIntercept = random.normals(model.m * model.T);
  if (random.chance(0.6)) model.observationIntercept = random.normals(model.n * model.T);
  return model;
}

SmootherTestModel smallSmootherModel(uint64_t T, uint64_t n) {
  RandomSource random(7);
  SmootherTestModel model;
  model.T = T;
  model.n = n;
  model.m = model.k = 2;
  model.h = 1;
  model.Y = random.normals(T * n);
  model.A = random.stableTransition(2);
  model.B = random.normals(4);
  model.C = random.normals(n * 2);
  model.D = random.normals(n);
  model.P0 = random.covariance(2);
  model.x0 = random.normals(2);
  model.stateIntercept = random.normals(2 * T);
  model.observationIntercept = random.normals(n * T);
  return model;
}
