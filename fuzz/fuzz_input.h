// The byte format the fuzz targets read: one module call as a host would make
// it, with every input built through the host API.
//
//   call   := countByte optionsByte [limitByte] node*
//     optionsByte: bits 0-1 the output count; bits 2-4 all set: the host's
//     memory is limited to (limitByte + 1) * 8 bytes for the call
//   node   := tag ...          kind = tag % 8, dimension count = (tag / 8) % 5
//     kind 0-3  real array:  one byte per dimension, then one value per element
//     kind 4    cell array:  one byte per dimension, then one node per element
//     kind 5    the empty 0 x 0 array
//     kind 6    a 1 x 1 array: one value
//     kind 7    no array at all (an unset cell element, or a missing input)
//   dimension: byte % 16, or for bytes from 0xF0 on one of 16 sizes no
//              machine can hold (2^40 up to 2^64 - 1)
//   value:     a byte on a grid of sixteenths, a special (NaN, infinities,
//              huge, tiny, negative zero), or eight raw bytes of a double
//
// The input count is the module's own unless countByte is 0xE0 or more. Bytes
// past the end read as defaults (inputs as the scalar 1), so every byte string
// is a call. Sizes stay small, so that one call takes milliseconds: a real
// array holds at most 4096 elements and a cell at most 32 (past that, or when
// a count would overflow 64 bits, dimensions after the first are set to zero,
// small ones first, so that the dimension count and the huge sizes stay), and
// a cell nested more than three deep reads as the empty array.
#pragma once

#include "orrim_host.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzing {

inline constexpr uint64_t maxRealElements = 4096;
inline constexpr uint64_t maxCellElements = 32;
inline constexpr int maxCellDepth = 3;

// The sizes a dimension byte from 0xF0 on stands for: each is 2^40 or more,
// so any array or block it counts is 8 TiB or more and its allocation fails
// at once, the call ending with orrim:OutOfMemory.
extern const uint64_t hugeDimensions[16];

struct DecodedCall {
  int32_t outputCount = 1;
  uint64_t memoryLimit = 0;  // bytes of host memory a call may hold; 0 for no limit
  std::vector<orrim::ArrayPtr> inputs;  // null where an input is missing
};

DecodedCall decodeCall(const uint8_t *data, size_t size, int32_t moduleInputCount);

// Writes calls in the same format, for the seed corpus.
class CallEncoder {
 public:
  // `inputCount` other than the module's own is written as an explicit count.
  CallEncoder(int32_t inputCount, int32_t moduleInputCount, int32_t outputCount = 1);
  // Host memory limited to (limitByte + 1) * 8 bytes for the call.
  CallEncoder &limitMemory(uint8_t limitByte);

  CallEncoder &real(const std::vector<uint64_t> &dimensions, const std::vector<double> &values);
  // Values in storage order, all written exactly.
  CallEncoder &matrix(uint64_t rows, uint64_t columns, const std::vector<double> &values);
  CallEncoder &scalar(double value);
  CallEncoder &empty();
  CallEncoder &missing();
  // A cell array; its elements follow as nodes, in linear index order.
  CallEncoder &cell(const std::vector<uint64_t> &dimensions);
  // Dimensions below 16, or one of the 16 sizes of hugeDimensions.

  std::string bytes() const;

 private:
  void dimensionsOf(const std::vector<uint64_t> &dimensions, uint8_t kind);
  void value(double v);
  std::string bytes_;
  size_t optionsAt_ = 0;
};

}  // namespace fuzzing
