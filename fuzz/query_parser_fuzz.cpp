// The query object's statement parser on any text, on a query that was never
// loaded and a server that was never connected: clauses come out trimmed, the
// select and from lists as arrays of texts, and parsing stays deterministic.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "veltro/query.h"
#include "veltro/server.h"

using veltro::fuzz::check;
using veltro::Value;

namespace {

bool textClause(const Value& v) {
  if (v.isNil()) return true;
  if (!v.isString()) return false;
  const std::string& s = v.str();
  return s.empty() || (s.front() != ' ' && s.back() != ' ');
}

bool textList(const Value& v) {
  if (v.isNil()) return true;
  if (!v.isArray()) return false;
  for (const Value& item : v.items())
    if (!item.isText()) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const veltro::ServerPtr server = veltro::TQuillonSrv::create();
  const std::string text(reinterpret_cast<const char*>(data), size);

  const veltro::QueryPtr first = veltro::TQuillonQry::New(Value(), server);
  check(first != nullptr, "query without a statement");
  first->BuildDatas(Value(text));
  for (const Value* clause : {&first->cWhere, &first->cGroup, &first->cHaving, &first->cLimit})
    check(textClause(*clause), "clause is a trimmed text");
  check(first->cOrder.isNil() || first->cOrder.isString(), "order is a text");
  check(textList(first->aColumns) && textList(first->aTables), "lists of texts");

  // The same statement given as the query's own cQuery parses alike.
  const veltro::QueryPtr second = veltro::TQuillonQry::New(Value(), server);
  second->cQuery = Value(text);
  second->BuildDatas();
  check(second->cWhere == first->cWhere && second->cGroup == first->cGroup &&
            second->cHaving == first->cHaving && second->cLimit == first->cLimit &&
            second->cOrder == first->cOrder && second->aColumns.len() == first->aColumns.len() &&
            second->aTables.len() == first->aTables.len(),
        "parsing is deterministic");

  // Both leave the server's registry, so the registry stays small.
  first->End();
  second->End();
  return 0;
}
