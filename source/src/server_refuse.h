// Refusing an operation: report an internal error code and return what a
// refused operation gives, in one statement.
#pragma once

#include <memory>
#include <string>

#include "veltro/server.h"

namespace veltro::detail {

// What a refused operation returns: false (0 as a number), nil, an empty
// text, no pointer. `return refuse(srv, code)` reports and gives it. Only
// these: a type that converts from anything (std::optional) would take it as
// a value, so such a function returns its own empty value instead.
struct Refused {
  operator bool() const { return false; }     // NOLINT(google-explicit-constructor): converting is the point
  operator Value() const { return Value(); }  // NOLINT(google-explicit-constructor)
  operator std::string() const { return std::string(); }  // NOLINT(google-explicit-constructor)
  template <class T>
  operator T*() const {  // NOLINT(google-explicit-constructor)
    return nullptr;
  }
  template <class T>
  operator std::shared_ptr<T>() const {  // NOLINT(google-explicit-constructor)
    return nullptr;
  }
};

// Reports the internal error code (with the extra text) on srv.
inline Refused refuse(TQuillonSrv& srv, int code, const Value& extra = Value()) {
  srv.RaiseInternal(code, extra);
  return {};
}
// The same for a query's server, which may be gone (nothing reported then).
inline Refused refuse(const ServerPtr& srv, int code, const Value& extra = Value()) {
  if (srv) srv->RaiseInternal(code, extra);
  return {};
}

}  // namespace veltro::detail
