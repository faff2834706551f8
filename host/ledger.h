// The host's one lock and what it guards: the counters, the blocks taken
// outside any call, and everything the records of the calls in progress
// hold. Whatever changes one of these does so under the lock.
#pragma once

#include "holding_table.h"
#include "host_internal.h"
#include "orrim_host.hpp"

#include <mutex>

namespace orrim::detail {

struct Ledger {
  std::mutex mutex;
  Counters counters;
  uint64_t memoryLimit = 0;
  Holding slotsOutsideCalls[16];
  HoldingTable blocksOutsideCalls{slotsOutsideCalls, 16};
};

Ledger &ledger();

// The functions below are called with the lock held.

// Counts `bytes` more live, and the peak they may raise.
void countBytesTaken(Ledger &book, uint64_t bytes);

// Whether `extraBytes` more would pass the memory limit.
bool exceedsLimit(const Ledger &book, uint64_t extraBytes);

// Releases every block and array the call still holds, counting the blocks
// as reclaimed.
void endCall(Ledger &book, CallRecord &record);

}  // namespace orrim::detail
