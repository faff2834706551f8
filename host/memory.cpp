// The tracking allocator behind orrimAlloc, orrimRealloc and orrimFree.
#include "block_cache.h"
#include "host_internal.h"
#include "ledger.h"

#include <sys/mman.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace orrim::detail {
namespace {

// Large blocks are aligned to and backed by 2 MiB pages where the system
// offers them: a module that fills a few hundred megabytes of records then
// takes hundreds rather than hundreds of thousands of page faults.
constexpr uint64_t hugePageBytes = uint64_t{2} << 20;

void *systemAllocate(uint64_t bytes) {
  if (bytes > SIZE_MAX) {
    return nullptr;
  }
  void *block = nullptr;
  if (bytes < hugePageBytes) {
    // A whole cache line to itself: the modules' vector loads and stores then
    // start on line boundaries; a zero-byte block is still a block of its own.
    const size_t lineBytes = 64;
    const size_t rounded = (static_cast<size_t>(bytes) + lineBytes - 1) / lineBytes * lineBytes;
    return posix_memalign(&block, lineBytes, rounded == 0 ? lineBytes : rounded) == 0 ? block : nullptr;
  }
  if (posix_memalign(&block, hugePageBytes, static_cast<size_t>(bytes)) != 0) {
    return nullptr;
  }
  madvise(block, static_cast<size_t>(bytes / hugePageBytes * hugePageBytes), MADV_HUGEPAGE);
  return block;
}

// A block for `bytes`, kept from an earlier call or new from the system; null
// when the system has none. Its capacity goes to *capacity.
void *obtainBlock(uint64_t bytes, uint64_t *capacity) {
  if (void *kept = takeKeptBlock(bytes, capacity)) {
    return kept;
  }
  *capacity = bytes;
  return systemAllocate(bytes);
}

// Where a block is recorded: the calls in progress on this thread, innermost
// first, then the blocks taken outside any call. A block of another thread's
// call is that call's alone.
struct Found {
  HoldingTable *table = nullptr;
  Holding *holding = nullptr;
};

Found findBlock(Ledger &book, const void *block) {
  for (CallRecord *call = currentCall(); call != nullptr; call = call->outer) {
    if (Holding *holding = call->blocks.find(block)) {
      return Found{&call->blocks, holding};
    }
  }
  if (Holding *holding = book.blocksOutsideCalls.find(block)) {
    return Found{&book.blocksOutsideCalls, holding};
  }
  return Found{};
}

[[noreturn]] void raiseOutOfMemory(uint64_t bytes) {
  raiseModuleError(outOfMemoryIdentifier, "Out of memory: a block of %" PRIu64 " bytes could not be allocated.",
                   bytes);
}

}  // namespace
}  // namespace orrim::detail

using orrim::detail::Ledger;

extern "C" {

void *orrimAlloc(uint64_t bytes) {
  Ledger &book = orrim::detail::ledger();
  {
    std::lock_guard<std::mutex> lock(book.mutex);
    orrim::detail::CallRecord *call = orrim::detail::currentCall();
    orrim::detail::HoldingTable &table = call != nullptr ? call->blocks : book.blocksOutsideCalls;
    // The record has room before the block exists: once made, it is owned.
    uint64_t capacity = 0;
    void *block = nullptr;
    if (table.reserveOneMore() && !orrim::detail::exceedsLimit(book, bytes)) {
      block = orrim::detail::obtainBlock(bytes, &capacity);
    }
    if (block != nullptr) {
      table.insert(orrim::detail::Holding{block, bytes, capacity});
      book.counters.blocksLive += 1;
      book.counters.allocations += 1;
      orrim::detail::countBytesTaken(book, bytes);
      return block;
    }
  }
  orrim::detail::raiseOutOfMemory(bytes);
}

void *orrimRealloc(void *block, uint64_t bytes) {
  if (block == nullptr) {
    return orrimAlloc(bytes);
  }
  Ledger &book = orrim::detail::ledger();
  std::unique_lock<std::mutex> lock(book.mutex);
  const orrim::detail::Found found = orrim::detail::findBlock(book, block);
  if (found.holding == nullptr) {
    lock.unlock();
    orrim::detail::raiseModuleError("orrim:InvalidBlock", "orrimRealloc was given a block the host did not hand out.");
  }
  const orrim::detail::Holding old = *found.holding;
  if (bytes > old.bytes && orrim::detail::exceedsLimit(book, bytes - old.bytes)) {
    lock.unlock();
    orrim::detail::raiseOutOfMemory(bytes);
  }
  if (bytes <= old.capacity) {
    // The block already has room: only its size changes.
    book.counters.reallocations += 1;
    book.counters.bytesLive -= old.bytes;
    orrim::detail::countBytesTaken(book, bytes);
    found.holding->bytes = bytes;
    return block;
  }
  uint64_t capacity = 0;
  void *grown = orrim::detail::obtainBlock(bytes, &capacity);
  if (grown == nullptr) {
    lock.unlock();
    orrim::detail::raiseOutOfMemory(bytes);  // the old block stays held and is reclaimed with the call
  }
  std::memcpy(grown, block, static_cast<size_t>(old.bytes));  // the leading contents; bytes > old.bytes here
  // The grown block takes the old one's place in the same record, so the
  // record needs no room it does not have.
  found.table->erase(found.holding);
  found.table->insert(orrim::detail::Holding{grown, bytes, capacity});
  book.counters.reallocations += 1;
  book.counters.bytesLive -= old.bytes;
  orrim::detail::countBytesTaken(book, bytes);
  orrim::detail::keepOrRelease(block, old.capacity);
  return grown;
}

void orrimFree(void *block) {
  if (block == nullptr) {
    return;
  }
  Ledger &book = orrim::detail::ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  const orrim::detail::Found found = orrim::detail::findBlock(book, block);
  if (found.holding == nullptr) {
    return;  // not ours, or freed already: never hand a stray pointer to free()
  }
  const orrim::detail::Holding held = *found.holding;
  found.table->erase(found.holding);
  book.counters.blocksLive -= 1;
  book.counters.bytesLive -= held.bytes;
  orrim::detail::keepOrRelease(held.address, held.capacity);
}

}  // extern "C"
