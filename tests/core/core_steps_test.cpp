// The shared steps on their own: the worked cases with exact values, and the
// guards inside the arithmetic.
#include "correlated_noise.h"
#include "measurement_update.h"
#include "model_preparation.h"
#include "time_update.h"

#include "step_buffers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

using testing_support::StepBuffers;

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();

uint64_t bits(double value) {
  uint64_t result;
  std::memcpy(&result, &value, sizeof result);
  return result;
}

}  // namespace

TEST(ModelPreparation, TransposeAndNoiseForms) {
  const std::vector<double> C = {1, 2, 3, 4, 5, 6};  // 2 x 3, column-major
  std::vector<double> rows(6);
  transposeCopy(rows.data(), C.data(), 2, 3);
  EXPECT_EQ(rows, (std::vector<double>{1, 3, 5, 2, 4, 6}));

  const std::vector<double> B = {1, 2, 3, 4};  // 2 x 2: rows (1, 3) and (2, 4)
  std::vector<double> BB(4, -1.0);
  prepareStateNoise(BB.data(), B.data(), 2, 2);
  EXPECT_EQ(BB, (std::vector<double>{10, 14, 14, 20}));
  prepareStateNoise(BB.data(), B.data(), 2, 0);  // no disturbance: all zeros
  EXPECT_EQ(BB, (std::vector<double>{0, 0, 0, 0}));

  std::vector<double> d(2, -1.0);
  prepareObservationNoise(d.data(), B.data(), 2, 2);
  EXPECT_EQ(d, (std::vector<double>{10, 20}));
  prepareObservationNoise(d.data(), B.data(), 2, 0);
  EXPECT_EQ(d, (std::vector<double>{0, 0}));
}

TEST(Prediction, WorkedCaseAndSymmetryFromAnAsymmetricStart) {
  StepBuffers step(1);
  step.rows = {0.5};
  step.noise = {1.0};
  step.x = {2.0};
  step.P = {4.0};
  predictState(step.state(), step.model(), step.scratch(), 1);
  EXPECT_EQ(step.x[0], 1.0);
  EXPECT_EQ(step.P[0], 2.0);

  StepBuffers two(2);
  const std::vector<double> A = {1, 3, 2, 4};  // rows (1, 2), (3, 4)
  prepareTransition(two.rows.data(), A.data(), 2);
  two.noise = {0, 0, 0, 0};
  two.P = {1, 0, 1, 1};  // column-major [[1, 1], [0, 1]]: not symmetric
  predictState(two.state(), two.model(), two.scratch(), 2);
  // A P A' with P read by columns: [[1,2],[3,4]] [[1,1],[0,1]] [[1,3],[2,4]] = [[7,17],[15,37]] lower mirrored.
  EXPECT_EQ(two.P, (std::vector<double>{7, 15, 15, 37}));
}

TEST(Prediction, TwoPeriodsWithoutObservationsChainThePredictions) {
  StepBuffers step(1);
  step.x = {3.0};
  step.P = {2.0};
  step.rows = {0.5};
  step.noise = {1.0};
  predictState(step.state(), step.model(), step.scratch(), 1);
  step.rows = {4.0};
  step.noise = {0.25};
  predictState(step.state(), step.model(), step.scratch(), 1);
  EXPECT_EQ(step.x[0], 4.0 * (0.5 * 3.0));
  EXPECT_EQ(step.P[0], 4.0 * (4.0 * (0.5 * (0.5 * 2.0) + 1.0)) + 0.25);
}

TEST(MeasurementUpdate, WorkedCaseWithTheLiteralConstant) {
  EXPECT_EQ(bits(logTwoPi), 0x3FFD67F1C864BEB2u);
  StepBuffers step(1);
  step.x = {1.0};
  step.P = {2.0};
  const double c = 1.0;
  double ell = 0.0;
  ASSERT_TRUE(updateWithObservation(3.0, &c, 1.0, 0.0, 1, step.state(), step.scratch(), isIeeeNaN, &ell));
  EXPECT_DOUBLE_EQ(step.x[0], 7.0 / 3.0);
  EXPECT_DOUBLE_EQ(step.P[0], 2.0 / 3.0);
  EXPECT_EQ(bits(ell), bits(-(0.5 * ((std::log(3.0) + 1.837877066409345) + 4.0 * (1.0 / 3.0)))));
}

TEST(MeasurementUpdate, PassedOverObservationsChangeNothing) {
  const double c = 1.0;
  struct Case {
    double y, d, tol;
  };
  // Missing; F = 3 exactly at tol; c all zero with d = 0 = tol.
  for (const Case test : {Case{notANumber, 1.0, 0.0}, Case{3.0, 1.0, 3.0}}) {
    StepBuffers step(1);
    step.x = {1.0};
    step.P = {2.0};
    double ell = 0.25;
    EXPECT_FALSE(updateWithObservation(test.y, &c, test.d, test.tol, 1, step.state(), step.scratch(), isIeeeNaN, &ell));
    EXPECT_EQ(step.x[0], 1.0);
    EXPECT_EQ(step.P[0], 2.0);
    EXPECT_EQ(ell, 0.25);
  }
  StepBuffers zeroRow(1);
  zeroRow.P = {2.0};
  const double zero = 0.0;
  double ell = 0.0;
  EXPECT_FALSE(updateWithObservation(1.0, &zero, 0.0, 0.0, 1, zeroRow.state(), zeroRow.scratch(), isIeeeNaN, &ell));
}

TEST(MeasurementUpdate, NanToleranceAndNanVarianceAreUsed) {
  const double c = 1.0;
  StepBuffers step(1);
  step.x = {1.0};
  step.P = {2.0};
  double ell = 0.0;
  EXPECT_TRUE(updateWithObservation(3.0, &c, 1.0, notANumber, 1, step.state(), step.scratch(), isIeeeNaN, &ell));
  StepBuffers poisoned(1);
  poisoned.P = {2.0};
  ell = 0.0;
  EXPECT_TRUE(updateWithObservation(3.0, &c, notANumber, 0.0, 1, poisoned.state(), poisoned.scratch(), isIeeeNaN, &ell));
  EXPECT_TRUE(std::isnan(ell));
  EXPECT_TRUE(std::isnan(poisoned.x[0]));
}

TEST(MeasurementUpdate, NonPositiveVarianceClearsItsRowAndColumn) {
  StepBuffers step(2);
  step.P = {1.0, 0.5, 0.5, 1.0};
  const double c[2] = {1.0, 0.0};
  double ell = 0.0;
  ASSERT_TRUE(updateWithObservation(1.0, c, 0.0, 0.0, 2, step.state(), step.scratch(), isIeeeNaN, &ell));
  EXPECT_EQ(step.w, (std::vector<double>{1.0, 0.5}));
  EXPECT_EQ(step.K, (std::vector<double>{1.0, 0.5}));
  EXPECT_EQ(step.P, (std::vector<double>{0.0, 0.0, 0.0, 0.75}));
}

TEST(MeasurementUpdate, NoStatesLeaveOnlyTheNoise) {
  StepBuffers step(0);
  double ell = 0.0;
  ASSERT_TRUE(updateWithObservation(2.0, nullptr, 4.0, 0.0, 0, step.state(), step.scratch(), isIeeeNaN, &ell));
  EXPECT_EQ(bits(ell), bits(-(0.5 * ((std::log(4.0) + logTwoPi) + (2.0 * 2.0) * (1.0 / 4.0)))));
}

namespace {

void *growWithRealloc(void *block, uint64_t bytes) { return std::realloc(block, bytes); }

// The same bits, or both NaN.
bool sameValue(double a, double b) { return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b)); }

// A period of two or three series and two states, C = [1 2; 3 4; 5 6] row by
// row (its first n rows), noise loadings D (n x h, column-major), y with NaN
// for a missing value.
struct DecorrelationCase {
  const char *what;
  uint64_t n, h;
  std::vector<double> D, y;
  bool transformed;
  std::vector<double> variances;  // Delta, exactly
  std::vector<double> series;     // the observed series taken
};

}  // namespace

// The factor's rules: a pivot within 1e-12 of the largest noise variance is
// zero (rounding leaves a shared shock's pivot slightly off zero), one above
// it is kept, a NaN loading spreads, a zero loading shares nothing even
// beside an infinite one, and H_O decides, not the pattern of D.
TEST(CorrelatedNoise, FactorTakesPivotsWithinRoundingAsZero) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<DecorrelationCase> cases = {
      {"one shock shared by two series", 2, 1, {0.1, 0.3}, {1.0, 2.0}, true, {0.1 * 0.1, 0.0}, {0, 1}},
      {"one shock shared by three series", 3, 1, {0.1, 0.3, 0.5}, {1.0, 2.0, 3.0}, true, {0.1 * 0.1, 0.0, 0.0},
       {0, 1, 2}},
      {"a pivot just above the rule", 2, 2, {1.0, 1.0, 0.0, 2e-6}, {1.0, 2.0}, true,
       {1.0, (1.0 + 2e-6 * 2e-6) - 1.0}, {0, 1}},
      {"a pivot just below it", 2, 2, {1.0, 1.0, 0.0, 5e-7}, {1.0, 2.0}, true, {1.0, 0.0}, {0, 1}},
      {"a NaN loading", 2, 2, {1.0, notANumber, 0.0, 1.0}, {1.0, 2.0}, true, {1.0, notANumber}, {0, 1}},
      {"rows that share innovations but not noise", 2, 2, {1.0, 1.0, 1.0, -1.0}, {1.0, 2.0}, false, {}, {}},
      {"a zero loading beside an infinite one", 2, 2, {inf, 0.0, 0.0, 1.0}, {1.0, 2.0}, false, {}, {}},
      {"the observed series only", 3, 2, {1.0, 0.0, 1.0, 0.0, 1.0, 1.0}, {1.0, notANumber, 2.0}, true,
       {1.0, 1.0}, {0, 2}},
  };
  const std::vector<double> rowsOfC = {1, 2, 3, 4, 5, 6};
  for (const DecorrelationCase &c : cases) {
    std::vector<double> noise(c.n);
    prepareObservationNoise(noise.data(), c.D.data(), c.n, c.h);
    PreparedModel period{};
    period.measurementRows = const_cast<double *>(rowsOfC.data());
    period.observationNoiseVar = noise.data();
    period.sharedNoiseLoadings = c.D.data();
    Decorrelation decorrelation{};
    decorrelation.grow = growWithRealloc;
    const PeriodSeries series{period, c.n, c.h, 2, c.y.data(), 1, nullptr, isIeeeNaN, false, false};
    const DecorrelatedSeries result = decorrelateSeries(series, decorrelation);
    EXPECT_EQ(result.transformed, c.transformed) << c.what;
    if (!result.transformed || !c.transformed) {
      releaseDecorrelation(decorrelation, std::free);
      continue;
    }
    ASSERT_EQ(result.count, c.variances.size()) << c.what;
    const bool finite = std::all_of(c.D.begin(), c.D.end(), [](double d) { return std::isfinite(d); });
    for (uint64_t i = 0; i < result.count; ++i) {
      // A zero pivot's column adds nothing to the series after it.
      EXPECT_TRUE(!finite || std::isfinite(decorrelation.observations[i])) << c.what << ", series " << i;
      EXPECT_TRUE(sameValue(result.period.observationNoiseVar[i], c.variances[i])) << c.what << ", pivot " << i;
      EXPECT_EQ(decorrelation.series[i], c.series[i]) << c.what;
    }
    // The first series is its own; the second less its regression on the
    // first, H_O(1, 0)/H_O(0, 0).
    const uint64_t first = static_cast<uint64_t>(c.series[0]);
    const uint64_t second = static_cast<uint64_t>(c.series[1]);
    double covariance = 0.0;
    for (uint64_t l = 0; l < c.h; ++l) covariance += c.D[first + l * c.n] * c.D[second + l * c.n];
    const double L = covariance / noise[first];
    EXPECT_TRUE(sameValue(decorrelation.observations[0], c.y[first])) << c.what;
    EXPECT_TRUE(sameValue(decorrelation.observations[1], c.y[second] - L * c.y[first])) << c.what;
    for (uint64_t s = 0; s < 2; ++s) {
      EXPECT_TRUE(sameValue(result.period.measurementRows[2 + s], rowsOfC[second * 2 + s] - L * rowsOfC[first * 2 + s]))
          << c.what << ", state " << s;
    }
    releaseDecorrelation(decorrelation, std::free);
  }
}
