#include "fuzz_input.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace fuzzing {

const uint64_t hugeDimensions[16] = {
    uint64_t{1} << 40, uint64_t{1} << 41, uint64_t{1} << 42, uint64_t{1} << 44,
    uint64_t{1} << 48, uint64_t{1} << 52, uint64_t{1} << 56, uint64_t{1} << 60,
    uint64_t{1} << 61, uint64_t{1} << 62, uint64_t{1} << 63, (uint64_t{1} << 63) + 1,
    uint64_t{3} << 61, uint64_t{0xFFFFFFFF} << 32, ~uint64_t{0} - 1, ~uint64_t{0},
};

namespace {

constexpr uint8_t explicitCountFrom = 0xE0;
constexpr uint8_t hugeDimensionFrom = 0xF0;
constexpr uint8_t specialValueFrom = 0xC0;
constexpr uint8_t rawValueFrom = 0xE0;
constexpr uint8_t limitedMemory = 7;  // bits 2-4 of the options byte

enum Kind : uint8_t { realKind = 0, cellKind = 4, emptyKind = 5, scalarKind = 6, missingKind = 7 };

// Grid values are (byte - 0x40) / 16: -4 to 7.9375 in sixteenths.
constexpr int gridOffset = 0x40;
constexpr double gridStep = 16.0;

const double specialValues[32] = {
    std::numeric_limits<double>::quiet_NaN(),
    -std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    -0.0,
    0.0,
    DBL_MAX,
    -DBL_MAX,
    DBL_MIN,
    -DBL_MIN,
    std::numeric_limits<double>::denorm_min(),
    -std::numeric_limits<double>::denorm_min(),
    1e300,
    -1e300,
    1e154,  // its square overflows
    -1e154,
    1e-154,  // its square underflows
    1e-300,
    1e16,
    -1e16,
    9007199254740992.0,  // 2^53
    1e-16,
    0.99999999999999989,  // the largest double below 1
    1.0000000000000002,   // the smallest above 1
    1e8,
    -1e8,
    1e-8,
    1e200,
    1e-200,
    1.0 / 3.0,
    -2.5e-310,  // subnormal
    std::numeric_limits<double>::signaling_NaN(),
};

class ByteReader {
 public:
  ByteReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  uint8_t next(uint8_t fallback) { return position_ < size_ ? data_[position_++] : fallback; }
  double nextRawDouble() {
    uint8_t raw[sizeof(double)] = {};
    for (uint8_t &byte : raw) {
      byte = next(0);
    }
    double value;
    std::memcpy(&value, raw, sizeof value);
    return value;
  }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t position_ = 0;
};

double decodeValue(ByteReader &reader) {
  const uint8_t byte = reader.next(gridOffset + 16);  // 1.0
  if (byte < specialValueFrom) {
    return (byte - gridOffset) / gridStep;
  }
  if (byte < rawValueFrom) {
    return specialValues[byte - specialValueFrom];
  }
  return reader.nextRawDouble();
}

uint64_t decodeDimension(ByteReader &reader) {
  const uint8_t byte = reader.next(1);
  return byte >= hugeDimensionFrom ? hugeDimensions[byte - hugeDimensionFrom] : byte % 16;
}

bool isHuge(uint64_t dimension) { return dimension >= hugeDimensions[0]; }

// True when the host can create an array of these dimensions (counts that fit
// 64 bits, bytes included) holding at most `cap` elements.
bool withinCap(const std::vector<uint64_t> &dimensions, uint64_t cap) {
  uint64_t columns = 1;
  for (size_t d = 1; d < dimensions.size(); ++d) {
    if (__builtin_mul_overflow(columns, dimensions[d], &columns)) {
      return false;
    }
  }
  uint64_t count = 0;
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(dimensions[0], columns, &count) || __builtin_mul_overflow(count, 8, &bytes)) {
    return false;
  }
  return count <= cap;
}

// Brings the element count down to zero when it is over the cap, keeping the
// huge dimensions where it can: small dimensions after the first are zeroed
// in preference, from the last. The host forms the column count as a running
// product, so a zero after two huge dimensions does not save it from
// overflowing: huge ones are zeroed too until the counts fit.
std::vector<uint64_t> cappedDimensions(std::vector<uint64_t> dimensions, uint64_t cap) {
  while (dimensions.size() < 2) {
    dimensions.push_back(1);
  }
  while (!withinCap(dimensions, cap)) {
    size_t zeroed = 0;
    for (size_t d = dimensions.size() - 1; d >= 1 && zeroed == 0; --d) {
      zeroed = dimensions[d] != 0 && !isHuge(dimensions[d]) ? d : 0;
    }
    for (size_t d = dimensions.size() - 1; d >= 1 && zeroed == 0; --d) {
      zeroed = dimensions[d] != 0 ? d : 0;
    }
    dimensions[zeroed] = 0;
  }
  return dimensions;
}

std::vector<uint64_t> decodeDimensions(ByteReader &reader, uint8_t tag, uint64_t cap) {
  const int count = (tag / 8) % 5;
  std::vector<uint64_t> dimensions;
  for (int d = 0; d < count; ++d) {
    dimensions.push_back(decodeDimension(reader));
  }
  return cappedDimensions(dimensions, cap);
}

orrim::ArrayPtr decodeNode(ByteReader &reader, int depth) {
  const uint8_t tag = reader.next(scalarKind);
  const uint8_t kind = tag % 8;
  if (kind == missingKind) {
    return nullptr;
  }
  if (kind == emptyKind || (kind == cellKind && depth >= maxCellDepth)) {
    return orrim::createEmpty();
  }
  if (kind == scalarKind) {
    return orrim::createReal({1, 1}, {decodeValue(reader)});
  }
  if (kind == cellKind) {
    orrim::ArrayPtr cell = orrim::createCell(decodeDimensions(reader, tag, maxCellElements));
    const uint64_t count = orrim::elementCount(cell.get());
    for (uint64_t index = 0; index < count; ++index) {
      orrim::ArrayPtr element = decodeNode(reader, depth + 1);
      if (element != nullptr) {
        orrim::setCellElement(cell.get(), index, std::move(element));
      }
    }
    return cell;
  }
  const std::vector<uint64_t> dimensions = decodeDimensions(reader, tag, maxRealElements);
  orrim::ArrayPtr array = orrim::createReal(dimensions);
  double *data = orrimRealData(array.get());
  const uint64_t count = orrim::elementCount(array.get());
  for (uint64_t e = 0; e < count; ++e) {
    data[e] = decodeValue(reader);
  }
  return array;
}

}  // namespace

DecodedCall decodeCall(const uint8_t *data, size_t size, int32_t moduleInputCount) {
  ByteReader reader(data, size);
  DecodedCall call;
  const uint8_t countByte = reader.next(0);
  const int32_t inputCount =
      countByte < explicitCountFrom ? moduleInputCount : (countByte - explicitCountFrom) % (moduleInputCount + 3);
  const uint8_t options = reader.next(1);
  call.outputCount = options & 3;
  if (((options >> 2) & 7) == limitedMemory) {
    call.memoryLimit = (uint64_t{reader.next(0)} + 1) * 8;
  }
  for (int32_t position = 0; position < inputCount; ++position) {
    call.inputs.push_back(decodeNode(reader, 0));
  }
  return call;
}

CallEncoder::CallEncoder(int32_t inputCount, int32_t moduleInputCount, int32_t outputCount) {
  if (inputCount == moduleInputCount) {
    bytes_.push_back(0);
  } else {
    if (inputCount < 0 || inputCount >= moduleInputCount + 3) {
      throw std::invalid_argument("an input count the format cannot express");
    }
    bytes_.push_back(static_cast<char>(explicitCountFrom + inputCount));
  }
  optionsAt_ = bytes_.size();
  bytes_.push_back(static_cast<char>(outputCount & 3));
}

CallEncoder &CallEncoder::limitMemory(uint8_t limitByte) {
  bytes_[optionsAt_] = static_cast<char>(bytes_[optionsAt_] | (limitedMemory << 2));
  bytes_.insert(bytes_.begin() + static_cast<std::ptrdiff_t>(optionsAt_ + 1), static_cast<char>(limitByte));
  return *this;
}

void CallEncoder::dimensionsOf(const std::vector<uint64_t> &dimensions, uint8_t kind) {
  if (dimensions.size() > 4) {
    throw std::invalid_argument("at most four dimensions");
  }
  bytes_.push_back(static_cast<char>(kind + 8 * dimensions.size()));
  for (uint64_t dimension : dimensions) {
    if (dimension < 16) {
      bytes_.push_back(static_cast<char>(dimension));
      continue;
    }
    size_t code = 0;
    while (code < 16 && hugeDimensions[code] != dimension) {
      ++code;
    }
    if (code == 16) {
      throw std::invalid_argument("a dimension the format cannot express: " + std::to_string(dimension));
    }
    bytes_.push_back(static_cast<char>(hugeDimensionFrom + code));
  }
}

void CallEncoder::value(double v) {
  const double onGrid = v * gridStep + gridOffset;
  if (onGrid >= 0 && onGrid < specialValueFrom && onGrid == std::floor(onGrid) && !(v == 0.0 && std::signbit(v))) {
    bytes_.push_back(static_cast<char>(static_cast<int>(onGrid)));
    return;
  }
  bytes_.push_back(static_cast<char>(rawValueFrom));
  char raw[sizeof(double)];
  std::memcpy(raw, &v, sizeof raw);
  bytes_.append(raw, sizeof raw);
}

CallEncoder &CallEncoder::real(const std::vector<uint64_t> &dimensions, const std::vector<double> &values) {
  std::vector<uint64_t> padded = dimensions;
  while (padded.size() < 2) {
    padded.push_back(1);
  }
  if (!withinCap(padded, maxRealElements)) {
    throw std::invalid_argument("an array the decoder would cut to no elements");
  }
  uint64_t count = 1;
  for (uint64_t dimension : padded) {
    count *= dimension;
  }
  if (values.size() != count) {
    throw std::invalid_argument("one value per element");
  }
  dimensionsOf(dimensions, realKind);
  for (double v : values) {
    value(v);
  }
  return *this;
}

CallEncoder &CallEncoder::matrix(uint64_t rows, uint64_t columns, const std::vector<double> &values) {
  return real({rows, columns}, values);
}

CallEncoder &CallEncoder::scalar(double v) {
  bytes_.push_back(static_cast<char>(scalarKind));
  value(v);
  return *this;
}

CallEncoder &CallEncoder::empty() {
  bytes_.push_back(static_cast<char>(emptyKind));
  return *this;
}

CallEncoder &CallEncoder::missing() {
  bytes_.push_back(static_cast<char>(missingKind));
  return *this;
}

CallEncoder &CallEncoder::cell(const std::vector<uint64_t> &dimensions) {
  std::vector<uint64_t> padded = dimensions;
  while (padded.size() < 2) {
    padded.push_back(1);
  }
  if (!withinCap(padded, maxCellElements)) {
    throw std::invalid_argument("a cell the decoder would cut to no elements");
  }
  dimensionsOf(dimensions, cellKind);
  return *this;
}

std::string CallEncoder::bytes() const { return bytes_; }

}  // namespace fuzzing
