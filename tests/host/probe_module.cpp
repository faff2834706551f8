// A module for testing the host: inputs[0] names a scenario, the other inputs
// are its arguments.
#include "orrim.h"

#include <stdexcept>

namespace {

enum Scenario {
  forgetABlock = 1,
  failAfterTakingEverything = 2,
  growABlock = 3,
  allocateBytes = 4,
  describeArray = 5,
  createAnOrphan = 6,
  throwAnException = 7,
  readCellElements = 8,
  reuseLargeBlocks = 9,
  holdManyBlocksAndArrays = 10,
  holdTheCallOpen = 11,
};

OrrimArray *rowOf(const double *values, uint64_t count) {
  OrrimArray *row = orrimCreateRealMatrix(1, count, orrimReal);
  double *data = orrimRealData(row);
  for (uint64_t i = 0; i < count; ++i) data[i] = values[i];
  return row;
}

}  // namespace

extern "C" void orrimGateway(int32_t, OrrimArray *outputs[], int32_t inputCount, const OrrimArray *inputs[]) {
  if (inputCount < 1) orrimRaiseError("probe:NoScenario", "No scenario.");
  switch (static_cast<int>(orrimScalar(inputs[0]))) {
    case forgetABlock: {
      void *kept = orrimAlloc(16);
      orrimFree(orrimAlloc(0));
      orrimFree(orrimAlloc(32));
      (void)kept;
      outputs[0] = orrimCreateRealMatrix(0, 0, orrimReal);
      return;
    }
    case failAfterTakingEverything: {
      outputs[0] = orrimCreateRealMatrix(3, 3, orrimReal);
      orrimAlloc(64);
      orrimRealloc(orrimAlloc(8), 128);
      orrimRaiseError("probe:Failed", "Failed on purpose.");
    }
    case growABlock: {
      auto *values = static_cast<double *>(orrimAlloc(2 * sizeof(double)));
      values[0] = 1.5;
      values[1] = 2.5;
      values = static_cast<double *>(orrimRealloc(values, 1000 * sizeof(double)));
      values[999] = 3.5;
      const double kept[3] = {values[0], values[1], values[999]};
      outputs[0] = rowOf(kept, 3);
      orrimFree(values);
      return;
    }
    case allocateBytes: {
      void *block = orrimAlloc(static_cast<uint64_t>(orrimScalar(inputs[1])));
      orrimFree(block);
      outputs[0] = orrimCreateRealMatrix(1, 1, orrimReal);
      return;
    }
    case describeArray: {
      // Then each of its dimensions.
      const OrrimArray *array = inputs[1];
      double facts[16] = {static_cast<double>(orrimRows(array)), static_cast<double>(orrimColumns(array)),
                          static_cast<double>(orrimDimensionCount(array)), orrimIsEmpty(array) ? 1.0 : 0.0,
                          orrimIsCell(array) ? 1.0 : 0.0, orrimScalar(array)};
      const uint64_t count = orrimDimensionCount(array) < 10 ? orrimDimensionCount(array) : 10;
      for (uint64_t d = 0; d < count; ++d) facts[6 + d] = static_cast<double>(orrimDimensions(array)[d]);
      outputs[0] = rowOf(facts, 6 + count);
      return;
    }
    case createAnOrphan:
      orrimCreateRealMatrix(2, 2, orrimReal);
      outputs[0] = orrimCreateRealMatrix(1, 1, orrimReal);
      return;
    case throwAnException:
      orrimAlloc(8);
      throw std::runtime_error("a C++ exception");
    case readCellElements: {
      // For each index 0..count: 1 + first value when set, 0 when null.
      const uint64_t count = static_cast<uint64_t>(orrimScalar(inputs[2]));
      double *found = static_cast<double *>(orrimAlloc(count * sizeof(double)));
      for (uint64_t i = 0; i < count; ++i) {
        const OrrimArray *element = orrimCellElement(inputs[1], i);
        found[i] = element == nullptr ? 0.0 : 1.0 + orrimScalar(element);
      }
      outputs[0] = rowOf(found, count);
      orrimFree(found);
      return;
    }
    case reuseLargeBlocks: {
      // A large block freed and asked for again, then grown within and past
      // what it holds: the leading values must survive every step.
      const uint64_t count = 40000;
      orrimFree(orrimAlloc(count * sizeof(double)));
      auto *values = static_cast<double *>(orrimAlloc(count / 2 * sizeof(double)));
      for (uint64_t i = 0; i < count / 2; ++i) values[i] = static_cast<double>(i);
      values = static_cast<double *>(orrimRealloc(values, (count - 1) * sizeof(double)));
      values = static_cast<double *>(orrimRealloc(values, 4 * count * sizeof(double)));
      double mismatches = 0.0;
      for (uint64_t i = 0; i < count / 2; ++i) mismatches += values[i] == static_cast<double>(i) ? 0.0 : 1.0;
      outputs[0] = rowOf(&mismatches, 1);
      orrimFree(values);
      return;
    }
    case holdManyBlocksAndArrays: {
      // More than a call's record holds inline: 100 blocks, every other one
      // freed and the rest forgotten, and 5 matrices, one of them stored.
      void *blocks[100];
      for (void *&block : blocks) block = orrimAlloc(8);
      for (int b = 0; b < 100; b += 2) orrimFree(blocks[b]);
      for (int m = 0; m < 4; ++m) orrimCreateRealMatrix(1, 1, orrimReal);
      outputs[0] = orrimCreateRealMatrix(2, 1, orrimReal);
      return;
    }
    case holdTheCallOpen: {
      // A call in progress for as long as the caller wants one: it holds a
      // matrix and a block until the first value of inputs[1] turns nonzero.
      outputs[0] = orrimCreateRealMatrix(1, 1, orrimReal);
      orrimAlloc(64);
      const double *release = orrimRealData(inputs[1]);
      double value = 0.0;
      do {
        __atomic_load(release, &value, __ATOMIC_ACQUIRE);
      } while (value == 0.0);
      return;
    }
    default:
      orrimRaiseError("probe:UnknownScenario", "Unknown scenario.");
  }
}
