#include "block_cache.h"

#include <cstdlib>
#include <vector>

namespace orrim::detail {
namespace {

// Only blocks large enough to be worth the system's page faults are kept, and
// never more than a bounded amount, so an idle host holds little.
constexpr uint64_t smallestKeptBlock = uint64_t{256} << 10;
constexpr uint64_t mostKeptBytes = uint64_t{1} << 30;
constexpr size_t mostKeptBlocks = 32;

struct KeptBlock {
  void *block;
  uint64_t capacity;
};

struct Keep {
  std::vector<KeptBlock> blocks;  // oldest first
  uint64_t bytes = 0;
  // The kept blocks go back to the system with the process's other static
  // objects: dropping the list alone would lose them, and leak checkers run
  // over a host's whole process would rightly report every one.
  ~Keep() {
    for (const KeptBlock &kept : blocks) {
      std::free(kept.block);
    }
  }
};

Keep &keep() {
  static Keep instance;
  return instance;
}

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer every block goes back at once, so that a read past
// the end of a block, or of a freed one, is always reported.
constexpr bool keepBlocks = false;
#else
constexpr bool keepBlocks = true;
#endif

}  // namespace

void *takeKeptBlock(uint64_t bytes, uint64_t *capacity) {
  Keep &kept = keep();
  size_t best = kept.blocks.size();
  for (size_t b = 0; b < kept.blocks.size(); ++b) {
    const uint64_t size = kept.blocks[b].capacity;
    // At most twice the request: a large block is not spent on a small one.
    if (size >= bytes && size / 2 <= bytes && (best == kept.blocks.size() || size < kept.blocks[best].capacity)) {
      best = b;
    }
  }
  if (best == kept.blocks.size()) {
    return nullptr;
  }
  const KeptBlock found = kept.blocks[best];
  kept.blocks.erase(kept.blocks.begin() + static_cast<long>(best));
  kept.bytes -= found.capacity;
  *capacity = found.capacity;
  return found.block;
}

void keepOrRelease(void *block, uint64_t capacity) {
  Keep &kept = keep();
  if (!keepBlocks || capacity < smallestKeptBlock || capacity > mostKeptBytes) {
    std::free(block);
    return;
  }
  kept.blocks.push_back(KeptBlock{block, capacity});
  kept.bytes += capacity;
  while (kept.blocks.size() > mostKeptBlocks || kept.bytes > mostKeptBytes) {
    std::free(kept.blocks.front().block);
    kept.bytes -= kept.blocks.front().capacity;
    kept.blocks.erase(kept.blocks.begin());
  }
}

}  // namespace orrim::detail
