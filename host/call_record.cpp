// The record of a module call: what it holds, from the moment a module can
// see it until the call ends.
#include "host_internal.h"
#include "ledger.h"

namespace orrim::detail {
namespace {

thread_local CallRecord *callInProgress = nullptr;
// Its address tells the threads apart.
thread_local char threadMarker;

}  // namespace

const void *thisThread() { return &threadMarker; }

CallRecord *currentCall() { return callInProgress; }

CallRecord::CallRecord() : outer(callInProgress), thread(thisThread()) {
  Ledger &book = ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  nextInProgress = book.callsInProgress;
  if (nextInProgress != nullptr) {
    nextInProgress->previousInProgress = this;
  }
  book.callsInProgress = this;
  callInProgress = this;
}

CallRecord::~CallRecord() {
  Ledger &book = ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  endCall(book, *this);
  callInProgress = outer;
}

void CallRecord::handOverOutputs(OrrimArray *const slots[], size_t count, std::vector<ArrayPtr> &outputs) {
  Ledger &book = ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  for (size_t slot = 0; slot < count; ++slot) {
    Holding *created = slots[slot] != nullptr ? arrays.find(slots[slot]) : nullptr;
    if (created != nullptr) {
      arrays.erase(created);
      outputs.emplace_back(slots[slot]);
    } else {
      outputs.emplace_back(nullptr);
    }
  }
}

bool reserveRoomForArray(CallRecord *call) {
  if (call == nullptr) {
    return true;
  }
  Ledger &book = ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  return call->arrays.reserveOneMore();
}

void recordNewArray(CallRecord *call, OrrimArray *array) {
  Ledger &book = ledger();
  std::lock_guard<std::mutex> lock(book.mutex);
  if (call != nullptr) {
    call->arrays.insert(Holding{array, 0, 0});
  }
  book.arraysLive.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace orrim::detail
