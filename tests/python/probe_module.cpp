// A module for the Python tests: it reports what the host handed it, so the
// tests can see the arrays that the Python front built. Output row p describes
// input p: rows, columns, dimension count, whether it is a cell array, the
// address of its data (0 for a cell), and a checksum that depends on the order
// of the elements.
#include "orrim.h"

#include <cstdint>

namespace {

constexpr uint64_t reportColumns = 6;

// Weights every element by its 1-based storage position, so a transposed or
// reordered array gives a different sum; a cell weights its elements' sums.
double orderedChecksum(const OrrimArray *array) {
  if (array == nullptr || orrimIsEmpty(array)) {
    return 0.0;
  }
  const uint64_t count = orrimRows(array) * orrimColumns(array);
  double sum = 0.0;
  if (orrimIsCell(array)) {
    for (uint64_t index = 0; index < count; ++index) {
      sum += static_cast<double>(index + 1) * orderedChecksum(orrimCellElement(array, index));
    }
    return sum;
  }
  const double *data = orrimRealData(array);
  for (uint64_t index = 0; index < count; ++index) {
    sum += static_cast<double>(index + 1) * data[index];
  }
  return sum;
}

}  // namespace

extern "C" void orrimGateway(int32_t /*outputCount*/, OrrimArray *outputs[], int32_t inputCount,
                             const OrrimArray *inputs[]) {
  const auto count = static_cast<uint64_t>(inputCount);
  outputs[0] = orrimCreateRealMatrix(count, reportColumns, orrimReal);
  double *report = orrimRealData(outputs[0]);
  for (uint64_t p = 0; p < count; ++p) {
    const OrrimArray *input = inputs[p];
    const bool cell = orrimIsCell(input);
    const double values[reportColumns] = {
        static_cast<double>(orrimRows(input)),
        static_cast<double>(orrimColumns(input)),
        static_cast<double>(orrimDimensionCount(input)),
        cell ? 1.0 : 0.0,
        cell ? 0.0 : static_cast<double>(reinterpret_cast<uintptr_t>(orrimRealData(input))),
        orderedChecksum(input),
    };
    for (uint64_t column = 0; column < reportColumns; ++column) {
      report[p + column * count] = values[column];
    }
  }
}
