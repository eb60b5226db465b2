// Host lists as cHost takes them: hosts, ports, and the texts refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server_host_list.h"

namespace veltro::detail {
namespace {

std::string joined(const std::vector<HostEntry>& hosts) {
  std::string out;
  for (const HostEntry& h : hosts) out += "<" + h.host + (h.port ? ":" + std::to_string(h.port) : "") + ">";
  return out;
}

TEST(HostList, HostsAndPorts) {
  struct Case {
    const char* text;
    const char* hosts;
  };
  for (const Case& c : {
           Case{"db.example", "<db.example>"},
           Case{"127.0.0.1:3307", "<127.0.0.1:3307>"},
           Case{"[::1]:3307", "<::1:3307>"},
           Case{"::1", "<::1>"},  // a bare IPv6 address is taken as given
           Case{"[::1]", "<::1>"},
           Case{"db:65535", "<db:65535>"},
           Case{" db ", "< db >"},  // a host alone is taken as given
           Case{"", "<>"},
           Case{"a,b", "<a><b>"},
           Case{"a:3311, b:3312 ,c", "<a:3311><b:3312><c>"},
           Case{"[::1]:3311,[fe80::1]", "<::1:3311><fe80::1>"},
           Case{"a:65535,b:1", "<a:65535><b:1>"},
       }) {
    SCOPED_TRACE(c.text);
    std::vector<HostEntry> hosts;
    std::string why;
    ASSERT_TRUE(parseHostList(c.text, hosts, why)) << why;
    EXPECT_EQ(joined(hosts), c.hosts);
  }
}

// In a list and alone: a port out of 1-65535 or not in digits would reach
// the client library wrapped, or as part of a host name.
TEST(HostList, RefusedTexts) {
  for (const std::string text : {"a,", ",a", "a,,b", "a, ,b", "a:0,b", "a:65536,b", "a:33o6,b", "a:,b", ":3306,b",
                                 "::1,b", "[::1,b", "[::1]x,b", "[]:3306,b", "a:123456,b", "h:99999", "h:0", "h:",
                                 "h:-1", "db:notaport", "127.0.0.1:4294970602", "127.0.0.1:3306.5", ":3306",
                                 "[::1]:99999", "[::1]x", "[::1", "b,h:99999"}) {
    SCOPED_TRACE(text);
    std::vector<HostEntry> hosts;
    std::string why;
    EXPECT_FALSE(parseHostList(text, hosts, why));
    EXPECT_FALSE(why.empty());
  }
}

// The client library would cut a host at a zero byte.
TEST(HostList, ZeroBytesRefused) {
  for (const std::string& text : {std::string("127.0.0.1\0evil:3306", 19), std::string("127.0.0.1\0evil", 14),
                                 std::string("a\0b:3306,c", 10),
                                 std::string("c,a\0b", 6)}) {
    SCOPED_TRACE(text);
    std::vector<HostEntry> hosts;
    std::string why;
    EXPECT_FALSE(parseHostList(text, hosts, why));
    EXPECT_NE(why.find("zero byte"), std::string::npos) << why;
  }
}

}  // namespace
}  // namespace veltro::detail
