// Memory that runs out on demand, in the program this is linked into: it
// replaces operator new and posix_memalign, so that every allocation the host
// or a module makes can be made to fail in turn.
#pragma once

#include <cstdint>

namespace failing_allocations {

// Starts counting this thread's allocations, and makes the `n`-th one (from 1)
// fail as on a machine out of memory; 0 stops counting and fails none.
void failNthAllocation(uint64_t n);

// The allocations counted since failNthAllocation.
uint64_t allocationsCounted();

}  // namespace failing_allocations
