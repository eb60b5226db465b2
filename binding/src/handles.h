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
  const Entry* find(Handle h) const;
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
  Slot* slotOf(Handle h);

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
