// The reference host as modules use it: arrays, tracked memory, errors and
// loading, checked through its counters.
#include "host_testing.h"

#include <cmath>

using namespace testing_support;

namespace {

const orrim::Module &probe() {
  static const orrim::Module module = orrim::Module::load(HOST_PROBE_MODULE);
  return module;
}

orrim::CallResult runScenario(double scenario, std::vector<orrim::ArrayPtr> arguments = {}) {
  arguments.insert(arguments.begin(), scalar(scenario));
  return probe().call(1, handles(arguments));
}

}  // namespace

TEST(HostMemory, BlocksAModuleForgetsAreReclaimedAndCounted) {
  struct Case {
    double scenario;
    uint64_t allocations, reclaimed;
  };
  // A few blocks, and more blocks and arrays than a call's record holds inline.
  for (const Case &test : {Case{1, 3, 1}, Case{10, 100, 50}}) {
    const orrim::Counters before = orrim::counters();
    orrim::CallResult result = runScenario(test.scenario);
    const orrim::Counters after = orrim::counters();
    ASSERT_FALSE(result.failed) << result.message;
    EXPECT_EQ(after.allocations - before.allocations, test.allocations);
    EXPECT_EQ(after.blocksReclaimed - before.blocksReclaimed, test.reclaimed);
    EXPECT_EQ(after.blocksLive, before.blocksLive);
    EXPECT_EQ(after.bytesLive, before.bytesLive);
    EXPECT_EQ(after.arraysLive, before.arraysLive + 1);  // the output only
  }
}

TEST(HostMemory, AnErrorReleasesEveryBlockAndArrayOfTheCall) {
  const orrim::Counters before = orrim::counters();
  orrim::CallResult result = runScenario(2);
  const orrim::Counters after = orrim::counters();
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.identifier, "probe:Failed");
  EXPECT_EQ(result.message, "Failed on purpose.");
  EXPECT_TRUE(result.outputs.empty());
  EXPECT_EQ(after.blocksLive, before.blocksLive);
  EXPECT_EQ(after.bytesLive, before.bytesLive);
  EXPECT_EQ(after.arraysLive, before.arraysLive + 0);
  EXPECT_EQ(after.blocksReclaimed - before.blocksReclaimed, 2u);
  EXPECT_EQ(after.reallocations - before.reallocations, 1u);
}

TEST(HostMemory, ReallocKeepsLeadingContentsAndPeakFollowsTheGrowth) {
  orrim::resetCounters();
  orrim::CallResult result = callChecked(probe(), handles([] {
                                           std::vector<orrim::ArrayPtr> a;
                                           a.push_back(scalar(3));
                                           return a;
                                         }()));
  ASSERT_FALSE(result.failed) << result.message;
  EXPECT_EQ(valuesOf(result.outputs[0].get()), (std::vector<double>{1.5, 2.5, 3.5}));
  EXPECT_GE(orrim::counters().peakBytes, 8000u);
}

TEST(HostMemory, LargeBlocksKeptBetweenCallsKeepTheirContentsWhenGrown) {
  for (int call = 0; call < 3; ++call) {  // the later calls meet the blocks the first one freed
    orrim::CallResult result = callChecked(probe(), handles([] {
                                             std::vector<orrim::ArrayPtr> a;
                                             a.push_back(scalar(9));
                                             return a;
                                           }()));
    ASSERT_FALSE(result.failed) << result.message;
    EXPECT_EQ(valuesOf(result.outputs[0].get()), std::vector<double>{0.0});
  }
}

TEST(HostMemory, ExhaustedMemoryEndsTheCallWithAnError) {
  orrim::setMemoryLimit(1 << 20);
  std::vector<orrim::ArrayPtr> arguments;
  arguments.push_back(scalar(1 << 21));
  orrim::CallResult limited = runScenario(4, std::move(arguments));
  orrim::setMemoryLimit(0);
  EXPECT_TRUE(limited.failed);
  EXPECT_EQ(limited.identifier, "orrim:OutOfMemory");

  // A request no machine can meet fails the same way instead of returning null.
  std::vector<orrim::ArrayPtr> huge;
  huge.push_back(scalar(std::ldexp(1.0, 62)));
  orrim::CallResult impossible = runScenario(4, std::move(huge));
  EXPECT_TRUE(impossible.failed);
  EXPECT_EQ(impossible.identifier, "orrim:OutOfMemory");
  EXPECT_EQ(orrim::counters().blocksLive, 0u);
}

TEST(HostMemory, BlocksStartOnACacheLine) {
  const orrim::Counters before = orrim::counters();
  for (uint64_t bytes : {0u, 1u, 8u, 400u, 20000u, 3u << 20}) {
    void *block = orrimAlloc(bytes);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u) << bytes << " bytes";
    block = orrimRealloc(block, bytes * 3 + 72);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u) << bytes << " bytes, grown";
    orrimFree(block);
  }
  EXPECT_EQ(orrim::counters().blocksLive, before.blocksLive);
}

TEST(HostArrays, SizesOfArraysOfEveryShape) {
  struct Case {
    std::vector<uint64_t> dimensions;
    std::vector<double> expected;  // rows, columns, dimension count, empty, cell, scalar, each dimension
  };
  const Case cases[] = {
      {{2, 3, 4}, {2, 12, 3, 0, 0, 0, 2, 3, 4}},
      {{5}, {5, 1, 2, 0, 0, 0, 5, 1}},
      {{0, 3}, {0, 3, 2, 1, 0, 0, 0, 3}},
      {{2, 1, 1, 3}, {2, 3, 4, 0, 0, 0, 2, 1, 1, 3}},
      {{3, 0, 7}, {3, 0, 3, 1, 0, 0, 3, 0, 7}},
  };
  for (const Case &test : cases) {
    std::vector<orrim::ArrayPtr> arguments;
    arguments.push_back(orrim::createReal(test.dimensions));
    orrim::CallResult result = runScenario(5, std::move(arguments));
    ASSERT_FALSE(result.failed);
    EXPECT_EQ(valuesOf(result.outputs[0].get()), test.expected);
  }
  std::vector<orrim::ArrayPtr> cell;
  cell.push_back(orrim::createCell({2, 2}));
  orrim::CallResult result = runScenario(5, std::move(cell));
  EXPECT_EQ(valuesOf(result.outputs[0].get()), (std::vector<double>{2, 2, 2, 0, 1, 0, 2, 2}));
}

TEST(HostArrays, CellElementsByLinearIndexWithUnsetAndOutOfRangeAsNull) {
  orrim::ArrayPtr cell = orrim::createCell({1, 3});
  orrim::setCellElement(cell.get(), 0, scalar(10));
  orrim::setCellElement(cell.get(), 2, scalar(30));
  std::vector<orrim::ArrayPtr> arguments;
  arguments.push_back(std::move(cell));
  arguments.push_back(scalar(4));
  orrim::CallResult result = runScenario(8, std::move(arguments));
  ASSERT_FALSE(result.failed) << result.message;
  EXPECT_EQ(valuesOf(result.outputs[0].get()), (std::vector<double>{11, 0, 31, 0}));
}

TEST(HostArrays, DimensionsThatOverflowAreRefused) {
  EXPECT_THROW(orrim::createReal({0, uint64_t{1} << 40, uint64_t{1} << 40}), orrim::HostError);
  EXPECT_THROW(orrim::createReal({uint64_t{1} << 62, 2}), orrim::HostError);
  EXPECT_THROW(orrim::createReal({2, 2}, {1, 2, 3}), orrim::HostError);
}

TEST(HostCalls, UnstoredArraysAndForeignExceptionsLeaveNothing) {
  const orrim::Counters before = orrim::counters();
  orrim::CallResult orphan = runScenario(6);
  EXPECT_FALSE(orphan.failed);
  EXPECT_EQ(orrim::counters().arraysLive, before.arraysLive + 1);  // the output only
  orphan.outputs.clear();

  orrim::CallResult thrown = runScenario(7);
  EXPECT_TRUE(thrown.failed);
  EXPECT_EQ(thrown.identifier, "orrim:ModuleFailure");
  EXPECT_EQ(orrim::counters().blocksLive, before.blocksLive);
  EXPECT_EQ(orrim::counters().arraysLive, before.arraysLive);
}

TEST(HostCalls, OutputCountsOutsideTheBoundAreRefusedBeforeTheModuleRuns) {
  std::vector<orrim::ArrayPtr> arguments;
  arguments.push_back(scalar(6));  // would leave an output and an orphan array
  const orrim::Counters before = orrim::counters();
  for (int32_t count : {-1, orrim::maxOutputCount + 1, INT32_MAX}) {
    EXPECT_THROW(probe().call(count, handles(arguments)), orrim::HostError) << count;
  }
  EXPECT_EQ(orrim::counters().arraysLive, before.arraysLive);
  EXPECT_EQ(probe().call(orrim::maxOutputCount, handles(arguments)).outputs.size(),
            static_cast<size_t>(orrim::maxOutputCount));
}

TEST(HostCalls, LoadingFailuresAreHostErrors) {
  EXPECT_THROW(orrim::Module::load("/nonexistent/module.so"), orrim::HostError);
  EXPECT_THROW(orrim::Module::load("libm.so.6"), orrim::HostError);  // a library without orrimGateway
}
