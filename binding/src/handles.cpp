// The handle tables: slots, generations and the lock-free lookup.
#include "handles.h"

#include <new>
#include <utility>
#include <vector>

namespace veltro::db::detail {

namespace {

Handle encode(HandleKind kind, std::uint32_t slot, std::uint32_t generation) {
  return static_cast<Handle>((generation << (kKindBits + kSlotBits)) | (slot << kKindBits) |
                             static_cast<std::uint32_t>(kind));
}

}  // namespace

HandleTable::Slot* HandleTable::slotAt(std::uint32_t index) {
  std::atomic<Slot*>& chunk = chunks_[index >> kChunkBits];
  Slot* slots = chunk.load(std::memory_order_relaxed);
  if (!slots) {
    slots = new (std::nothrow) Slot[kChunkSize];
    if (!slots) return nullptr;
    // Published whole: a lookup that sees the chunk sees its slots' empty words.
    chunk.store(slots, std::memory_order_release);
  }
  return &slots[index & (kChunkSize - 1)];
}

Handle HandleTable::add(const VeltroBackendOps* ops, void* object, std::shared_ptr<NodeWatch> watch) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint32_t index;
  Slot* slot;
  if (!free_.empty()) {
    index = free_.front();
    slot = slotAt(index);
    free_.pop_front();
  } else if (used_ < kMaxSlots && (slot = slotAt(used_))) {
    index = used_++;
  } else {
    return 0;
  }
  slot->entry = Entry{ops, object, std::move(watch)};
  const Handle h = encode(kind_, index, slot->generation);
  // The entry first, then the word that makes it reachable.
  slot->live.store(static_cast<std::uint32_t>(h), std::memory_order_release);
  ++live_;
  return h;
}

Entry HandleTable::retire(Slot& slot, std::uint32_t index) {
  slot.live.store(0, std::memory_order_release);
  slot.generation = slot.generation == kGenerationMask ? 1 : slot.generation + 1;
  free_.push_back(index);
  --live_;
  // Moved out: a watch held by a free slot would outlive its connection.
  return std::exchange(slot.entry, Entry{});
}

void HandleTable::release(Handle h) {
  Entry entry;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const Entry* found = find(h);
    if (!found) return;
    // Retired before the object is freed, so nothing can reach it twice; the
    // freeing itself (a network round trip for a connection) runs unlocked.
    const std::uint32_t index = (static_cast<std::uint32_t>(h) >> kKindBits) & (kMaxSlots - 1);
    entry = retire(*slotAt(index), index);
  }
  if (kind_ == HandleKind::Connection)
    entry.ops->close(entry.object);
  else
    entry.ops->freeResult(entry.object);
}

void HandleTable::releaseAll(const VeltroBackendOps* ops) {
  std::vector<Entry> doomed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::uint32_t i = 0; i < used_; ++i) {
      Slot& slot = *slotAt(i);
      if (slot.live.load(std::memory_order_relaxed) != 0 && slot.entry.ops == ops) doomed.push_back(retire(slot, i));
    }
  }
  for (const Entry& entry : doomed) {
    if (kind_ == HandleKind::Connection)
      entry.ops->close(entry.object);
    else
      entry.ops->freeResult(entry.object);
  }
}

std::size_t HandleTable::liveCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_;
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
