#include "handles.h"

namespace veltro::db::detail {

namespace {

Handle encode(HandleKind kind, std::uint32_t slot, std::uint32_t generation) {
  return static_cast<Handle>((generation << (kKindBits + kSlotBits)) | (slot << kKindBits) |
                             static_cast<std::uint32_t>(kind));
}

}  // namespace

Handle HandleTable::add(const VeltroBackendOps* ops, void* object) {
  std::uint32_t index;
  if (!free_.empty()) {
    index = free_.front();
    free_.pop_front();
  } else if (slots_.size() < kMaxSlots) {
    index = static_cast<std::uint32_t>(slots_.size());
    slots_.emplace_back();
  } else {
    return 0;
  }
  Slot& slot = slots_[index];
  slot.entry = Entry{ops, object};
  return encode(kind_, index, slot.generation);
}

void HandleTable::release(Handle h) {
  Slot* slot = slotOf(h);
  if (!slot) return;
  // Retire the handle before freeing, so nothing can reach the object twice.
  Entry entry = slot->entry;
  slot->entry = Entry{};
  slot->generation = slot->generation == kGenerationMask ? 1 : slot->generation + 1;
  free_.push_back(static_cast<std::uint32_t>(slot - slots_.data()));
  if (kind_ == HandleKind::Connection)
    entry.ops->close(entry.object);
  else
    entry.ops->freeResult(entry.object);
}

void HandleTable::releaseAll(const VeltroBackendOps* ops) {
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& slot = slots_[i];
    if (slot.entry.object && slot.entry.ops == ops)
      release(encode(kind_, static_cast<std::uint32_t>(i), slot.generation));
  }
}

HandleTable& connections() {
  static HandleTable* table = new HandleTable(HandleKind::Connection);
  return *table;
}

HandleTable& results() {
  static HandleTable* table = new HandleTable(HandleKind::Result);
  return *table;
}

}  // namespace veltro::db::detail
