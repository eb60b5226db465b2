// Hostile texts through the typed face, in every session mode of the hostile
// suite (backslash escapes off; gbk, big5, sjis and cp932 with and without
// session tracking): written through ? arguments and a prepared statement,
// matched and read back whole, the canary and the bystander row untouched.
#include <gtest/gtest.h>

#include <string>

#include "hostile_fixture.h"
#include "veltro/session.h"

namespace veltro {
namespace {

using hostile::Mode;
using hostile::modes;
using hostile::shown;

class HostileSession : public hostile::Hostile {};

TEST_P(HostileSession, ArgumentsStoreAndMatchTheBytes) {
  Session s = server->session();
  Statement insert = s.prepare("INSERT INTO t (id, s, v) VALUES (?, ?, ?)");
  Statement count = s.prepare("SELECT COUNT(*) FROM t WHERE s = ?");
  int id = 0;
  for (const std::string& hostileText : texts()) {
    // Blanks at the ends are kept on this face.
    for (const std::string& text : {hostileText, " " + hostileText + " "}) {
      SCOPED_TRACE(shown(text));
      const std::string shortText = text.size() < 256 ? text : "x";
      s.execute("INSERT INTO t (id, s, v) VALUES (?, ?, ?)", ++id, text, shortText);
      EXPECT_TRUE(stored("s", id) == text);
      EXPECT_TRUE(stored("v", id) == shortText);
      EXPECT_TRUE(s.value<std::string>("SELECT s FROM t WHERE id = ?", id) == text);
      EXPECT_EQ(s.value<long long>("SELECT COUNT(*) FROM t WHERE s = ? AND v = ?", text, shortText), 1);
      insert.execute(++id, text, shortText);
      EXPECT_TRUE(stored("s", id) == text);
      EXPECT_TRUE(insert.parameters() == 3 && stored("v", id) == shortText);
      EXPECT_EQ(count.query(text)[0].get<long long>(0), 2);
      s.execute("DELETE FROM t WHERE s = ? AND id <> 99", text);
      EXPECT_EQ(s.value<long long>("SELECT COUNT(*) FROM t"), 1);
      expectUntouched();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, HostileSession, ::testing::ValuesIn(modes()),
                         [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veltro
