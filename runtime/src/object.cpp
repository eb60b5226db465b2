// Objects that answer messages by name through one message table per class.
#include "veltro/object.h"

#include <memory>

#include "veltro/error.h"

namespace veltro {

// Names are hashed case-folded, so that "Rollback" and "ROLLBACK" meet in one
// chain. Tables are built once per class and then only read.
MessageTable& MessageTable::reserve(std::size_t n) {
  entries_.reserve(n);
  std::size_t want = 16;
  while (want < 2 * n) want *= 2;
  if (want > slots_.size()) grow(want);
  return *this;
}

void MessageTable::grow(std::size_t slots) {
  slots_.assign(slots, Slot{0, 0});
  const std::size_t mask = slots - 1;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    std::size_t at = entries_[i].hash & mask;
    while (slots_[at].index != 0) at = (at + 1) & mask;
    slots_[at] = Slot{static_cast<std::uint32_t>(entries_[i].hash), static_cast<std::uint32_t>(i + 1)};
  }
}

MessageTable& MessageTable::add(std::string_view name, Handler handler) {
  const std::size_t hash = keyHash(name, true);
  if (2 * (entries_.size() + 1) > slots_.size()) grow(slots_.empty() ? 16 : 2 * slots_.size());
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = hash & mask;
  for (; slots_[at].index != 0; at = (at + 1) & mask) {
    if (slots_[at].hash != static_cast<std::uint32_t>(hash)) continue;
    Entry& e = entries_[slots_[at].index - 1];
    if (equalsNoCase(e.name, name)) {
      e.handler = handler;
      return *this;
    }
  }
  entries_.push_back(Entry{std::string(name), handler, hash});
  slots_[at] = Slot{static_cast<std::uint32_t>(hash), static_cast<std::uint32_t>(entries_.size())};
  return *this;
}

// Messages that the class already defines are kept, so a class may add its own
// messages before or after inheriting and still override its base.
MessageTable& MessageTable::inherit(const MessageTable& base) {
  for (const Entry& e : base.entries_)
    if (!find(e.name)) add(e.name, e.handler);
  return *this;
}

const MessageTable::Handler* MessageTable::find(std::string_view name) const {
  if (slots_.empty()) return nullptr;
  const std::size_t hash = keyHash(name, true);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = hash & mask; slots_[at].index != 0; at = (at + 1) & mask) {
    if (slots_[at].hash != static_cast<std::uint32_t>(hash)) continue;
    const Entry& e = entries_[slots_[at].index - 1];
    if (equalsNoCase(e.name, name)) return &e.handler;
  }
  return nullptr;
}

Value Object::send(std::string_view message, Args args) {
  if (const MessageTable::Handler* handler = messages().find(message)) return (*handler)(*this, args);
  return onUnknown(message, args);
}

// Reports the message as not found: 1004 for a read, 1005 for an assignment
// ("_NAME"); the operation names the class and the bare name.
Value Object::onUnknown(std::string_view message, Args) {
  auto error = std::make_shared<Error>();
  const bool assignment = !message.empty() && message.front() == '_';
  if (assignment) message.remove_prefix(1);
  error->SubSystem = "BASE";
  error->SubCode = assignment ? 1005 : 1004;
  error->Severity = 2;
  error->Description = "Message not found";
  error->Operation = std::string(className()) + ": " + std::string(message);
  raiseError(error);
  return Value();
}

}  // namespace veltro
