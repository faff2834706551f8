// A process may fork while other threads are inside module calls (Python's
// multiprocessing forks beside a thread pool). The child has only the thread
// that forked: the host's lock must not be left held by a thread that is not
// there, and the calls those threads had in progress will never end there.
#include "ledger.h"

#include <pthread.h>

namespace orrim::detail {
namespace {

// Waits until no thread is changing the ledger, so that the child's copy is whole.
void takeLockBeforeFork() { ledger().mutex.lock(); }

void releaseLockInParent() { ledger().mutex.unlock(); }

// The child's ledger then describes only what lives in the child.
void endOtherThreadsCallsInChild() {
  Ledger &book = ledger();
  CallRecord *record = book.callsInProgress;
  while (record != nullptr) {
    CallRecord *next = record->nextInProgress;
    if (record->thread != thisThread()) {
      endCall(book, *record);
    }
    record = next;
  }
  book.mutex.unlock();
}

[[maybe_unused]] const int registered =
    pthread_atfork(takeLockBeforeFork, releaseLockInParent, endOtherThreadsCallsInChild);

}  // namespace
}  // namespace orrim::detail
