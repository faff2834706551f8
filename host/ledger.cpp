#include "ledger.h"

#include "block_cache.h"

namespace orrim {
namespace detail {
namespace {

// Built before any code runs, so no thread ever meets it half made.
constinit Ledger theLedger;

}  // namespace

Ledger &ledger() { return theLedger; }

void countBytesTaken(Ledger &book, uint64_t bytes) {
  book.counters.bytesLive += bytes;
  if (book.counters.bytesLive > book.counters.peakBytes) {
    book.counters.peakBytes = book.counters.bytesLive;
  }
}

bool exceedsLimit(const Ledger &book, uint64_t extraBytes) {
  return book.memoryLimit != 0 &&
         (extraBytes > book.memoryLimit || book.counters.bytesLive > book.memoryLimit - extraBytes);
}

void endCall(Ledger &book, CallRecord &record) {
  record.blocks.forEach([&book](const Holding &held) {
    book.counters.blocksLive -= 1;
    book.counters.bytesLive -= held.bytes;
    book.counters.blocksReclaimed += 1;
    keepOrRelease(held.address, held.capacity);
  });
  record.blocks.reset();
  record.arrays.forEach([&book](const Holding &held) {
    book.arraysLive.fetch_sub(deleteArrayTree(static_cast<OrrimArray *>(held.address)), std::memory_order_relaxed);
  });
  record.arrays.reset();

  if (record.previousInProgress != nullptr) {
    record.previousInProgress->nextInProgress = record.nextInProgress;
  } else {
    book.callsInProgress = record.nextInProgress;
  }
  if (record.nextInProgress != nullptr) {
    record.nextInProgress->previousInProgress = record.previousInProgress;
  }
  record.previousInProgress = nullptr;
  record.nextInProgress = nullptr;
}

void countArrayCreated() { ledger().arraysLive.fetch_add(1, std::memory_order_relaxed); }

void destroyArray(OrrimArray *array) {
  const uint64_t deleted = deleteArrayTree(array);
  if (deleted != 0) {
    ledger().arraysLive.fetch_sub(deleted, std::memory_order_relaxed);
  }
}

}  // namespace detail

Counters counters() {
  detail::Ledger &book = detail::ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  Counters now = book.counters;
  now.arraysLive = book.arraysLive.load(std::memory_order_relaxed);
  return now;
}

void resetCounters() {
  detail::Ledger &book = detail::ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  Counters fresh;
  fresh.blocksLive = book.counters.blocksLive;
  fresh.bytesLive = book.counters.bytesLive;
  fresh.peakBytes = book.counters.bytesLive;
  book.counters = fresh;
}

void setMemoryLimit(uint64_t bytes) {
  detail::Ledger &book = detail::ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  book.memoryLimit = bytes;
}

}  // namespace orrim
