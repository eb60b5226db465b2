// What the binding's files share inside it: the handle lookups, taking a new
// connection into the handle table, and the last failure that no connection
// carries.
#pragma once

#include <memory>
#include <string>

#include "backend.h"
#include "handles.h"
#include "veltro/binding.h"

namespace veltro::db::detail {

// Client error numbers the binding reports for failures that no connection carries.
inline constexpr unsigned kUnknownError = 2000;      // CR_UNKNOWN_ERROR
inline constexpr unsigned kOutOfMemoryError = 2008;  // CR_OUT_OF_MEMORY
using db::kBadSettingError;

// The last failure that no connection can report: a failed embedded start, or
// a connection object that could not be made. Each new open attempt resets it.
// One per thread: it answers the thread whose open attempt failed.
struct LastFailure {
  unsigned number = 0;
  std::string message;
};

LastFailure& lastFailure();
void setLastFailure(unsigned number, std::string message);

const Entry* connEntry(Handle conn);
const Entry* resEntry(Handle res);

// Takes a connection object into the handle table; 0, with the object closed
// and the failure recorded, when the table is full.
Handle adopt(const VeltroBackendOps* ops, void* conn, std::shared_ptr<NodeWatch> watch = nullptr);

// A field's description as the backend filled it.
inline FieldInfo fieldInfoOf(const VeltroField& f) {
  FieldInfo info;
  if (f.name) info.name.assign(f.name, f.nameLength);
  if (f.table) info.table.assign(f.table, f.tableLength);
  if (f.def) info.def.assign(f.def, f.defLength);
  info.type = f.type;
  info.length = f.length;
  info.maxLength = f.maxLength;
  info.flags = f.flags;
  info.decimals = f.decimals;
  return info;
}

}  // namespace veltro::db::detail
