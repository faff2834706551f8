// The tracking allocator behind orrimAlloc, orrimRealloc and orrimFree, and
// the counters that tests read.
#include "block_cache.h"
#include "host_internal.h"
#include "orrim_host.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace orrim {
namespace {

// What a block was asked for, and what it can hold: a kept block handed out
// again may be larger than the request.
struct BlockSize {
  uint64_t bytes;
  uint64_t capacity;
};

struct Ledger {
  std::mutex mutex;
  std::unordered_map<void *, BlockSize> blocks;
  Counters counters;
  uint64_t memoryLimit = 0;
};

Ledger &ledger() {
  static Ledger instance;
  return instance;
}

void recordNewBlock(Ledger &book, void *block, uint64_t bytes, uint64_t capacity) {
  book.blocks.emplace(block, BlockSize{bytes, capacity});
  book.counters.blocksLive += 1;
  book.counters.bytesLive += bytes;
  if (book.counters.bytesLive > book.counters.peakBytes) {
    book.counters.peakBytes = book.counters.bytesLive;
  }
}

bool exceedsLimit(const Ledger &book, uint64_t extraBytes) {
  return book.memoryLimit != 0 && (extraBytes > book.memoryLimit || book.counters.bytesLive > book.memoryLimit - extraBytes);
}

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
  if (void *kept = detail::takeKeptBlock(bytes, capacity)) {
    return kept;
  }
  *capacity = bytes;
  return systemAllocate(bytes);
}

// Takes a block out of the ledger and keeps it for a later call or frees it.
void dropBlock(Ledger &book, std::unordered_map<void *, BlockSize>::iterator found) {
  book.counters.blocksLive -= 1;
  book.counters.bytesLive -= found->second.bytes;
  void *block = found->first;
  const uint64_t capacity = found->second.capacity;
  book.blocks.erase(found);
  detail::keepOrRelease(block, capacity);
}

[[noreturn]] void raiseOutOfMemory(uint64_t bytes) {
  detail::raiseModuleError("orrim:OutOfMemory", "Out of memory: a block of " + std::to_string(bytes) +
                                                    " bytes could not be allocated.");
}

}  // namespace

Counters counters() {
  Ledger &book = ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  return book.counters;
}

void resetCounters() {
  Ledger &book = ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  Counters fresh;
  fresh.blocksLive = book.counters.blocksLive;
  fresh.bytesLive = book.counters.bytesLive;
  fresh.arraysLive = book.counters.arraysLive;
  fresh.peakBytes = book.counters.bytesLive;
  book.counters = fresh;
}

void setMemoryLimit(uint64_t bytes) {
  Ledger &book = ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  book.memoryLimit = bytes;
}

namespace detail {

void countArrayCreated() {
  Ledger &book = ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  book.counters.arraysLive += 1;
}

void countArrayDestroyed() {
  Ledger &book = ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  book.counters.arraysLive -= 1;
}

void reclaimBlocks(CallRecord &record) {
  Ledger &book = ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  for (void *block : record.blocks) {
    auto found = book.blocks.find(block);
    if (found == book.blocks.end()) {
      continue;
    }
    book.counters.blocksReclaimed += 1;
    dropBlock(book, found);
  }
  record.blocks.clear();
}

}  // namespace detail
}  // namespace orrim

using orrim::Ledger;

extern "C" {

void *orrimAlloc(uint64_t bytes) {
  Ledger &book = orrim::ledger();
  {
    std::lock_guard<std::mutex> lock(book.mutex);
    uint64_t capacity = 0;
    void *block = orrim::exceedsLimit(book, bytes) ? nullptr : orrim::obtainBlock(bytes, &capacity);
    if (block != nullptr) {
      orrim::recordNewBlock(book, block, bytes, capacity);
      book.counters.allocations += 1;
      if (orrim::detail::CallRecord *call = orrim::detail::currentCall()) {
        call->blocks.insert(block);
      }
      return block;
    }
  }
  orrim::raiseOutOfMemory(bytes);
}

void *orrimRealloc(void *block, uint64_t bytes) {
  if (block == nullptr) {
    return orrimAlloc(bytes);
  }
  Ledger &book = orrim::ledger();
  std::unique_lock<std::mutex> lock(book.mutex);
  auto found = book.blocks.find(block);
  if (found == book.blocks.end()) {
    lock.unlock();
    orrim::detail::raiseModuleError("orrim:InvalidBlock", "orrimRealloc was given a block the host did not hand out.");
  }
  const orrim::BlockSize old = found->second;
  if (bytes > old.bytes && orrim::exceedsLimit(book, bytes - old.bytes)) {
    lock.unlock();
    orrim::raiseOutOfMemory(bytes);
  }
  book.counters.reallocations += 1;
  if (bytes <= old.capacity) {
    // The block already has room: only its size changes.
    book.counters.bytesLive = book.counters.bytesLive - old.bytes + bytes;
    book.counters.peakBytes = std::max(book.counters.peakBytes, book.counters.bytesLive);
    found->second.bytes = bytes;
    return block;
  }
  uint64_t capacity = 0;
  void *grown = orrim::obtainBlock(bytes, &capacity);
  if (grown == nullptr) {
    lock.unlock();
    orrim::raiseOutOfMemory(bytes);  // the old block stays held and is reclaimed with the call
  }
  std::memcpy(grown, block, static_cast<size_t>(old.bytes));  // the leading contents; bytes > old.bytes here
  orrim::dropBlock(book, found);
  orrim::recordNewBlock(book, grown, bytes, capacity);
  if (orrim::detail::CallRecord *call = orrim::detail::currentCall()) {
    call->blocks.erase(block);
    call->blocks.insert(grown);
  }
  return grown;
}

void orrimFree(void *block) {
  if (block == nullptr) {
    return;
  }
  Ledger &book = orrim::ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  auto found = book.blocks.find(block);
  if (found == book.blocks.end()) {
    return;  // not ours, or freed already: never hand a stray pointer to free()
  }
  if (orrim::detail::CallRecord *call = orrim::detail::currentCall()) {
    call->blocks.erase(block);
  }
  orrim::dropBlock(book, found);
}

}  // extern "C"
