#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "veltro/table.h"

using namespace veltro;

namespace {

std::string keysOf(const Table& t) {
  std::string s;
  for (const auto& e : t) s += e.key + ",";
  return s;
}

// Callers cache positions of keys against the layout stamp: it must change
// whenever a key may stand elsewhere, and no two tables may share one by chance.
TEST(Table, LayoutStampFollowsKeysNotValues) {
  Table t(true);
  t.set("a", 1);
  t.set("b", 2);
  const auto stamp = t.layout();
  t.set("A", 10);  // an existing key (case-insensitive): same positions
  t.valueAt(1) = Value(20);
  t["b"] = Value(21);
  EXPECT_EQ(t.layout(), stamp);

  Table copy = t;  // same keys at the same positions
  EXPECT_EQ(copy.layout(), stamp);
  copy.set("c", 3);
  EXPECT_NE(copy.layout(), stamp);
  EXPECT_EQ(t.layout(), stamp);

  t.erase("a");
  const auto afterErase = t.layout();
  EXPECT_NE(afterErase, stamp);
  t.setCaseInsensitive(false);
  EXPECT_NE(t.layout(), afterErase);
  const auto beforeClear = t.layout();
  t.clear();
  EXPECT_NE(t.layout(), beforeClear);

  Table other(true);
  other.set("a", 1);
  other.set("b", 2);
  EXPECT_NE(other.layout(), stamp);
  EXPECT_NE(other.layout(), Table().layout());

  // Moving hands the layout on and leaves an empty table under a new one.
  const auto moving = other.layout();
  Table taken(std::move(other));
  EXPECT_EQ(taken.layout(), moving);
  EXPECT_EQ(taken.get("b").asInt(), 2);
  EXPECT_TRUE(other.empty());  // NOLINT(bugprone-use-after-move): the state after a move is the point
  EXPECT_NE(other.layout(), moving);
  Table assigned;
  assigned = std::move(taken);
  EXPECT_EQ(assigned.layout(), moving);
  EXPECT_TRUE(taken.empty());  // NOLINT(bugprone-use-after-move)
  EXPECT_NE(taken.layout(), moving);
}

}  // namespace

TEST(Table, OrderAndUpdate) {
  Table t;
  t.set("b", 1);
  t.set("a", 2);
  t.set("c", 3);
  t.set("a", 20);  // keeps its place
  EXPECT_EQ(keysOf(t), "b,a,c,");
  EXPECT_EQ(t.get("a"), Value(20));
  EXPECT_TRUE(t.get("zz").isNil());
  EXPECT_EQ(t.indexOf("c"), 2);
  EXPECT_EQ(t.indexOf("zz"), -1);

  t["d"] = Value("new");
  EXPECT_EQ(keysOf(t), "b,a,c,d,");
  t["b"] = Value(10);
  EXPECT_EQ(t.valueAt(0), Value(10));

  EXPECT_TRUE(t.erase("a"));
  EXPECT_FALSE(t.erase("a"));
  EXPECT_EQ(keysOf(t), "b,c,d,");
  EXPECT_EQ(t.indexOf("d"), 2);

  TablePtr copy = t.copy();
  copy->set("e", 5);
  EXPECT_EQ(t.size(), 3u);
  t.clear();
  EXPECT_TRUE(t.empty());
  EXPECT_EQ(copy->size(), 4u);
}

TEST(Table, CaseMatching) {
  Table exact;
  exact.set("Name", 1);
  exact.set("name", 2);
  EXPECT_EQ(exact.size(), 2u);
  EXPECT_FALSE(exact.has("NAME"));

  exact.setCaseInsensitive(true);
  EXPECT_EQ(exact.get("NAME"), Value(1));  // the first of two matching keys
  exact.set("NAME", 3);
  EXPECT_EQ(exact.get("Name"), Value(3));
  EXPECT_EQ(exact.keyAt(0), "Name");

  Table ci(true);
  ci.set("_Nombre", "Ana");
  EXPECT_EQ(ci.get("_NOMBRE"), Value("Ana"));
  EXPECT_TRUE(ci.has("_nombre"));
  EXPECT_TRUE(ci.erase("_NoMbRe"));
  EXPECT_TRUE(ci.empty());
}

TEST(Table, ManyKeysUseTheIndex) {
  for (bool caseInsensitive : {false, true}) {
    Table t(caseInsensitive);
    const int n = 1000;
    for (int i = 0; i < n; ++i) t.set("Key" + std::to_string(i), i);
    ASSERT_EQ(t.size(), static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(t.indexOf("Key" + std::to_string(i)), i);
      ASSERT_EQ(t.has("KEY" + std::to_string(i)), caseInsensitive);
    }
    t.set("Key500", "again");
    EXPECT_EQ(t.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(t.indexOf("Key500"), 500);

    for (int i = 0; i < n; i += 2) ASSERT_TRUE(t.erase("Key" + std::to_string(i)));
    ASSERT_EQ(t.size(), static_cast<std::size_t>(n / 2));
    for (int i = 1; i < n; i += 2) ASSERT_EQ(t.indexOf("Key" + std::to_string(i)), i / 2);
    EXPECT_FALSE(t.has("Key0"));
    EXPECT_EQ(t.keyAt(0), "Key1");

    t.setCaseInsensitive(!caseInsensitive);
    EXPECT_EQ(t.has("KEY7"), !caseInsensitive);
    EXPECT_EQ(t.indexOf("Key7"), 3);

    // Shrinking below the index size keeps lookups right.
    for (int i = 1; i < n - 10; i += 2) t.erase("Key" + std::to_string(i));
    EXPECT_EQ(t.size(), 5u);
    EXPECT_EQ(t.indexOf("Key999"), 4);
    t.set("Key1", 1);
    EXPECT_EQ(t.indexOf("Key1"), 5);
  }
}
