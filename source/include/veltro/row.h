// TQuillonRow: a detached copy of one row of a query. Columns are read and
// written by name on the copy (row->send("age"), row->send("_age", 31));
// SetData() writes the copy back into the query's current row; every other
// message goes on to the query.
#pragma once

#include <memory>
#include <string>

#include "veltro/object.h"
#include "veltro/query.h"
#include "veltro/value.h"

namespace veltro {

class TQuillonRow : public Object {
  struct Key {};

 public:
  static RowPtr New(const QueryPtr& query);
  explicit TQuillonRow(Key) {}

  std::string_view className() const override { return "TQUILLONROW"; }

  Value uRow;     // current values, keyed "_" + lower-case column name
  Value uOldRow;  // values as the query had loaded them
  Value oQuery;   // the query that made the row
  Value nRecno;   // the query's row number when the row was made

  // Copies both tables over the query's current row. Texts written by name on
  // the copy reach the query escaped for SQL, as FieldPut stores them, so that
  // Save writes them as data.
  void SetData();

  // Reads a column of the copy (nil when absent).
  Value get(std::string_view column) const;

 protected:
  const MessageTable& messages() const override;
  Value onUnknown(std::string_view message, Args args) override;
};

}  // namespace veltro
