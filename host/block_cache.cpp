#include "block_cache.h"

#include <sanitizer/asan_interface.h>

#include <cstdlib>

namespace orrim::detail {
namespace {

// Blocks past the small classes below are kept in a short list, never more
// than a bounded amount, so an idle host holds little: a large block saves
// the system's page faults on the next call, and the few kilobytes that hold
// a small model's working blocks the system's aligned allocation.
constexpr uint64_t mostKeptBytes = uint64_t{1} << 30;
constexpr size_t mostKeptBlocks = 32;

struct KeptBlock {
  void *block;
  uint64_t capacity;
};

// A fixed list: keeping a block is part of freeing it, which must not need
// memory of its own.
struct Keep {
  KeptBlock blocks[mostKeptBlocks] = {};  // oldest first
  size_t count = 0;
  uint64_t bytes = 0;
  // The kept blocks go back to the system with the process's other static
  // objects: dropping the list alone would lose them, and leak checkers run
  // over a host's whole process would rightly report every one.
  ~Keep() {
    while (count > 0) {
      releaseOldest();
    }
  }
  void remove(size_t index) {
    bytes -= blocks[index].capacity;
    for (size_t later = index + 1; later < count; ++later) {
      blocks[later - 1] = blocks[later];
    }
    count -= 1;
  }
  void releaseOldest() {
    std::free(blocks[0].block);
    remove(0);
  }
};

constinit Keep kept;

// Small blocks by size, in classes of one cache line up to 1 KiB: a small
// model asks for the same handful every call, and the system's aligned
// allocation of each costs more than the arithmetic done in it. At most 32
// per class, under 300 KB in all.
constexpr uint64_t lineBytes = 64;
constexpr uint64_t largestSmallBlock = 1024;
constexpr size_t smallClassCount = largestSmallBlock / lineBytes;
constexpr size_t mostKeptPerClass = 32;

// Class c holds blocks of (c + 1) lines; a zero-byte block has a line too.
size_t smallClassOf(uint64_t bytes) { return bytes == 0 ? 0 : static_cast<size_t>((bytes - 1) / lineBytes); }

struct SmallKeep {
  void *blocks[smallClassCount][mostKeptPerClass] = {};
  size_t count[smallClassCount] = {};
  ~SmallKeep() {
    for (size_t c = 0; c < smallClassCount; ++c) {
      while (count[c] > 0) {
        count[c] -= 1;
        std::free(blocks[c][count[c]]);
      }
    }
  }
};

constinit SmallKeep keptSmall;

// Under AddressSanitizer every block goes back at once, so that a read past
// the end of a block, or of a freed one, is always reported. GCC says the
// sanitizer is on by __SANITIZE_ADDRESS__, clang (which builds the fuzz
// targets) by __has_feature.
#if defined(__has_feature)
#define BLOCK_CACHE_HAS_FEATURE(feature) __has_feature(feature)
#else
#define BLOCK_CACHE_HAS_FEATURE(feature) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || BLOCK_CACHE_HAS_FEATURE(address_sanitizer)
constexpr bool keepBlocks = false;
#else
constexpr bool keepBlocks = true;
#endif

}  // namespace

void *takeKeptBlock(uint64_t bytes, uint64_t *capacity) {
  if (bytes <= largestSmallBlock) {
    const size_t c = smallClassOf(bytes);
    if (keptSmall.count[c] == 0) {
      return nullptr;
    }
    keptSmall.count[c] -= 1;
    *capacity = (c + 1) * lineBytes;
    return keptSmall.blocks[c][keptSmall.count[c]];
  }
  size_t best = kept.count;
  for (size_t b = 0; b < kept.count; ++b) {
    const uint64_t size = kept.blocks[b].capacity;
    // At most twice the request: a large block is not spent on a small one.
    if (size >= bytes && size / 2 <= bytes && (best == kept.count || size < kept.blocks[best].capacity)) {
      best = b;
    }
  }
  if (best == kept.count) {
    return nullptr;
  }
  const KeptBlock found = kept.blocks[best];
  kept.remove(best);
  *capacity = found.capacity;
  return found.block;
}

void keepOrRelease(void *block, uint64_t capacity) {
  // A module may have poisoned parts of the block for AddressSanitizer (the
  // guards between the blocks it carves out of it), and the sanitizer's
  // allocator would hand the memory out again still poisoned. Nothing
  // without the sanitizer.
  ASAN_UNPOISON_MEMORY_REGION(block, capacity);
  // A block the system made for `capacity` bytes holds them rounded up to
  // whole lines, so it serves any request of its class.
  if (keepBlocks && capacity <= largestSmallBlock) {
    const size_t c = smallClassOf(capacity);
    if (keptSmall.count[c] == mostKeptPerClass) {
      std::free(block);
      return;
    }
    keptSmall.blocks[c][keptSmall.count[c]] = block;
    keptSmall.count[c] += 1;
    return;
  }
  if (!keepBlocks || capacity > mostKeptBytes) {
    std::free(block);
    return;
  }
  while (kept.count == mostKeptBlocks || kept.bytes > mostKeptBytes - capacity) {
    kept.releaseOldest();
  }
  kept.blocks[kept.count] = KeptBlock{block, capacity};
  kept.count += 1;
  kept.bytes += capacity;
}

}  // namespace orrim::detail
