#include "handles.h"

namespace veltro::db::detail {

namespace {

constexpr unsigned kKindBits = 1;
constexpr unsigned kSlotBits = 16;
constexpr unsigned kGenerationBits = 14;
constexpr std::uint32_t kMaxSlots = 1u << kSlotBits;
constexpr std::uint32_t kGenerationMask = (1u << kGenerationBits) - 1;
static_assert(kKindBits + kSlotBits + kGenerationBits == 31, "handles must fit a signed 32-bit number");

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

HandleTable::Slot* HandleTable::slotOf(Handle h) {
  if (h <= 0 || h > 0x7FFFFFFF) return nullptr;
  auto bits = static_cast<std::uint32_t>(h);
  if ((bits & 1u) != static_cast<std::uint32_t>(kind_)) return nullptr;
  std::uint32_t index = (bits >> kKindBits) & (kMaxSlots - 1);
  std::uint32_t generation = bits >> (kKindBits + kSlotBits);
  if (index >= slots_.size()) return nullptr;
  Slot& slot = slots_[index];
  if (slot.generation != generation || !slot.entry.object) return nullptr;
  return &slot;
}

const Entry* HandleTable::find(Handle h) const {
  Slot* slot = const_cast<HandleTable*>(this)->slotOf(h);
  return slot ? &slot->entry : nullptr;
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
