// Blocks that calls have freed, kept for the calls that follow: a model
// fitted thousands of times asks for the same blocks every call. Handing a
// large one back to the system costs a page fault per page on the next call,
// and taking a small one costs the system's aligned allocation.
// Called with the ledger's lock held.
#pragma once

#include <cstdint>

namespace orrim::detail {

// A kept block of at least `bytes` and not much more, its capacity in
// *capacity; null when none fits.
void *takeKeptBlock(uint64_t bytes, uint64_t *capacity);

// Keeps a freed block of `capacity` bytes, or gives it back to the system.
void keepOrRelease(void *block, uint64_t capacity);

}  // namespace orrim::detail
