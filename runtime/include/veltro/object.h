// Objects that answer messages by name: names match without regard to case,
// members read as "NAME" and write as "_NAME" with one argument, and messages
// that the class does not define go to the class's handler of unknown messages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "veltro/export.h"
#include "veltro/value.h"

namespace veltro {

class Object;

// Argument i (from 0) of a message; nil when the sender passed fewer.
inline const Value& argAt(Args args, std::size_t i) {
  static const Value nil;
  return i < args.size() ? args[i] : nil;
}

// One table per class: message name -> handler. Built once, shared by every instance.
class VELTRO_API MessageTable {
 public:
  using Handler = Value (*)(Object& self, Args args);

  // Adds a message; later additions with the same name replace earlier ones.
  MessageTable& add(std::string_view name, Handler handler);
  // Adds "NAME" (read) and "_NAME" (write with one argument) for a Value member of class C.
  template <class C, Value C::*Member>
  MessageTable& member(std::string_view name) {
    add(name, [](Object& self, Args) -> Value { return static_cast<C&>(self).*Member; });
    std::string setter(1, '_');
    setter += name;
    add(setter, [](Object& self, Args args) -> Value {
      Value v = args.empty() ? Value() : args[0];
      static_cast<C&>(self).*Member = v;
      return v;
    });
    return *this;
  }
  // Adds a message that calls member function Method of class C: the
  // message's arguments in order (nil for those not passed; each parameter
  // takes a const Value&), its result as a Value (nil for void; the object
  // itself for a function returning a reference to it).
  template <auto Method>
  MessageTable& method(std::string_view name) {
    return add(name, [](Object& self, Args args) -> Value { return callMember(Method, self, args); });
  }
  // Copies every message of a base class's table.
  MessageTable& inherit(const MessageTable& base);
  // Room for n messages, so that building a large table does not grow it as it goes.
  MessageTable& reserve(std::size_t n);

  // The handler of a message name, found without regard to case; nullptr for none.
  const Handler* find(std::string_view name) const;

 private:
  template <class C, class R, class... P>
  static Value callMember(R (C::*method)(P...), Object& self, Args args) {
    return invoke<C, R>(static_cast<C&>(self), args, method, std::index_sequence_for<P...>{});
  }
  template <class C, class R, class... P>
  static Value callMember(R (C::*method)(P...) const, Object& self, Args args) {
    return invoke<C, R>(static_cast<C&>(self), args, method, std::index_sequence_for<P...>{});
  }
  template <class C, class R, class M, std::size_t... I>
  static Value invoke(C& object, Args args, M method, std::index_sequence<I...>) {
    if constexpr (std::is_void_v<R>) {
      (object.*method)(argAt(args, I)...);
      return {};
    } else if constexpr (std::is_lvalue_reference_v<R>) {
      (object.*method)(argAt(args, I)...);  // returns the object itself
      return Value(std::static_pointer_cast<C>(object.shared_from_this()));
    } else {
      return Value((object.*method)(argAt(args, I)...));
    }
  }

  struct Entry {
    std::string name;
    Handler handler;
    std::size_t hash;  // of the case-folded name
  };
  void grow(std::size_t slots);
  // Entries in order of addition, and an open-addressed index into them whose
  // size is a power of two: each slot holds part of its name's hash, so a
  // probe reads no entry that cannot match, and the position + 1 (0: free).
  struct Slot {
    std::uint32_t hash;
    std::uint32_t index;
  };
  std::vector<Entry> entries_;
  std::vector<Slot> slots_;
};

// The root of the library's objects: made in a shared_ptr, answering messages
// by name through its class's table.
class VELTRO_API Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object() = default;

  // The class name in upper case ("TQUILLONSRV"), as messages report it.
  virtual std::string_view className() const = 0;

  // Sends a message by name with its arguments.
  Value send(std::string_view message, Args args = {});
  template <class... A>
  Value send(std::string_view message, A&&... a) {
    Value argv[] = {Value(std::forward<A>(a))...};
    return send(message, Args(argv, sizeof...(A)));
  }

  // Whether the class defines the message (unknown messages excluded).
  bool understands(std::string_view message) const { return messages().find(message) != nullptr; }

 protected:
  virtual const MessageTable& messages() const = 0;
  // Called for a message that the class does not define. The default reports
  // SubSystem "BASE", SubCode 1004 (1005 for an assignment), "Message not found".
  virtual Value onUnknown(std::string_view message, Args args);
};

// An object of exactly T (the usual case: a query's server, a row's query) is
// recognised without a dynamic cast.
template <class T>
std::shared_ptr<T> Value::asObjectOf() const {
  const ObjectPtr* o = std::get_if<ObjectPtr>(&v_);
  if (!o || !*o) return nullptr;
  const Object& object = **o;
  if (typeid(object) == typeid(T)) return std::static_pointer_cast<T>(*o);
  return std::dynamic_pointer_cast<T>(*o);
}

}  // namespace veltro
