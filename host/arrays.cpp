// Host arrays: creation and destruction on the host side, and the read
// operations that modules call.
#include "host_internal.h"
#include "orrim_host.hpp"

#include <sys/mman.h>

#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <new>
#include <utility>

namespace orrim {
namespace {

bool multiplyFits(uint64_t a, uint64_t b, uint64_t *product) { return !__builtin_mul_overflow(a, b, product); }

// Taken and given back by value: an array's dimensions are made once and
// moved into it, not copied.
std::vector<uint64_t> normalisedDimensions(std::vector<uint64_t> result) {
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

uint64_t productOf(std::vector<uint64_t>::const_iterator first, std::vector<uint64_t>::const_iterator last) {
  uint64_t product = 1;
  for (; first != last; ++first) {
    product *= *first;
  }
  return product;
}

// An array of normalised dimensions with no storage yet and not counted:
// until it is counted and handed to its owner, dropping it releases it all.
std::unique_ptr<OrrimArray> shapedArray(bool isCell, std::vector<uint64_t> dimensions) {
  auto array = std::make_unique<OrrimArray>();
  array->isCell = isCell;
  array->elementCount = productOf(dimensions.begin(), dimensions.end());
  array->columnCount = productOf(dimensions.begin() + 1, dimensions.end());
  array->dimensions = std::move(dimensions);
  return array;
}

// Zero-filled storage of an array of 2 MiB or more: calloc takes it fresh
// from the system, already zero, without writing it, and it is backed by
// 2 MiB pages where the system has them, a page fault per 2 MiB instead of
// per 4 KiB. Such an array is the draws of a simulation smoother, say.
constexpr uint64_t hugePageBytes = uint64_t{2} << 20;

double *largeZeroFilledStorage(uint64_t count) {
  void *storage = std::calloc(count, sizeof(double));
  const uintptr_t start = reinterpret_cast<uintptr_t>(storage);
  const uintptr_t end = start + count * sizeof(double);
  const uintptr_t firstPage = (start + hugePageBytes - 1) / hugePageBytes * hugePageBytes;
  if (storage != nullptr && end >= firstPage + hugePageBytes) {
    madvise(reinterpret_cast<void *>(firstPage), (end - firstPage) / hugePageBytes * hugePageBytes, MADV_HUGEPAGE);
  }
  return static_cast<double *>(storage);
}

// Zero-filled storage; a unique non-null block even for no elements, so that
// any read of an empty array is an out-of-bounds read the tools can see. The
// storage is asked for without throwing: a sanitizer's allocator stops the
// process on an impossible size asked for by a throwing new.
std::unique_ptr<OrrimArray> zeroFilledReal(std::vector<uint64_t> dimensions) {
  std::unique_ptr<OrrimArray> array = shapedArray(false, std::move(dimensions));
  const uint64_t count = array->elementCount;
  if (count * sizeof(double) >= hugePageBytes) {
    array->ownedData = std::unique_ptr<double[], ArrayStorageRelease>(largeZeroFilledStorage(count),
                                                                      ArrayStorageRelease{true});
  } else {
    array->ownedData.reset(new (std::nothrow) double[count]());
  }
  if (array->ownedData == nullptr) {
    throw std::bad_alloc();
  }
  array->data = array->ownedData.get();
  return array;
}

ArrayPtr counted(std::unique_ptr<OrrimArray> array) {
  detail::countArrayCreated();
  return ArrayPtr(array.release());
}

}  // namespace

void ArrayDeleter::operator()(OrrimArray *array) const noexcept { detail::destroyArray(array); }

ArrayPtr createReal(std::vector<uint64_t> dimensions) {
  return counted(zeroFilledReal(normalisedDimensions(std::move(dimensions))));
}

ArrayPtr createReal(std::vector<uint64_t> dimensions, const std::vector<double> &values) {
  ArrayPtr array = createReal(std::move(dimensions));
  if (values.size() != array->elementCount) {
    throw HostError("createReal: " + std::to_string(values.size()) + " values for " +
                    std::to_string(array->elementCount) + " elements");
  }
  std::copy(values.begin(), values.end(), array->data);
  return array;
}

ArrayPtr wrapReal(std::vector<uint64_t> dimensions, const double *data) {
  if (data == nullptr) {
    throw HostError("wrapReal: no data");
  }
  std::unique_ptr<OrrimArray> array = shapedArray(false, normalisedDimensions(std::move(dimensions)));
  array->data = const_cast<double *>(data);  // inputs are only ever read
  return counted(std::move(array));
}

ArrayPtr createCell(std::vector<uint64_t> dimensions) {
  std::unique_ptr<OrrimArray> array = shapedArray(true, normalisedDimensions(std::move(dimensions)));
  array->elements.assign(array->elementCount, nullptr);
  return counted(std::move(array));
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

uint64_t deleteArrayTree(OrrimArray *array) {
  if (array == nullptr) {
    return 0;
  }
  uint64_t deleted = 1;
  for (OrrimArray *element : array->elements) {
    deleted += deleteArrayTree(element);
  }
  delete array;
  return deleted;
}

}  // namespace detail
}  // namespace orrim

using orrim::detail::raiseModuleError;

extern "C" {

uint64_t orrimRows(const OrrimArray *array) { return array->dimensions[0]; }

uint64_t orrimColumns(const OrrimArray *array) { return array->columnCount; }

uint64_t orrimDimensionCount(const OrrimArray *array) { return array->dimensions.size(); }

const uint64_t *orrimDimensions(const OrrimArray *array) { return array->dimensions.data(); }

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

namespace {

// A new zero-filled real array that belongs to the current call. Every
// failure ends the call: a size beyond 64 bits, or memory that runs out, in
// the array or in the call's record of it.
OrrimArray *createRealForModule(uint64_t dimensionCount, const uint64_t *dimensions, OrrimComplexity complexity) {
  if (complexity != orrimReal) {
    raiseModuleError("orrim:ComplexNotSupported", "This host creates real arrays only.");
  }
  uint64_t bytes = sizeof(double);
  for (uint64_t d = 0; d < dimensionCount; ++d) {
    if (__builtin_mul_overflow(bytes, dimensions[d], &bytes)) {
      raiseModuleError("orrim:TooLarge", "The requested array has more elements than a 64-bit count holds.");
    }
  }
  // Room in the call's record first: once the array exists, it is the call's.
  orrim::detail::CallRecord *call = orrim::detail::currentCall();
  std::unique_ptr<OrrimArray> array;
  if (orrim::detail::reserveRoomForArray(call)) {
    try {
      array = orrim::zeroFilledReal(orrim::normalisedDimensions({dimensions, dimensions + dimensionCount}));
    } catch (const std::bad_alloc &) {
    }
  }
  if (array == nullptr) {
    raiseModuleError(orrim::detail::outOfMemoryIdentifier,
                     "Out of memory creating an array of %" PRIu64 " bytes.", bytes);
  }
  orrim::detail::recordNewArray(call, array.get());
  return array.release();
}

}  // namespace

OrrimArray *orrimCreateRealMatrix(uint64_t rows, uint64_t columns, OrrimComplexity complexity) {
  const uint64_t dimensions[2] = {rows, columns};
  return createRealForModule(2, dimensions, complexity);
}

OrrimArray *orrimCreateRealArray(uint64_t dimensionCount, const uint64_t *dimensions, OrrimComplexity complexity) {
  return createRealForModule(dimensionCount, dimensions, complexity);
}

}  // extern "C"
