// The working blocks of a call, described once per module by a table of
// (slot, size rule) in the order they are laid out: the gateway takes a
// table's blocks together and gives them back together, and the tests lay
// their own storage out from the same table.
#pragma once

#include <emmintrin.h>
#include <sanitizer/asan_interface.h>

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
    "m*n*T doubles", "n*n doubles", "8*m doubles", "3*m*m doubles", "m*k doubles",
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

// A table's blocks are carved out of one block of the host, in the table's
// order: a call then takes and gives back a handful of blocks rather than
// dozens, each of which the host records under its lock. Each block starts on
// a 64-byte line of its own, as a block of the host does. Under
// AddressSanitizer a poisoned line follows each block, so that an access past
// its end is reported as it would be past a block of its own; the host clears
// the guards when the block goes back, on every path.
//
// GCC says AddressSanitizer is on by __SANITIZE_ADDRESS__, clang by
// __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define WORKING_BLOCKS_GUARDED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WORKING_BLOCKS_GUARDED 1
#endif
#endif

inline constexpr uint64_t blockLineBytes = 64;
#if defined(WORKING_BLOCKS_GUARDED)
inline constexpr uint64_t blockGuardBytes = blockLineBytes;
#else
inline constexpr uint64_t blockGuardBytes = 0;
#endif

// The bytes of a table's storage that a block of `doubles` takes: whole lines
// and the guard; UINT64_MAX when that does not fit in 64 bits.
inline uint64_t carvedBytes(uint64_t doubles) {
  constexpr uint64_t most = (UINT64_MAX - blockGuardBytes - (blockLineBytes - 1)) / sizeof(double);
  if (doubles > most) {
    return UINT64_MAX;
  }
  return (doubles * sizeof(double) + blockLineBytes - 1) / blockLineBytes * blockLineBytes + blockGuardBytes;
}

// The bytes of the storage of a table's blocks; UINT64_MAX when the sum does
// not fit, which no host can give.
inline uint64_t tableBytes(std::span<const WorkingBlock> blocks, const BlockCounts &counts) {
  uint64_t total = 0;
  for (const WorkingBlock &block : blocks) {
    if (__builtin_add_overflow(total, carvedBytes(counts[block.size]), &total)) {
      return UINT64_MAX;
    }
  }
  return total;
}

// Takes the storage of every block of the table from `take` (orrimAlloc in a
// module), which ends the call itself when memory runs out, and points each
// slot at its block.
inline void takeBlocks(std::span<const WorkingBlock> blocks, const BlockCounts &counts, void *workspace,
                       void *(*take)(uint64_t bytes)) {
  char *storage = static_cast<char *>(take(tableBytes(blocks, counts)));
  for (const WorkingBlock &block : blocks) {
    blockPointer(workspace, block) = reinterpret_cast<double *>(storage);
    const uint64_t used = counts[block.size] * sizeof(double);
    const uint64_t carved = carvedBytes(counts[block.size]);
    ASAN_POISON_MEMORY_REGION(storage + used, carved - used);
    storage += carved;
  }
}

// Gives the table's storage back to `release` (orrimFree in a module): it
// starts at the first block. Leaves every slot null.
inline void releaseBlocks(std::span<const WorkingBlock> blocks, void *workspace, void (*release)(void *block)) {
  release(blockPointer(workspace, blocks.front()));
  for (const WorkingBlock &block : blocks) {
    blockPointer(workspace, block) = nullptr;
  }
}

// A block that grows by itself, through orrimRealloc, is a block of the
// host's own, taken and given back one by one.
inline void takeEachBlock(std::span<const WorkingBlock> blocks, const BlockCounts &counts, void *workspace,
                          void *(*take)(uint64_t bytes)) {
  for (const WorkingBlock &block : blocks) {
    blockPointer(workspace, block) = static_cast<double *>(take(counts[block.size] * sizeof(double)));
  }
}

inline void releaseEachBlock(std::span<const WorkingBlock> blocks, void *workspace, void (*release)(void *block)) {
  for (const WorkingBlock &block : blocks) {
    release(blockPointer(workspace, block));
    blockPointer(workspace, block) = nullptr;
  }
}

// a*b for the size named `what`; a gateway's version refuses an overflow.
using CountProduct = uint64_t (*)(uint64_t a, uint64_t b, const char *what);

// The double count of every BlockSize for T periods, n series and m states,
// each product formed through `multiply`: m*T, n*T, m*m, n*m, m*(m+1)/2,
// m*(m+1)/2*T, m*n*T, 8*m, 3*m*m in turn. n*n is left to the decorrelated
// series that grow to it: the others need not be refused a size they do not
// use.
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

// The lines of up to two runs of doubles asked for ahead a few at a time,
// between steps that do other work: asked for all at once, the requests of
// a long run wait on one another for the buffers that hold lines in flight.
struct LinesAhead {
  static constexpr uint64_t every = UINT64_MAX;
  const char *next[2] = {nullptr, nullptr};
  const char *end[2] = {nullptr, nullptr};

  void ask(int run, const double *values, uint64_t count) {
    next[run] = reinterpret_cast<const char *>(values);
    end[run] = next[run] + count * sizeof(double);
  }
  // Asks for up to `lines` more lines (`every`: all that are left), the
  // first run first.
  void advance(uint64_t lines) {
    for (int run = 0; run < 2; ++run) {
      for (; next[run] < end[run] && lines > 0; --lines) {
        __builtin_prefetch(next[run]);
        next[run] += 64;
      }
    }
  }
};

// Stores a double to an output the call writes once and does not read
// again, past the caches: the line is not read for ownership first. A store
// of any instruction set of x86-64. finishStreamingStores() orders them
// before anything the call does after.
inline void storeStreaming(double *to, double value) {
  long long bits;
  std::memcpy(&bits, &value, sizeof bits);
  _mm_stream_si64(reinterpret_cast<long long *>(to), bits);
}

// A run of doubles the same way, 16 bytes a store where `to` allows: half
// the stores of storeStreaming's, measurably faster over many lines.
inline void storeStreamingRun(double *to, const double *from, uint64_t count) {
  uint64_t e = 0;
  for (; e < count && reinterpret_cast<uintptr_t>(to + e) % 16 != 0; ++e) to[e] = from[e];
  for (; e + 2 <= count; e += 2) _mm_stream_pd(to + e, _mm_loadu_pd(from + e));
  for (; e < count; ++e) to[e] = from[e];
}

inline void finishStreamingStores() { _mm_sfence(); }
