// The working blocks of a call, described once per module by a table of
// (slot, size rule) in the order they are taken and given back: the gateway
// takes them with one loop over the table and releases them with another,
// and the tests lay their own storage out from the same table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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
  blockSizeCount
};

// Doubles by BlockSize.
using BlockCounts = std::array<uint64_t, blockSizeCount>;

// How a TooLarge error names a size: "m*m doubles".
inline constexpr const char *blockSizeText[blockSizeCount] = {
    "m doubles", "m*m doubles", "n doubles", "n*m doubles", "m*T doubles", "n*T doubles", "m*(m+1)/2*T doubles",
    "m*n*T doubles", "m*m*T doubles", "n*n doubles", "8*m doubles",
    "3*m*m doubles"};

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
