// What one call (or the host outside any call) holds: blocks or arrays by
// their address. A small table lives inside its owner, so a call that takes
// the usual handful of blocks costs no heap work of its own; a larger one
// grows, and only ever before the thing it will record exists, so recording
// never fails once a block or array has been made.
//
// Lookups compare addresses only: an address a module made up is never read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orrim::detail {

struct Holding {
  void *address = nullptr;  // null marks a free slot
  uint64_t bytes = 0;       // blocks: the size asked for
  uint64_t capacity = 0;    // blocks: what the memory behind them can hold
};

// Open addressing with linear probing, never more than half full.
class HoldingTable {
 public:
  // `inlineSlots` (a power of two, at least 2) live in the owner's storage.
  constexpr HoldingTable(Holding *inlineSlots, size_t inlineSlotCount)
      : inlineSlots_(inlineSlots), inlineSlotCount_(inlineSlotCount), slots_(inlineSlots), slotCount_(inlineSlotCount) {}
  ~HoldingTable() { reset(); }
  HoldingTable(const HoldingTable &) = delete;
  HoldingTable &operator=(const HoldingTable &) = delete;

  // Makes room for one more insert; false, with nothing changed, when the
  // system has no memory for a larger table.
  bool reserveOneMore() noexcept;
  // After reserveOneMore, or after an erase: cannot fail.
  void insert(const Holding &holding) noexcept;
  Holding *find(const void *address) noexcept;
  void erase(Holding *holding) noexcept;
  size_t size() const { return used_; }

  template <class Visit>
  void forEach(Visit visit) {
    for (size_t slot = 0; slot < slotCount_; ++slot) {
      if (slots_[slot].address != nullptr) {
        visit(slots_[slot]);
      }
    }
  }
  // Forgets every holding, and gives back the storage the table grew into;
  // what the holdings describe is the caller's to release first.
  void reset() noexcept;

 private:
  size_t homeSlot(const void *address) const;

  Holding *inlineSlots_;
  size_t inlineSlotCount_;
  Holding *slots_;
  size_t slotCount_;
  size_t used_ = 0;
};

}  // namespace orrim::detail
