// statesmoother against the literal smoother to the bit, against the textbook
// smoother to rounding, and the properties that catch whole classes of faults.
#include "host_testing.h"
#include "literal_state_smoother.h"
#include "smoother_test_model.h"
#include "textbook_smoother.h"

#include <algorithm>
#include <cmath>
#include <limits>

using namespace testing_support;

namespace {

const double missing = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();

// The T x m result that a smoother which learns nothing returns.
std::vector<double> meanPathResult(const SmootherTestModel &model) {
  const std::vector<double> meanStates = literalMeanPath(model);
  std::vector<double> result(model.T * model.m);
  for (uint64_t t = 0; t < model.T; ++t)
    for (uint64_t i = 0; i < model.m; ++i) result[t + i * model.T] = meanStates[t * model.m + i];
  return result;
}

std::vector<double> repeated(const std::vector<double> &page, uint64_t times) {
  std::vector<double> result;
  for (uint64_t t = 0; t < times; ++t) result.insert(result.end(), page.begin(), page.end());
  return result;
}

// A well-posed model for the textbook smoother: full-rank state noise,
// positive observation noise, no cutoff, distinct pages of A.
SmootherTestModel textbookModel(RandomSource &random, uint64_t T, uint64_t n, uint64_t m, bool pageAll) {
  SmootherTestModel model;
  model.T = T;
  model.n = n;
  model.m = m;
  model.k = m + 1;
  model.h = 1 + random.below(2);
  model.pagedA = true;
  model.pagedB = model.pagedC = model.pagedD = pageAll;
  model.A = random.stableTransitions(T, m);
  model.B = random.normals((pageAll ? T : 1) * m * model.k, 0.7);
  model.C = random.normals((pageAll ? T : 1) * n * m);
  model.D = random.normals((pageAll ? T : 1) * n * model.h);
  for (double &value : model.D) value = 0.3 + std::fabs(value);
  model.P0 = random.covariance(m);
  model.x0 = random.normals(m, 2.0);
  model.stateIntercept = random.normals(m * T);
  model.observationIntercept = random.normals(n * T);
  model.Y = random.normals(T * n, 3.0);
  for (double &value : model.Y) if (random.chance(0.2)) value = missing;
  return model;
}

double largestDifference(const std::vector<double> &expected, const std::vector<double> &actual) {
  EXPECT_EQ(expected.size(), actual.size());
  double largest = 0.0;
  for (size_t e = 0; e < std::min(expected.size(), actual.size()); ++e) {
    largest = std::max(largest, std::fabs(expected[e] - actual[e]) / std::max(1.0, std::fabs(expected[e])));
  }
  return largest;
}

}  // namespace

TEST(StatesmootherReference, RandomModelsMatchTheLiteralSmootherToTheBit) {
  uint64_t cutAtTol = 0;
  for (uint64_t seed = 0; seed < 400; ++seed) {
    RandomSource random(seed);
    SmootherTestModel model = randomSmootherModel(random, RandomShape{});
    // The empty shapes come up by chance too; force each at least once.
    if (seed == 0) model = randomSmootherModel(random, RandomShape{0, 3, 3});
    if (seed == 1) model = randomSmootherModel(random, RandomShape{6, 0, 3});
    if (seed == 2) model = randomSmootherModel(random, RandomShape{6, 3, 0});
    const LiteralSmootherResult expected = literalStateSmoother(model);
    ASSERT_TRUE(bitIdentical(expected.smoothed, callStateSmoother(model))) << "seed " << seed;
    ASSERT_TRUE(bitIdentical(expected.smoothed, callStateSmootherWithCovariances(model).means)) << "seed " << seed;

    // tol set to an innovation variance the smoother meets: that observation
    // (and any with the same or a smaller F) is passed over.
    std::vector<double> variances;
    for (double F : expected.innovationVariances) if (std::isfinite(F)) variances.push_back(F);
    if (variances.empty()) continue;
    model.tol = variances[random.below(variances.size())];
    ++cutAtTol;
    ASSERT_TRUE(bitIdentical(literalStateSmoother(model).smoothed, callStateSmoother(model)))
        << "seed " << seed << " with tol = F";
  }
  EXPECT_GT(cutAtTol, 200u);
}

// Up to 16 states and 20 series: the steps compiled for each size, and
// periods of more series than one run of the kernel takes; then up to 40
// states, the vectorised steps; and the small shapes with series that share
// innovations, whose periods the way back takes through the decorrelated rows.
TEST(StatesmootherReference, LargerModelsMatchTheLiteralSmootherToTheBit) {
  RandomShape shared{};
  shared.correlatedNoise = true;
  for (const RandomShape shape : {RandomShape{4, 20, 16}, RandomShape{3, 6, 40}, shared}) {
    for (uint64_t seed = 0; seed < 60; ++seed) {
      RandomSource random(1000 + seed);
      const SmootherTestModel model = randomSmootherModel(random, shape);
      const std::vector<double> expected = literalStateSmoother(model).smoothed;
      ASSERT_TRUE(bitIdentical(expected, callStateSmoother(model))) << "seed " << seed << " n " << model.n << " m " << model.m;
      ASSERT_TRUE(bitIdentical(expected, callStateSmootherWithCovariances(model).means)) << "seed " << seed;
    }
  }
}

// A huge observation with a small innovation variance makes its score, and so
// r, infinite; the passed-over observation before it still multiplies r by I,
// and 0 * inf turns every element of r into NaN.
TEST(StatesmootherReference, InfiniteCumulantThroughAPassedOverObservationIsNaN) {
  SmootherTestModel model;
  model.T = 1, model.n = 2, model.m = 2, model.k = 2, model.h = 2;
  model.Y = {missing, 1e308};
  model.A = {0.5, 0.0, 0.0, 0.5};
  model.B = {0.01, 0.0, 0.0, 0.01};
  model.C = {1.0, 1.0, 1.0, 1.0};
  model.D = {0.01, 0.0, 0.0, 0.01};
  model.P0 = {0.01, 0.005, 0.005, 0.01};
  model.x0 = {0.0, 0.0};
  const std::vector<double> expected = literalStateSmoother(model).smoothed;
  ASSERT_TRUE(std::isnan(expected[0]) && std::isnan(expected[1]));
  EXPECT_TRUE(bitIdentical(expected, callStateSmoother(model)));
}

// The working storage grows as m*m*T/2 + m*n*T: a model whose m*m*n*T doubles
// would take 14 MB stays within about 4 MB, with series that share their
// noise and so take the decorrelated series' blocks as well.
TEST(StatesmootherReference, WorkingStorageStaysWithinItsBound) {
  RandomSource random(77);
  const uint64_t T = 200, n = 10, m = 30;
  const SmootherTestModel model = textbookModel(random, T, n, m, false);
  const uint64_t bound = 8 * (m * m * T + 3 * m * n * T + 4 * (m + n) * T) + (uint64_t{1} << 20);
  ASSERT_LT(bound, 8 * m * m * n * T);
  ASSERT_TRUE(testing_support::takesDecorrelationBlocks(model));
  orrim::resetCounters();
  const std::vector<double> smoothed = callStateSmoother(model);
  const uint64_t knownStartPeak = orrim::counters().peakBytes;
  EXPECT_LE(knownStartPeak, bound);
  EXPECT_LT(largestDifference(textbookSmoother(model), smoothed), 1e-9);

  // Every state diffuse: the phase takes a few periods (three here), and
  // what they keep grows with it, O(m^2) a period (room for four), on top of
  // blocks of its own.
  SmootherTestModel diffuse = model;
  std::fill(diffuse.P0.begin(), diffuse.P0.end(), 0.0);
  for (uint64_t i = 0; i < m; ++i) diffuse.P0[i + i * m] = std::numeric_limits<double>::infinity();
  orrim::resetCounters();
  const orrim::CallResult result = callChecked(statesmootherModule(), handles(smootherInputs(diffuse)));
  ASSERT_FALSE(result.failed) << result.message;
  EXPECT_LE(orrim::counters().peakBytes, knownStartPeak + 8 * (4 * (m * m + n * m + n) + m * m + 10 * m));
}

// Means and covariances: the Rauch-Tung-Striebel recursion checks the
// information matrix carried back observation by observation.
TEST(StatesmootherReference, PagedTransitionAgreesWithTheTextbookSmoother) {
  RandomSource random(2024);
  const SmootherTestModel model = textbookModel(random, 12, 3, 2, false);
  EXPECT_LT(largestDifference(textbookSmoother(model), callStateSmoother(model)), 1e-12);
  for (uint64_t trial = 0; trial < 40; ++trial) {
    const uint64_t m = trial < 30 ? 1 + random.below(4) : 8 + random.below(12);
    const SmootherTestModel varied =
        textbookModel(random, 1 + random.below(10), 1 + random.below(4), m, random.chance(0.5));
    std::vector<double> covariances;
    const std::vector<double> means = textbookSmoother(varied, &covariances);
    EXPECT_LT(largestDifference(means, callStateSmoother(varied)), 1e-9) << "trial " << trial;
    const SmootherOutputs outputs = callStateSmootherWithCovariances(varied);
    EXPECT_LT(largestDifference(covariances, outputs.covariances), 1e-9) << "trial " << trial;
  }
}

TEST(StatesmootherProperties, PassingEveryObservationOverGivesTheMeanPath) {
  for (uint64_t seed = 0; seed < 40; ++seed) {
    RandomSource random(1000 + seed);
    SmootherTestModel model = randomSmootherModel(random, RandomShape{});
    model.tol = 0.0;
    SmootherTestModel unseen = model;
    std::fill(unseen.Y.begin(), unseen.Y.end(), missing);
    EXPECT_TRUE(bitIdentical(meanPathResult(model), callStateSmoother(unseen))) << "seed " << seed;
    SmootherTestModel cutOff = model;
    cutOff.tol = infinity;
    EXPECT_TRUE(bitIdentical(meanPathResult(model), callStateSmoother(cutOff))) << "seed " << seed;
    SmootherTestModel unobserved = model;
    unobserved.n = 0;
    unobserved.Y.clear();
    unobserved.C.clear();
    unobserved.D.clear();
    unobserved.observationIntercept.clear();
    EXPECT_TRUE(bitIdentical(meanPathResult(model), callStateSmoother(unobserved))) << "seed " << seed;
  }
}

TEST(StatesmootherProperties, EmptyInterceptsAreZeros) {
  for (uint64_t seed = 0; seed < 40; ++seed) {
    RandomSource random(2000 + seed);
    SmootherTestModel empty = randomSmootherModel(random, RandomShape{});
    empty.stateIntercept.clear();
    empty.observationIntercept.clear();
    SmootherTestModel zeros = empty;
    zeros.stateIntercept.assign(empty.m * empty.T, 0.0);
    zeros.observationIntercept.assign(empty.n * empty.T, 0.0);
    EXPECT_TRUE(bitIdentical(callStateSmoother(zeros), callStateSmoother(empty))) << "seed " << seed;
  }
}

TEST(StatesmootherProperties, EqualPagesAreTheConstantMatrix) {
  for (uint64_t seed = 0; seed < 40; ++seed) {
    RandomSource random(3000 + seed);
    SmootherTestModel constant = randomSmootherModel(random, RandomShape{});
    constant.pagedA = constant.pagedB = constant.pagedC = constant.pagedD = false;
    constant.A.resize(constant.m * constant.m);
    constant.B.resize(constant.m * constant.k);
    constant.C.resize(constant.n * constant.m);
    constant.D.resize(constant.n * constant.h);
    const std::vector<double> expected = callStateSmoother(constant);
    for (int which = 0; which < 5; ++which) {
      SmootherTestModel paged = constant;
      if (which == 0 || which == 4) paged.pagedA = true, paged.A = repeated(constant.A, constant.T);
      if (which == 1 || which == 4) paged.pagedB = true, paged.B = repeated(constant.B, constant.T);
      if (which == 2 || which == 4) paged.pagedC = true, paged.C = repeated(constant.C, constant.T);
      if (which == 3 || which == 4) paged.pagedD = true, paged.D = repeated(constant.D, constant.T);
      EXPECT_TRUE(bitIdentical(expected, callStateSmoother(paged))) << "seed " << seed << ", case " << which;
    }
  }
}

// The same numbers in another form give the bits of the exact form: a shape
// of one row or one column the other way round, trailing dimensions of one,
// and pages past the T-th, which are not read.
TEST(StatesmootherProperties, BenignFormsGiveTheBitsOfTheExactForms) {
  RandomSource random(4000);
  const auto modelWhere = [&](auto wanted) {
    SmootherTestModel model;
    do model = randomSmootherModel(random, RandomShape{});
    while (!wanted(model) || model.pagedA || model.pagedB || model.stateIntercept.empty() ||
           model.observationIntercept.empty());
    return model;
  };
  const SmootherTestModel models[] = {
      modelWhere([](const SmootherTestModel &model) { return model.T >= 2 && model.m >= 2 && model.k >= 2; }),
      modelWhere([](const SmootherTestModel &model) {
        return model.T >= 2 && model.m == 1 && model.n == 1 && model.k >= 2 && model.h >= 2;
      }),
  };
  for (const SmootherTestModel &model : models) {
    const uint64_t T = model.T, n = model.n, m = model.m, k = model.k, h = model.h;
    const std::vector<double> expected = callStateSmoother(model);
    ASSERT_EQ(expected.size(), T * m);
    std::vector<double> pagesAndMore = repeated(model.A, T);
    pagesAndMore.resize(m * m * (T + 2), missing);
    struct Form {
      size_t position;  // 1-based
      std::vector<uint64_t> dimensions;
      const std::vector<double> &values;
      bool applies;
    };
    const Form forms[] = {
        {2, {m, m, 1, 1}, model.A, true},
        {2, {m, m, T + 2}, pagesAndMore, true},
        {3, {m, k, 1}, model.B, true},
        {3, {k, 1}, model.B, m == 1},
        {4, {m, 1}, model.C, n == 1 && !model.pagedC},
        {5, {h, 1}, model.D, n == 1 && !model.pagedD},
        {6, {m, m, 1}, model.P0, true},
        {8, {1, m}, model.x0, true},
        {9, {m, T, 1}, model.stateIntercept, true},
        {9, {T, 1}, model.stateIntercept, m == 1},
        {10, {T, 1}, model.observationIntercept, n == 1},
    };
    for (const Form &form : forms) {
      if (!form.applies) continue;
      std::vector<orrim::ArrayPtr> inputs = smootherInputs(model);
      inputs[form.position - 1] = realArray(form.dimensions, form.values);
      EXPECT_TRUE(bitIdentical(expected, callStateSmoother(inputs, T, m)))
          << "input " << form.position << ", m = " << m << ", n = " << n;
    }
  }
}
