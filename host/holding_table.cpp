#include "holding_table.h"

#include <new>

namespace orrim::detail {

size_t HoldingTable::homeSlot(const void *address) const {
  // Blocks start on 64-byte lines and arrays on 16 bytes, so the low bits
  // carry nothing; a multiply by 2^64/phi spreads the others over the word.
  uint64_t key = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address) >> 4) * 0x9E3779B97F4A7C15u;
  key ^= key >> 32;
  return static_cast<size_t>(key) & (slotCount_ - 1);
}

bool HoldingTable::reserveOneMore() noexcept {
  if ((used_ + 1) * 2 <= slotCount_) {
    return true;
  }
  if (slotCount_ > SIZE_MAX / 2 / sizeof(Holding)) {
    return false;
  }
  const size_t grownCount = slotCount_ * 2;
  Holding *grown = new (std::nothrow) Holding[grownCount];
  if (grown == nullptr) {
    return false;
  }
  Holding *old = slots_;
  const size_t oldCount = slotCount_;
  slots_ = grown;
  slotCount_ = grownCount;
  used_ = 0;
  for (size_t slot = 0; slot < oldCount; ++slot) {
    if (old[slot].address != nullptr) {
      insert(old[slot]);
    }
  }
  if (old != inlineSlots_) {
    delete[] old;
  } else {
    for (size_t slot = 0; slot < oldCount; ++slot) {
      old[slot] = Holding{};
    }
  }
  return true;
}

void HoldingTable::insert(const Holding &holding) noexcept {
  size_t slot = homeSlot(holding.address);
  while (slots_[slot].address != nullptr) {
    slot = (slot + 1) & (slotCount_ - 1);
  }
  slots_[slot] = holding;
  used_ += 1;
}

Holding *HoldingTable::find(const void *address) noexcept {
  for (size_t slot = homeSlot(address); slots_[slot].address != nullptr; slot = (slot + 1) & (slotCount_ - 1)) {
    if (slots_[slot].address == address) {
      return &slots_[slot];
    }
  }
  return nullptr;
}

void HoldingTable::erase(Holding *holding) noexcept {
  // Later holdings of the same run move back into the hole, so that no
  // lookup meets an empty slot before the holding it looks for.
  const size_t mask = slotCount_ - 1;
  size_t hole = static_cast<size_t>(holding - slots_);
  for (size_t next = (hole + 1) & mask; slots_[next].address != nullptr; next = (next + 1) & mask) {
    const size_t home = homeSlot(slots_[next].address);
    if (((next - home) & mask) >= ((next - hole) & mask)) {
      slots_[hole] = slots_[next];
      hole = next;
    }
  }
  slots_[hole] = Holding{};
  used_ -= 1;
}

void HoldingTable::reset() noexcept {
  if (slots_ != inlineSlots_) {
    delete[] slots_;
    slots_ = inlineSlots_;
    slotCount_ = inlineSlotCount_;
  }
  if (used_ != 0) {
    for (size_t slot = 0; slot < slotCount_; ++slot) {
      slots_[slot] = Holding{};
    }
    used_ = 0;
  }
}

}  // namespace orrim::detail
