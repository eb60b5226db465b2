// The handle tables: the numbers the binding hands out for connections and
// results, and the client-library objects behind them.
//
// A handle encodes a slot and that slot's generation (and whether it names a
// connection or a result), so a handle whose object was freed, or a number
// that was never handed out, reads as none instead of reaching freed memory.
// Handles stay below 2^31 because callers read them as signed 32-bit numbers.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "backend.h"
#include "veltro/binding.h"

namespace veltro::db::detail {

enum class HandleKind : unsigned { Connection = 0, Result = 1 };

// A handle's bits, from the lowest: its kind, its slot, the slot's generation.
constexpr unsigned kKindBits = 1;
constexpr unsigned kSlotBits = 16;
constexpr unsigned kGenerationBits = 14;
constexpr std::uint32_t kMaxSlots = 1u << kSlotBits;
constexpr std::uint32_t kGenerationMask = (1u << kGenerationBits) - 1;
static_assert(kKindBits + kSlotBits + kGenerationBits == 31, "handles must fit a signed 32-bit number");

// A live object and the backend that owns it.
struct Entry {
  const VeltroBackendOps* ops = nullptr;
  void* object = nullptr;
};

class HandleTable {
 public:
  explicit HandleTable(HandleKind kind) : kind_(kind) {}
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  // Takes ownership of object; 0 when every slot is in use (object is then
  // left to the caller).
  Handle add(const VeltroBackendOps* ops, void* object);
  // The live entry of h, or null for 0, a stale handle or a handle of the other kind.
  // Inline: every call of the binding looks its handle up.
  const Entry* find(Handle h) const {
    const Slot* slot = slotOf(h);
    return slot ? &slot->entry : nullptr;
  }
  // Frees the object of h through its backend and retires h; nothing for none.
  void release(Handle h);
  // Releases every live object of one backend.
  void releaseAll(const VeltroBackendOps* ops);
  std::size_t liveCount() const { return slots_.size() - free_.size(); }

 private:
  struct Slot {
    Entry entry;
    std::uint32_t generation = 1;
  };
  const Slot* slotOf(Handle h) const {
    if (h <= 0 || h > 0x7FFFFFFF) return nullptr;
    const auto bits = static_cast<std::uint32_t>(h);
    if ((bits & 1u) != static_cast<std::uint32_t>(kind_)) return nullptr;
    const std::uint32_t index = (bits >> kKindBits) & (kMaxSlots - 1);
    if (index >= slots_.size()) return nullptr;
    const Slot& slot = slots_[index];
    if (slot.generation != bits >> (kKindBits + kSlotBits) || !slot.entry.object) return nullptr;
    return &slot;
  }
  Slot* slotOf(Handle h) { return const_cast<Slot*>(static_cast<const HandleTable&>(*this).slotOf(h)); }

  HandleKind kind_;
  std::vector<Slot> slots_;
  // Oldest-freed slot first, so a slot's generation turns over as late as possible.
  std::deque<std::uint32_t> free_;
};

// The process's tables. They are never destroyed: handles are released
// explicitly, and freeing objects during static destruction could run after
// the embedded server is gone.
HandleTable& connections();
HandleTable& results();

}  // namespace veltro::db::detail
