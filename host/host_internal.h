// What the parts of the host share: the array representation and the record
// of the module call in progress.
#pragma once

#include "orrim.h"

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

struct OrrimArray {
  bool isCell = false;
  std::vector<uint64_t> dimensions;  // at least two
  uint64_t elementCount = 0;
  uint64_t columnCount = 0;  // the product of all dimensions after the first
  double *data = nullptr;  // real arrays: never null, also when empty
  bool ownsData = false;
  std::vector<OrrimArray *> elements;  // cell arrays: one slot per element, null when unset
};

namespace orrim::detail {

// Thrown by orrimRaiseError and by a failed allocation; caught by Module::call.
struct ModuleError {
  std::string identifier;
  std::string message;
};

// Everything one module call has taken from the host.
struct CallRecord {
  std::unordered_set<void *> blocks;
  std::unordered_set<OrrimArray *> createdArrays;
};

// The call in progress on this thread, or null outside a call.
CallRecord *currentCall();
void setCurrentCall(CallRecord *record);

// Releases every block the call still holds and counts them as reclaimed.
void reclaimBlocks(CallRecord &record);

void countArrayCreated();
void countArrayDestroyed();
void destroyArray(OrrimArray *array);

[[noreturn]] void raiseModuleError(const std::string &identifier, const std::string &message);

}  // namespace orrim::detail
