// The shared steps on their own: the worked cases with exact values, and the
// guards inside the arithmetic.
#include "measurement_update.h"
#include "model_preparation.h"
#include "time_update.h"

#include "step_buffers.h"

#include <gtest/gtest.h>

#include <cmath>
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
