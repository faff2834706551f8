// Host arrays: creation and destruction on the host side, and the read
// operations that modules call.
#include "host_internal.h"
#include "orrim_host.hpp"

#include <cmath>
#include <new>

namespace orrim {
namespace {

bool multiplyFits(uint64_t a, uint64_t b, uint64_t *product) { return !__builtin_mul_overflow(a, b, product); }

std::vector<uint64_t> normalisedDimensions(const std::vector<uint64_t> &dimensions) {
  std::vector<uint64_t> result = dimensions;
  while (result.size() < 2) {
    result.push_back(1);
  }
  // Both the element count and the column count must be representable, so
  // that every size a module reads is exact.
  uint64_t columns = 1;
  for (size_t d = 1; d < result.size(); ++d) {
    if (!multiplyFits(columns, result[d], &columns)) {
      throw HostError("array dimensions overflow a 64-bit column count");
    }
  }
  uint64_t count = 0;
  if (!multiplyFits(result[0], columns, &count) || !multiplyFits(count, sizeof(double), &count)) {
    throw HostError("array dimensions overflow a 64-bit byte count");
  }
  return result;
}

uint64_t countOf(const std::vector<uint64_t> &dimensions) {
  uint64_t count = 1;
  for (uint64_t d : dimensions) {
    count *= d;
  }
  return count;
}

OrrimArray *newArray(bool isCell, const std::vector<uint64_t> &dimensions) {
  auto *array = new OrrimArray;
  array->isCell = isCell;
  array->dimensions = dimensions;
  array->elementCount = countOf(dimensions);
  array->columnCount = countOf(std::vector<uint64_t>(dimensions.begin() + 1, dimensions.end()));
  detail::countArrayCreated();
  return array;
}

// Zero-filled storage; a unique non-null block even for no elements, so that
// any read of an empty array is an out-of-bounds read the tools can see.
double *newStorage(uint64_t count) {
  auto *data = new (std::nothrow) double[count]();
  if (data == nullptr) {
    throw std::bad_alloc();
  }
  return data;
}

}  // namespace

void ArrayDeleter::operator()(OrrimArray *array) const noexcept { detail::destroyArray(array); }

ArrayPtr createReal(const std::vector<uint64_t> &dimensions) {
  const std::vector<uint64_t> dims = normalisedDimensions(dimensions);
  double *data = newStorage(countOf(dims));
  OrrimArray *array = newArray(false, dims);
  array->data = data;
  array->ownsData = true;
  return ArrayPtr(array);
}

ArrayPtr createReal(const std::vector<uint64_t> &dimensions, const std::vector<double> &values) {
  ArrayPtr array = createReal(dimensions);
  if (values.size() != array->elementCount) {
    throw HostError("createReal: " + std::to_string(values.size()) + " values for " +
                    std::to_string(array->elementCount) + " elements");
  }
  std::copy(values.begin(), values.end(), array->data);
  return array;
}

ArrayPtr wrapReal(const std::vector<uint64_t> &dimensions, const double *data) {
  const std::vector<uint64_t> dims = normalisedDimensions(dimensions);
  if (data == nullptr) {
    throw HostError("wrapReal: no data");
  }
  OrrimArray *array = newArray(false, dims);
  array->data = const_cast<double *>(data);  // inputs are only ever read
  array->ownsData = false;
  return ArrayPtr(array);
}

ArrayPtr createCell(const std::vector<uint64_t> &dimensions) {
  const std::vector<uint64_t> dims = normalisedDimensions(dimensions);
  OrrimArray *array = newArray(true, dims);
  array->elements.assign(array->elementCount, nullptr);
  return ArrayPtr(array);
}

void setCellElement(OrrimArray *cell, uint64_t index, ArrayPtr element) {
  if (cell == nullptr || !cell->isCell) {
    throw HostError("setCellElement: not a cell array");
  }
  if (index >= cell->elementCount) {
    throw HostError("setCellElement: index " + std::to_string(index) + " past the end");
  }
  detail::destroyArray(cell->elements[index]);
  cell->elements[index] = element.release();
}

ArrayPtr createEmpty() { return createReal({0, 0}); }

std::vector<uint64_t> dimensions(const OrrimArray *array) { return array->dimensions; }

uint64_t elementCount(const OrrimArray *array) { return array->elementCount; }

namespace detail {

void destroyArray(OrrimArray *array) {
  if (array == nullptr) {
    return;
  }
  for (OrrimArray *element : array->elements) {
    destroyArray(element);
  }
  if (array->ownsData) {
    delete[] array->data;
  }
  delete array;
  countArrayDestroyed();
}

}  // namespace detail
}  // namespace orrim

using orrim::detail::raiseModuleError;

extern "C" {

uint64_t orrimRows(const OrrimArray *array) { return array->dimensions[0]; }

uint64_t orrimColumns(const OrrimArray *array) { return array->columnCount; }

uint64_t orrimDimensionCount(const OrrimArray *array) { return array->dimensions.size(); }

double *orrimRealData(const OrrimArray *array) { return array->isCell ? nullptr : array->data; }

double orrimScalar(const OrrimArray *array) {
  return (array->isCell || array->elementCount == 0) ? 0.0 : array->data[0];
}

bool orrimIsEmpty(const OrrimArray *array) { return array->elementCount == 0; }

bool orrimIsCell(const OrrimArray *array) { return array->isCell; }

const OrrimArray *orrimCellElement(const OrrimArray *cell, uint64_t index) {
  if (!cell->isCell || index >= cell->elementCount) {
    return nullptr;
  }
  return cell->elements[index];
}

bool orrimIsNaN(double value) { return std::isnan(value); }

OrrimArray *orrimCreateRealMatrix(uint64_t rows, uint64_t columns, OrrimComplexity complexity) {
  if (complexity != orrimReal) {
    raiseModuleError("orrim:ComplexNotSupported", "This host creates real matrices only.");
  }
  orrim::ArrayPtr array;
  try {
    array = orrim::createReal({rows, columns});
  } catch (const orrim::HostError &) {
    raiseModuleError("orrim:TooLarge", "The requested matrix has more elements than a 64-bit count holds.");
  } catch (const std::bad_alloc &) {
    raiseModuleError("orrim:OutOfMemory", "Out of memory creating a " + std::to_string(rows) + " x " +
                                              std::to_string(columns) + " matrix.");
  }
  if (orrim::detail::CallRecord *call = orrim::detail::currentCall()) {
    call->createdArrays.insert(array.get());
  }
  return array.release();
}

}  // extern "C"
