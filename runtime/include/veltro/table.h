// Keyed tables: ordered by insertion, keys matched exactly or without regard to case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "veltro/export.h"
#include "veltro/value.h"

namespace veltro {

// A table of entries in insertion order, each a key (a text) and a Value.
class VELTRO_API Table {
 public:
  struct Entry {
    std::string key;
    Value value;
  };

  // An empty table; caseInsensitive: keys match without regard to ASCII case.
  explicit Table(bool caseInsensitive = false) : ci_(caseInsensitive), layout_(newLayout()) {}
  Table(const Table&) = default;
  Table& operator=(const Table&) = default;
  // A table moved from is left empty under a new layout, so that no position
  // cached for its former keys is trusted in it.
  Table(Table&& other) noexcept;
  Table& operator=(Table&& other) noexcept;

  // How keys match; a change matches every key again (a new layout).
  bool caseInsensitive() const { return ci_; }
  void setCaseInsensitive(bool on);

  // The number of entries, and whether there are none.
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // Position of a key (from 0), or -1.
  long indexOf(std::string_view key) const;
  bool has(std::string_view key) const { return indexOf(key) >= 0; }
  Value* find(std::string_view key);
  const Value* find(std::string_view key) const;
  // The value of a key; nil when absent.
  Value get(std::string_view key) const;
  // Sets a key, keeping its position when it exists, appending it otherwise.
  void set(std::string_view key, Value value);
  // The value of a key, appended as nil when absent.
  Value& operator[](std::string_view key);
  bool erase(std::string_view key);
  void clear();

  // Entries by position (from 0); a temporary table hands them over instead
  // of references that would die with it.
  const Entry& entry(std::size_t i) const& { return entries_[i]; }
  Entry entry(std::size_t i) && { return std::move(entries_[i]); }
  Value& valueAt(std::size_t i) & { return entries_[i].value; }
  const Value& valueAt(std::size_t i) const& { return entries_[i].value; }
  Value valueAt(std::size_t i) && { return std::move(entries_[i].value); }
  const std::string& keyAt(std::size_t i) const& { return entries_[i].key; }
  std::string keyAt(std::size_t i) && { return std::move(entries_[i].key); }

  // A stamp of the keys and their positions, unique among all tables of the
  // process: while a table shows the same stamp, a position found for a key
  // still holds that key. Any added, removed or re-matched key changes it.
  std::uint64_t layout() const { return layout_; }

  std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
  std::vector<Entry>::const_iterator end() const { return entries_.end(); }

  // An independent table with the same entries (values copied shallowly: arrays stay shared).
  TablePtr copy() const { return std::make_shared<Table>(*this); }

 private:
  bool keyEquals(std::string_view a, std::string_view b) const;
  void reindex();
  static std::uint64_t newLayout();

  // Small tables are scanned; an index is kept only beyond this size.
  static constexpr std::size_t kIndexFrom = 12;

  struct Hash {
    using is_transparent = void;
    Hash() : ci(false) {}
    explicit Hash(bool caseInsensitive) : ci(caseInsensitive) {}
    bool ci;
    std::size_t operator()(std::string_view s) const;
  };
  struct Eq {
    using is_transparent = void;
    Eq() : ci(false) {}
    explicit Eq(bool caseInsensitive) : ci(caseInsensitive) {}
    bool ci;
    bool operator()(std::string_view a, std::string_view b) const;
  };

  bool ci_ = false;
  std::uint64_t layout_;
  std::vector<Entry> entries_;
  std::unordered_map<std::string, std::size_t, Hash, Eq> index_;  // built beyond kIndexFrom entries
};

}  // namespace veltro
