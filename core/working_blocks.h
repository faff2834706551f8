// The working blocks of a call, described once per module by a table of
// (slot, size rule) in the order they are taken and given back: the gateway
// takes them with one loop over the table and releases them with another,
// and the tests lay their own storage out from the same table.
#pragma once

#include <emmintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

// The double count of a block, in the sizes of the model: T periods, n
// series, m states. A module works out the counts its blocks use, checking
// them as it needs, before it takes any block.
enum BlockSize : uint8_t {
  mDoubles,
  mmDoubles,
  nDoubles,
  nmDoubles,
  mTDoubles,
  nTDoubles,
  triangleTDoubles,  // T lower triangles of m x m: m*(m+1)/2*T
  mnTDoubles,
  mmTDoubles,        // T matrices of m x m
  nnDoubles,
  eightMDoubles,   // eight vectors of m
  threeMMDoubles,  // three m x m matrices
  // The simulation smoother's: B and D row by row, and the blocks of a
  // block of L draws side by side (L doubles per row), some for a tile of
  // periods at a time.
  mkDoubles,
  nhDoubles,
  drawDoubles,              // L
  drawMDoubles,             // m*L
  drawMPairDoubles,         // m*2L
  drawNDoubles,             // n*L
  drawMTileDoubles,         // m*L per period of a tile
  drawShockTileDoubles,     // (k+h)*L per period of a tile
  drawMTDoubles,            // m*T*L
  drawNTDoubles,            // n*T*L
  blockSizeCount
};

// Doubles by BlockSize.
using BlockCounts = std::array<uint64_t, blockSizeCount>;

// How a TooLarge error names a size: "m*m doubles".
inline constexpr const char *blockSizeText[blockSizeCount] = {
    "m doubles", "m*m doubles", "n doubles", "n*m doubles", "m*T doubles", "n*T doubles", "m*(m+1)/2*T doubles",
    "m*n*T doubles", "m*m*T doubles", "n*n doubles", "8*m doubles", "3*m*m doubles", "m*k doubles",
    "n*h doubles", "L doubles", "m*L doubles", "m*2L doubles", "n*L doubles", "m*L doubles of a tile",
    "(k+h)*L doubles of a tile", "m*T*L doubles", "n*T*L doubles"};

// `slot` is where the block's pointer lives in the module's workspace, its
// offsetof: a plain struct of pointers, so that one table serves the loops
// of every module.
struct WorkingBlock {
  size_t slot;
  BlockSize size;
};

inline double *&blockPointer(void *workspace, const WorkingBlock &block) {
  return *reinterpret_cast<double **>(static_cast<char *>(workspace) + block.slot);
}

// Takes every block of the table in order, from `take` (orrimAlloc in a
// module), which ends the call itself when memory runs out.
inline void takeBlocks(std::span<const WorkingBlock> blocks, const BlockCounts &counts, void *workspace,
                       void *(*take)(uint64_t bytes)) {
  for (const WorkingBlock &block : blocks) {
    blockPointer(workspace, block) = static_cast<double *>(take(counts[block.size] * sizeof(double)));
  }
}

// Gives every block back in the order taken, to `release` (orrimFree in a
// module), and leaves its slot null.
inline void releaseBlocks(std::span<const WorkingBlock> blocks, void *workspace, void (*release)(void *block)) {
  for (const WorkingBlock &block : blocks) {
    release(blockPointer(workspace, block));
    blockPointer(workspace, block) = nullptr;
  }
}

// a*b for the size named `what`; a gateway's version refuses an overflow.
using CountProduct = uint64_t (*)(uint64_t a, uint64_t b, const char *what);

// The double count of every BlockSize for T periods, n series and m states,
// each product formed through `multiply`: m*T, n*T, m*m, n*m, m*(m+1)/2,
// m*(m+1)/2*T, m*n*T, 8*m, 3*m*m in turn. m*m*T is left to the module that
// takes it, and n*n to the decorrelated series that grow to it: the others
// need not be refused a size they do not use.
BlockCounts modelBlockCounts(uint64_t T, uint64_t n, uint64_t m, CountProduct multiply);

// Asks for the lines of `count` doubles from `values` ahead of their use,
// where the hardware does not fetch ahead by itself: backwards through a
// store, or along many runs at once.
inline void prefetchDoubles(const double *values, uint64_t count) {
  const char *bytes = reinterpret_cast<const char *>(values);
  for (uint64_t offset = 0; offset < count * sizeof(double); offset += 64) {
    __builtin_prefetch(bytes + offset);
  }
}

// Stores a double to an output the call writes once and does not read
// again, past the caches: the line is not read for ownership first. A store
// of any instruction set of x86-64. finishStreamingStores() orders them
// before anything the call does after.
inline void storeStreaming(double *to, double value) {
  long long bits;
  std::memcpy(&bits, &value, sizeof bits);
  _mm_stream_si64(reinterpret_cast<long long *>(to), bits);
}

inline void finishStreamingStores() { _mm_sfence(); }
