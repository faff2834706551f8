// The stages run without a host on the worked model: T = 2, n = m = k = h = 1,
// A = B = C = D = 1, P0 = 1, tol = 0, x0 = 0, no intercepts.
#include "backward_pass.h"
#include "forward_pass.h"
#include "host_testing.h"
#include "mean_path.h"
#include "smoothed_output.h"
#include "smoother_workspace.h"

#include <cmath>
#include <limits>
#include <vector>

namespace {

const double missing = std::numeric_limits<double>::quiet_NaN();

// The blocks of smootherBlocks over vectors, filled with NaN so that reading
// an element no stage wrote shows up in the results.
struct VectorWorkspace {
  std::vector<std::vector<double>> storage;
  SmootherWorkspace workspace{};
  VectorWorkspace(uint64_t T, uint64_t n, uint64_t m) {
    const BlockCounts counts = modelBlockCounts(T, n, m, [](uint64_t a, uint64_t b, const char *) { return a * b; });
    for (const WorkingBlock &block : smootherBlocks) {
      storage.emplace_back(counts[block.size], missing);
      blockPointer(&workspace, block) = storage.back().data();
    }
  }
};

const double one[1] = {1.0};

// A 1 x 1 matrix for every period.
PeriodInput constantInput(const double *value) {
  PeriodInput input;
  input.data = value;
  input.rows = input.columns = 1;
  return input;
}

void setUnitModel(StateSpaceModel &model) {
  model.T = 2;
  model.n = model.m = model.k = model.h = 1;
  model.A = model.B = model.C = model.D = constantInput(one);
  model.tol = 0.0;
}

// Runs every stage up to the backward pass on observations y0, y1.
void runThroughForwardPass(VectorWorkspace &vectors, double y0, double y1) {
  setUnitModel(vectors.workspace.model);
  const double Y[2] = {y0, y1};
  const double P0[1] = {1.0};
  const double x0[1] = {0.0};
  initialiseSmootherWorkspace(vectors.workspace, Y, P0);
  computeMeanPath(vectors.workspace, x0, nullptr, nullptr);
  runForwardPass(vectors.workspace, isIeeeNaN);
}

std::vector<void *> released;
void recordRelease(void *block) { released.push_back(block); }

}  // namespace

TEST(SmootherStages, WorkedForwardPassRecords) {
  VectorWorkspace vectors(2, 1, 1);
  runThroughForwardPass(vectors, 1.0, 2.0);
  const SmootherWorkspace &w = vectors.workspace;
  EXPECT_EQ(w.predictedStates[0], 0.0);
  EXPECT_EQ(w.predictedCovariances[0], 2.0);
  EXPECT_DOUBLE_EQ(w.predictedStates[1], 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(w.predictedCovariances[1], 5.0 / 3.0);
  // K and (1/F)*v, from which the way back forms L = 1 - K and the score.
  EXPECT_DOUBLE_EQ(w.observationGains[0], 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(w.scaledInnovations[0], 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(w.observationGains[1], 5.0 / 8.0);
  EXPECT_DOUBLE_EQ(w.scaledInnovations[1], 0.5);
  EXPECT_EQ(w.skipFlags[0], 0.0);
  EXPECT_EQ(w.skipFlags[1], 0.0);
}

TEST(SmootherStages, MissingFirstObservationKeepsTheTransition) {
  VectorWorkspace vectors(2, 1, 1);
  runThroughForwardPass(vectors, missing, 2.0);
  const SmootherWorkspace &w = vectors.workspace;
  EXPECT_EQ(w.skipFlags[0], 1.0);
  EXPECT_EQ(w.predictedStates[1], 0.0);
  EXPECT_EQ(w.predictedCovariances[1], 3.0);
}

TEST(SmootherStages, BackwardPassAndOutputGiveTheWorkedResult) {
  for (const double y0 : {1.0, missing}) {
    VectorWorkspace vectors(2, 1, 1);
    runThroughForwardPass(vectors, y0, 2.0);
    runBackwardPass(vectors.workspace, isIeeeNaN);
    const std::vector<void *> storage{blockPointer(&vectors.workspace, smootherBlocks[0])};
    released.clear();
    double out[2] = {missing, missing};
    writeSmoothedOutput(vectors.workspace, out, recordRelease);
    EXPECT_EQ(out[0], 1.0) << "y0 = " << y0;
    EXPECT_EQ(out[1], 1.5) << "y0 = " << y0;
    EXPECT_EQ(released, storage) << "the table's storage, which starts at its first block, released once";
    for (const WorkingBlock &block : smootherBlocks) EXPECT_EQ(blockPointer(&vectors.workspace, block), nullptr);
  }
}

TEST(SmootherStages, MeanPathWorkedExample) {
  // A = 0.5, C = 1, x0 = 2, stateIntercept (1, 1): both paths are (2, 2), exactly.
  VectorWorkspace vectors(2, 1, 1);
  setUnitModel(vectors.workspace.model);
  const double half[1] = {0.5};
  vectors.workspace.model.A = constantInput(half);
  const double Y[2] = {missing, missing};
  const double P0[1] = {1.0};
  const double x0[1] = {2.0};
  const double intercept[2] = {1.0, 1.0};
  initialiseSmootherWorkspace(vectors.workspace, Y, P0);
  computeMeanPath(vectors.workspace, x0, intercept, nullptr);
  EXPECT_TRUE(testing_support::bitIdentical({2.0, 2.0}, vectors.storage[0]));
  EXPECT_TRUE(testing_support::bitIdentical({2.0, 2.0}, vectors.storage[21]));
}
