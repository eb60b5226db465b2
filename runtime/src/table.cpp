// Keyed tables: a vector of entries in insertion order, scanned while small and
// indexed by a hash of the (optionally case-folded) key once it grows.
#include "veltro/table.h"

#include <atomic>

namespace veltro {

std::uint64_t Table::newLayout() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

Table::Table(Table&& other) noexcept
    : ci_(other.ci_), layout_(other.layout_), entries_(std::move(other.entries_)), index_(std::move(other.index_)) {
  other.entries_.clear();
  other.index_.clear();
  other.layout_ = newLayout();
}

Table& Table::operator=(Table&& other) noexcept {
  if (this != &other) {
    ci_ = other.ci_;
    layout_ = other.layout_;
    entries_ = std::move(other.entries_);
    index_ = std::move(other.index_);
    other.entries_.clear();
    other.index_.clear();
    other.layout_ = newLayout();
  }
  return *this;
}

std::size_t Table::Hash::operator()(std::string_view s) const { return keyHash(s, ci); }

bool Table::Eq::operator()(std::string_view a, std::string_view b) const {
  return ci ? equalsNoCase(a, b) : a == b;
}

bool Table::keyEquals(std::string_view a, std::string_view b) const {
  return ci_ ? equalsNoCase(a, b) : a == b;
}

// Rebuilds the index from the entries; when two keys match each other (after
// case folding) the first one wins, as it does in a scan.
void Table::reindex() {
  if (entries_.size() <= kIndexFrom) {
    if (!index_.empty() || index_.hash_function().ci != ci_) index_ = decltype(index_)(0, Hash{ci_}, Eq{ci_});
    return;
  }
  index_ = decltype(index_)(entries_.size() * 2, Hash{ci_}, Eq{ci_});
  for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].key, i);
}

void Table::setCaseInsensitive(bool on) {
  if (on == ci_) return;
  ci_ = on;
  layout_ = newLayout();
  reindex();
}

long Table::indexOf(std::string_view key) const {
  if (entries_.size() > kIndexFrom) {
    auto it = index_.find(key);
    return it == index_.end() ? -1 : static_cast<long>(it->second);
  }
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const std::string& k = entries_[i].key;
    if (k.size() == key.size() && keyEquals(k, key)) return static_cast<long>(i);
  }
  return -1;
}

Value* Table::find(std::string_view key) {
  long i = indexOf(key);
  return i < 0 ? nullptr : &entries_[static_cast<std::size_t>(i)].value;
}

const Value* Table::find(std::string_view key) const {
  long i = indexOf(key);
  return i < 0 ? nullptr : &entries_[static_cast<std::size_t>(i)].value;
}

Value Table::get(std::string_view key) const {
  const Value* v = find(key);
  return v ? *v : Value();
}

void Table::set(std::string_view key, Value value) {
  if (Value* v = find(key)) {
    *v = std::move(value);
    return;
  }
  entries_.push_back(Entry{std::string(key), std::move(value)});
  layout_ = newLayout();
  if (entries_.size() == kIndexFrom + 1) reindex();
  else if (entries_.size() > kIndexFrom) index_.emplace(entries_.back().key, entries_.size() - 1);
}

Value& Table::operator[](std::string_view key) {
  long i = indexOf(key);
  if (i < 0) {
    set(key, Value());
    return entries_.back().value;
  }
  return entries_[static_cast<std::size_t>(i)].value;
}

// Removes a key and keeps the order of the rest; the positions after it move,
// so a large table's index is rebuilt.
bool Table::erase(std::string_view key) {
  long i = indexOf(key);
  if (i < 0) return false;
  entries_.erase(entries_.begin() + i);
  layout_ = newLayout();
  reindex();
  return true;
}

void Table::clear() {
  entries_.clear();
  layout_ = newLayout();
  index_.clear();
}

}  // namespace veltro
