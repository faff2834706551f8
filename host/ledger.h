// The host's one lock and what it guards: the counters, the blocks taken
// outside any call, and the list of calls in progress with everything their
// records hold. Whatever changes one of these does so under the lock, so a
// process that forks sees them whole (see fork_safety.cpp). The count of live
// arrays alone is an atomic of its own: every input of every call is an
// array made and destroyed, and a word changed atomically is always whole.
#pragma once

#include "holding_table.h"
#include "host_internal.h"
#include "orrim_host.hpp"

#include <atomic>
#include <mutex>

namespace orrim::detail {

struct Ledger {
  std::mutex mutex;
  Counters counters;  // all but arraysLive
  std::atomic<uint64_t> arraysLive{0};
  uint64_t memoryLimit = 0;
  Holding slotsOutsideCalls[16];
  HoldingTable blocksOutsideCalls{slotsOutsideCalls, 16};
  CallRecord *callsInProgress = nullptr;
};

Ledger &ledger();

// The functions below are called with the lock held.

// Counts `bytes` more live, and the peak they may raise.
void countBytesTaken(Ledger &book, uint64_t bytes);

// Whether `extraBytes` more would pass the memory limit.
bool exceedsLimit(const Ledger &book, uint64_t extraBytes);

// Releases every block and array the call still holds, counting the blocks
// as reclaimed, and takes it off the list of calls in progress.
void endCall(Ledger &book, CallRecord &record);

}  // namespace orrim::detail

namespace orrim::detail {

// Names the calling thread, for telling apart the calls in progress.
const void *thisThread();

}  // namespace orrim::detail
