// Finding a row of a stored result by the text of one of its columns.
#include <string_view>

#include "db_detail.h"
#include "veltro/binding.h"

namespace veltro::db {

using detail::resEntry;

bool seekMatches(std::string_view value, std::string_view text, bool soft) {
  if (value.empty()) return false;
  // Both texts read as NUL-terminated beyond their ends, as the client library hands them over.
  const std::size_t n = soft ? text.size() : value.size();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char a = i < value.size() ? static_cast<unsigned char>(value[i]) : 0;
    unsigned char b = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
    if (a >= 'a' && a <= 'z') a = static_cast<unsigned char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
    if (a != b) return false;
    if (a == 0) return true;
  }
  return true;
}

namespace {

// First row (from 1) in [first, last] whose non-NULL value of column col satisfies matches; 0 for none.
template <class Match>
long firstRow(Handle res, unsigned col, long first, long last, Match matches) {
  const detail::Entry* e = resEntry(res);
  if (!e) return 0;
  const VeltroBackendOps* ops = e->ops;
  if (col < 1 || col > ops->numFields(e->object)) return 0;
  const auto rows = static_cast<long long>(ops->numRows(e->object));
  const long long from = first < 1 ? 1 : first;
  const long long to = last > rows ? rows : last;
  for (long long r = from; r <= to; ++r) {
    ops->dataSeek(e->object, static_cast<std::uint64_t>(r - 1));
    unsigned long* lengths = nullptr;
    char** row = ops->fetchRow(e->object, &lengths);
    if (!row) break;
    const char* v = row[col - 1];
    if (v && matches(std::string_view(v, lengths[col - 1]))) return static_cast<long>(r);
  }
  return 0;
}

}  // namespace

long seek(Handle res, unsigned col, std::string_view text, long first, long last, bool soft) {
  return firstRow(res, col, first, last, [&](std::string_view v) { return seekMatches(v, text, soft); });
}

long seekBytes(Handle res, unsigned col, std::string_view bytes, long first, long last) {
  return firstRow(res, col, first, last, [&](std::string_view v) { return v == bytes; });
}

}  // namespace veltro::db
