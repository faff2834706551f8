// What the parts of the host share: the array representation, the error that
// ends a module call, and the record of a call in progress.
#pragma once

#include "holding_table.h"
#include "orrim.h"
#include "orrim_host.hpp"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

// The storage of a host-made array goes back as it was taken: a large one
// from calloc, a small one from new.
struct ArrayStorageRelease {
  bool fromCalloc = false;
  void operator()(double *data) const noexcept {
    if (fromCalloc) {
      std::free(data);
    } else {
      delete[] data;
    }
  }
};

struct OrrimArray {
  bool isCell = false;
  std::vector<uint64_t> dimensions;  // at least two
  uint64_t elementCount = 0;
  uint64_t columnCount = 0;  // the product of all dimensions after the first
  double *data = nullptr;  // real arrays: never null, also when empty
  std::unique_ptr<double[], ArrayStorageRelease> ownedData;  // data, when the host made it; null when it wraps the caller's
  std::vector<OrrimArray *> elements;  // cell arrays: one slot per element, null when unset
};

namespace orrim::detail {

inline constexpr const char *outOfMemoryIdentifier = "orrim:OutOfMemory";

// Thrown by orrimRaiseError and when memory runs out; caught by Module::call.
// The texts sit in the error itself, so ending a call, even for want of
// memory, never asks for memory; longer texts are cut short.
struct ModuleError {
  char identifier[128];
  char message[1024];
};

// Formats the message like printf.
[[noreturn]] void raiseModuleError(const char *identifier, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Everything one module call has taken from the host: a module sees a block
// or an array only once it is recorded here. While it exists the record is
// this thread's current call and is listed among the calls in progress; its
// end, on whatever path, releases what the call still holds and makes the
// call that was current before it current again.
struct CallRecord {
  CallRecord();
  ~CallRecord();
  CallRecord(const CallRecord &) = delete;
  CallRecord &operator=(const CallRecord &) = delete;

  // Gives the caller each of the first `count` slots that holds an array this
  // call created (at most once each), and null for any other slot; `outputs`
  // must already have room for `count` more. What is not handed over is
  // released with the record.
  void handOverOutputs(OrrimArray *const slots[], size_t count, std::vector<ArrayPtr> &outputs);

  // Room inside the record for what a module usually takes: 64 blocks (the
  // simulation smoother's 38, and more) and 2 arrays, a table being never
  // more than half full.
  static constexpr size_t inlineBlockSlots = 128;
  static constexpr size_t inlineArraySlots = 4;
  Holding blockSlots[inlineBlockSlots];
  Holding arraySlots[inlineArraySlots];
  HoldingTable blocks{blockSlots, inlineBlockSlots};
  HoldingTable arrays{arraySlots, inlineArraySlots};
  CallRecord *const outer;  // the call this one runs inside, or null
  const void *const thread;  // which thread runs it
  CallRecord *previousInProgress = nullptr;
  CallRecord *nextInProgress = nullptr;
};

// The call in progress on this thread, or null outside a call.
CallRecord *currentCall();

// Room in the current call's record (if any) for one more created array;
// false when there is no memory for it.
bool reserveRoomForArray(CallRecord *call);
// Counts a new array and, inside a call, records it as the call's.
void recordNewArray(CallRecord *call, OrrimArray *array);
void countArrayCreated();

// Deletes an array and the elements under it; returns how many arrays that
// was. Counts nothing.
uint64_t deleteArrayTree(OrrimArray *array);
// Deletes and uncounts an array and everything under it.
void destroyArray(OrrimArray *array);

}  // namespace orrim::detail
