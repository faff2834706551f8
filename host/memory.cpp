// The tracking allocator behind orrimAlloc, orrimRealloc and orrimFree, and
// the counters that tests read.
#include "host_internal.h"
#include "orrim_host.hpp"

#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace orrim {
namespace {

struct Ledger {
  std::mutex mutex;
  std::unordered_map<void *, uint64_t> blockBytes;
  Counters counters;
  uint64_t memoryLimit = 0;
};

Ledger &ledger() {
  static Ledger instance;
  return instance;
}

void recordNewBlock(Ledger &book, void *block, uint64_t bytes) {
  book.blockBytes.emplace(block, bytes);
  book.counters.blocksLive += 1;
  book.counters.bytesLive += bytes;
  if (book.counters.bytesLive > book.counters.peakBytes) {
    book.counters.peakBytes = book.counters.bytesLive;
  }
}

bool exceedsLimit(const Ledger &book, uint64_t extraBytes) {
  return book.memoryLimit != 0 && (extraBytes > book.memoryLimit || book.counters.bytesLive > book.memoryLimit - extraBytes);
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
    auto found = book.blockBytes.find(block);
    if (found == book.blockBytes.end()) {
      continue;
    }
    book.counters.blocksLive -= 1;
    book.counters.bytesLive -= found->second;
    book.counters.blocksReclaimed += 1;
    book.blockBytes.erase(found);
    std::free(block);
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
    // A zero-byte request still gets a block of its own, which orrimFree takes back.
    void *block = (orrim::exceedsLimit(book, bytes) || bytes > SIZE_MAX)
                      ? nullptr
                      : std::malloc(bytes == 0 ? 1 : static_cast<size_t>(bytes));
    if (block != nullptr) {
      orrim::recordNewBlock(book, block, bytes);
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
  auto found = book.blockBytes.find(block);
  if (found == book.blockBytes.end()) {
    lock.unlock();
    orrim::detail::raiseModuleError("orrim:InvalidBlock", "orrimRealloc was given a block the host did not hand out.");
  }
  const uint64_t oldBytes = found->second;
  if (bytes > oldBytes && orrim::exceedsLimit(book, bytes - oldBytes)) {
    lock.unlock();
    orrim::raiseOutOfMemory(bytes);
  }
  void *grown = bytes > SIZE_MAX ? nullptr : std::realloc(block, bytes == 0 ? 1 : static_cast<size_t>(bytes));
  if (grown == nullptr) {
    lock.unlock();
    orrim::raiseOutOfMemory(bytes);  // the old block stays held and is reclaimed with the call
  }
  book.blockBytes.erase(found);
  book.counters.blocksLive -= 1;
  book.counters.bytesLive -= oldBytes;
  orrim::recordNewBlock(book, grown, bytes);
  book.counters.reallocations += 1;
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
  auto found = book.blockBytes.find(block);
  if (found == book.blockBytes.end()) {
    return;  // not ours, or freed already: never hand a stray pointer to free()
  }
  book.counters.blocksLive -= 1;
  book.counters.bytesLive -= found->second;
  book.blockBytes.erase(found);
  if (orrim::detail::CallRecord *call = orrim::detail::currentCall()) {
    call->blocks.erase(block);
  }
  std::free(block);
}

}  // extern "C"
