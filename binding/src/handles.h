// The handle tables: the numbers the binding hands out for connections and
// results, and the client-library objects behind them.
//
// A handle encodes a slot and that slot's generation (and whether it names a
// connection or a result), so a handle whose object was freed, or a number
// that was never handed out, reads as none instead of reaching freed memory.
// Handles stay below 2^31 because callers read them as signed 32-bit numbers.
//
// Threads: any thread may add, find and release at any time. add and release
// take the table's mutex; find takes no lock. A slot's word says which handle
// lives in it and is published after the entry it guards is written, and
// slots live in chunks that never move, so a lookup reads either the live
// entry of its own handle or nothing.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "backend.h"
#include "node_watch.h"
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
  std::shared_ptr<NodeWatch> watch;  // a host list's connection, and a result streamed from it
};

class HandleTable {
 public:
  explicit HandleTable(HandleKind kind) : kind_(kind) {}
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  // Takes ownership of object; 0 when every slot is in use (object is then
  // left to the caller).
  Handle add(const VeltroBackendOps* ops, void* object, std::shared_ptr<NodeWatch> watch = nullptr);
  // The live entry of h, or null for 0, a stale handle or a handle of the other kind.
  // Inline: every call of the binding looks its handle up. The entry stays
  // valid until h is released, which only h's user does.
  const Entry* find(Handle h) const {
    if (h <= 0 || h > 0x7FFFFFFF) return nullptr;
    const auto bits = static_cast<std::uint32_t>(h);
    const std::uint32_t index = (bits >> kKindBits) & (kMaxSlots - 1);
    const Slot* chunk = chunks_[index >> kChunkBits].load(std::memory_order_acquire);
    if (!chunk) return nullptr;
    const Slot& slot = chunk[index & (kChunkSize - 1)];
    // The word holds the whole live handle (kind, slot, generation), or 0.
    return slot.live.load(std::memory_order_acquire) == bits ? &slot.entry : nullptr;
  }
  // Frees the object of h through its backend and retires h; nothing for none.
  void release(Handle h);
  // Releases every live object of one backend.
  void releaseAll(const VeltroBackendOps* ops);
  std::size_t liveCount() const;

 private:
  static constexpr unsigned kChunkBits = 10;
  static constexpr std::uint32_t kChunkSize = 1u << kChunkBits;
  struct Slot {
    // The handle that lives here, 0 while the slot is free. Written under
    // mutex_; the entry is written before a handle is stored.
    std::atomic<std::uint32_t> live{0};
    std::uint32_t generation = 1;  // of the next handle; under mutex_
    Entry entry;
  };
  // Under mutex_: the slot of index, its chunk made on first use; null when
  // memory runs out.
  Slot* slotAt(std::uint32_t index);
  // Under mutex_: retires the live handle bits and hands back its entry.
  Entry retire(Slot& slot, std::uint32_t index);

  HandleKind kind_;
  mutable std::mutex mutex_;
  // Chunks of slots, made as slots are first used and never freed or moved.
  std::array<std::atomic<Slot*>, kMaxSlots / kChunkSize> chunks_{};
  std::uint32_t used_ = 0;  // slots ever used; under mutex_
  std::size_t live_ = 0;    // under mutex_
  // Oldest-freed slot first, so a slot's generation turns over as late as possible.
  std::deque<std::uint32_t> free_;
};

// The process's tables. They are never destroyed: handles are released
// explicitly, and freeing objects during static destruction could run after
// the embedded server is gone.
HandleTable& connections();
HandleTable& results();

}  // namespace veltro::db::detail
