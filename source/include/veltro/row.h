// TQuillonRow: a detached copy of one row of a query. Columns are read and
// written by name on the copy (row->send("age"), row->send("_age", 31));
// SetData() writes the copy back into the query's current row; every other
// message goes on to the query.
#pragma once

#include <memory>
#include <string>

#include "veltro/export.h"
#include "veltro/object.h"
#include "veltro/query.h"
#include "veltro/value.h"

namespace veltro {

class VELTRO_API TQuillonRow : public Object {
  struct Key {};

 public:
  // A copy of the query's current row; with no query, an empty row object.
  static RowPtr New(const QueryPtr& query);
  // For New only (Key is private): the row lives in a shared_ptr.
  explicit TQuillonRow(Key) {}

  // The system's class name, as messages and reports give it.
  std::string_view className() const override { return "TQUILLONROW"; }

  Value uRow;     // current values, keyed "_" + lower-case column name
  Value uOldRow;  // values as the query had loaded them
  Value oQuery;   // the query that made the row
  Value nRecno;   // the query's row number when the row was made

  // Copies both tables over the query's current row (wherever the cursor now
  // stands). Values go as written on the copy, unescaped, as FieldPut holds
  // them: Save escapes them once. Nothing without a query.
  void SetData();

  // Reads a column of the copy (nil when absent).
  Value get(std::string_view column) const;

 protected:
  const MessageTable& messages() const override;
  Value onUnknown(std::string_view message, Args args) override;
};

}  // namespace veltro
