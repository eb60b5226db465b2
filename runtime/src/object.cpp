// Objects that answer messages by name through one message table per class.
#include "veltro/object.h"

#include <memory>

#include "veltro/error.h"

namespace veltro {

// Case-folded, so that "Rollback" and "ROLLBACK" meet in one bucket.
std::size_t MessageTable::Hash::operator()(std::string_view s) const { return keyHash(s, true); }

bool MessageTable::Eq::operator()(std::string_view a, std::string_view b) const { return equalsNoCase(a, b); }

MessageTable& MessageTable::add(std::string_view name, Handler handler) {
  auto [it, added] = handlers_.emplace(std::string(name), handler);
  if (!added) it->second = handler;
  return *this;
}

// Messages that the class already defines are kept, so a class may add its own
// messages before or after inheriting and still override its base.
MessageTable& MessageTable::inherit(const MessageTable& base) {
  for (const auto& [name, handler] : base.handlers_) handlers_.emplace(name, handler);
  return *this;
}

const MessageTable::Handler* MessageTable::find(std::string_view name) const {
  auto it = handlers_.find(name);
  return it == handlers_.end() ? nullptr : &it->second;
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
