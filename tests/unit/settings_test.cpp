// The settings reader on files written by the tests.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "settings.h"

namespace veltro {
namespace {

namespace fs = std::filesystem;

class IniRead : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "veltro-ini-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Writes a file byte for byte and returns its full path.
  std::string write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return path.string();
  }

  // The value of a key of a section; "<none>" when either is missing.
  static std::string at(const TablePtr& map, const std::string& section, const std::string& key) {
    const Value* found = map->find(section);
    if (!found || !found->isTable()) return "<none>";
    const Value* value = found->asTable()->find(key);
    return value ? value->asString() : "<none>";
  }
  static std::size_t keys(const TablePtr& map, const std::string& section) {
    const Value* found = map->find(section);
    return found && found->isTable() ? found->asTable()->size() : 0;
  }

  fs::path dir_;
};

TEST_F(IniRead, SixKeysBlanksAndCase) {
  const TablePtr map = INIREAD(write("connect.ini",
                                     "[mysql]\r\n"
                                     "host = 127.0.0.1\r\n"
                                     "  user=root  \r\n"
                                     "psw  =  s3cret\r\n"
                                     "port= 3306\r\n"
                                     "dbname =demo\r\n"
                                     "flags =\r\n"));
  ASSERT_EQ(map->size(), 2u);
  EXPECT_EQ(map->keyAt(0), "MAIN");
  EXPECT_EQ(keys(map, "MAIN"), 0u);
  EXPECT_EQ(keys(map, "mysql"), 6u);
  EXPECT_EQ(at(map, "mysql", "host"), "127.0.0.1");
  EXPECT_EQ(at(map, "mysql", "user"), "root");
  EXPECT_EQ(at(map, "mysql", "psw"), "s3cret");
  EXPECT_EQ(at(map, "mysql", "dbname"), "demo");
  EXPECT_EQ(settingNumber(at(map, "mysql", "port")), Number::fromInt(3306));
  EXPECT_EQ(at(map, "mysql", "flags"), "");
  EXPECT_EQ(settingNumber(at(map, "mysql", "flags")), Number::fromInt(0));
  EXPECT_EQ(settingNumber("  -12.5x"), Number::leading("-12.5"));

  const TablePtr capitals = INIREAD(write("caps.ini", "[Mysql]\r\nHost=a\r\n"));
  EXPECT_FALSE(capitals->has("mysql"));
  EXPECT_EQ(at(capitals, "Mysql", "Host"), "a");
  EXPECT_EQ(at(capitals, "Mysql", "host"), "<none>");
}

TEST_F(IniRead, SectionsAndRepeatedKeys) {
  const TablePtr map = INIREAD(write("s.ini",
                                     "host=early\n"
                                     "[mysql]\n"
                                     "host=first\n"
                                     "user=u\n"
                                     "[mysql]\n"
                                     "host=second\n"
                                     "host=third\n"
                                     "[  ]\n"
                                     "psw=p\n"
                                     "[MAIN]\n"
                                     "late=1\n"));
  EXPECT_EQ(at(map, "mysql", "host"), "third");
  EXPECT_EQ(at(map, "mysql", "user"), "<none>");  // the second header discarded it
  EXPECT_EQ(at(map, "mysql", "psw"), "p");        // an empty header name is ignored
  EXPECT_EQ(at(map, "MAIN", "host"), "<none>");   // the "[MAIN]" header replaced it
  EXPECT_EQ(at(map, "MAIN", "late"), "1");

  const TablePtr before = INIREAD(write("b.ini", "host=h\n[mysql]\nuser=u\n"));
  EXPECT_EQ(at(before, "MAIN", "host"), "h");
  EXPECT_EQ(at(before, "mysql", "host"), "<none>");
}

TEST_F(IniRead, ValuesCommentsAndQuotes) {
  const TablePtr map = INIREAD(write("v.ini",
                                     "[mysql]\r\n"
                                     "tab = a\t\r\n"
                                     "hash = a # comment\r\n"
                                     "# whole line\r\n"
                                     "eq = a=b=c\r\n"
                                     "quoted = \"x y\"\r\n"
                                     "semi = a;b\r\n"
                                     "; note = gone\r\n"
                                     "   ;indented = gone\r\n"
                                     "noequals\r\n"
                                     "last = whole"));
  EXPECT_EQ(at(map, "mysql", "tab"), "a\t");
  EXPECT_EQ(at(map, "mysql", "hash"), "a");
  EXPECT_EQ(at(map, "mysql", "eq"), "a");
  EXPECT_EQ(at(map, "mysql", "quoted"), "\"x y\"");
  EXPECT_EQ(at(map, "mysql", "semi"), "a;b");
  EXPECT_EQ(at(map, "mysql", "last"), "whole");
  EXPECT_EQ(keys(map, "mysql"), 6u);
}

TEST_F(IniRead, LineEnds) {
  const TablePtr lf = INIREAD(write("lf.ini", "[mysql]\nhost=a\nuser=b\n"));
  EXPECT_EQ(at(lf, "mysql", "host"), "a");
  EXPECT_EQ(at(lf, "mysql", "user"), "b");
  const TablePtr cr = INIREAD(write("cr.ini", "[mysql]\rhost=a\ruser=b"));
  EXPECT_EQ(at(cr, "mysql", "host"), "a");
  EXPECT_EQ(at(cr, "mysql", "user"), "b");
  const TablePtr lfcr = INIREAD(write("lfcr.ini", "[mysql]\n\rhost=a\n\ruser=b\n\r"));
  EXPECT_EQ(at(lfcr, "mysql", "host"), "a");
  EXPECT_EQ(at(lfcr, "mysql", "user"), "b");

  // A CR LF anywhere ahead is found before a nearer LF: the first line then
  // runs up to it, with the LF inside.
  const TablePtr mixed = INIREAD(write("mixed.ini", "a=1\nb=2\r\nc=3"));
  EXPECT_EQ(at(mixed, "MAIN", "a"), "1\nb");
  EXPECT_EQ(at(mixed, "MAIN", "b"), "<none>");
  EXPECT_EQ(at(mixed, "MAIN", "c"), "3");
}

TEST_F(IniRead, ContinuedLines) {
  const TablePtr map = INIREAD(write("c.ini",
                                     "[mysql]\r\n"
                                     "host = first ||\r\n"
                                     "   second\r\n"
                                     "user = one ||\r\n"
                                     "two ||\r\n"
                                     "three\r\n"
                                     "a ||\r\n"
                                     "=x\r\n"
                                     "psw = end ||"));
  EXPECT_EQ(at(map, "mysql", "host"), "first second");
  EXPECT_EQ(at(map, "mysql", "user"), "one two three");
  EXPECT_EQ(at(map, "mysql", "a ||"), "<none>");  // four characters continue
  EXPECT_EQ(at(map, "mysql", "a"), "x");
  EXPECT_EQ(at(map, "mysql", "psw"), "end");
}

TEST_F(IniRead, MissingFilesAndNameLists) {
  const std::string missing = (dir_ / "missing.ini").string();
  const TablePtr none = INIREAD(missing);
  ASSERT_EQ(none->size(), 1u);
  EXPECT_EQ(keys(none, "MAIN"), 0u);
  EXPECT_EQ(INIREAD("")->size(), 1u);
  EXPECT_EQ(INIREAD(dir_.string())->size(), 1u);  // a folder does not count as a file

  const std::string real = write("real.ini", "[mysql]\nhost=h\n");
  const TablePtr listed = INIREAD(";" + missing + ";" + real + ";" + write("other.ini", "[x]\n"));
  EXPECT_EQ(at(listed, "mysql", "host"), "h");
  EXPECT_FALSE(listed->has("x"));

  const TablePtr empty = INIREAD(write("empty.ini", ""));
  EXPECT_EQ(empty->size(), 1u);
}

TEST_F(IniRead, IncludeLines) {
  const std::string inc = write("inc.ini", "top = 1\n[other]\nk = v\n");
  const TablePtr map = INIREAD(write("main.ini",
                                     "[mysql]\n"
                                     "host = a\n"
                                     "include " + inc + "\n"
                                     "user = u\n"
                                     "note = see include " + inc + "\n"
                                     "[first] and [second]\n"
                                     "x = 1\n"
                                     "y = [a]\n"
                                     "z = 2\n"));
  EXPECT_EQ(at(map, "MAIN", "top"), "1");
  EXPECT_EQ(at(map, "other", "k"), "v");
  EXPECT_EQ(at(map, "mysql", "host"), "a");
  EXPECT_EQ(at(map, "mysql", "user"), "u");  // back in the section of the including file
  EXPECT_EQ(at(map, "mysql", "note"), "<none>");
  EXPECT_EQ(at(map, "first] and [second", "x"), "1");
  EXPECT_EQ(at(map, "a", "z"), "2");
  EXPECT_EQ(at(map, "first] and [second", "y"), "<none>");

  // "include " followed only by a tab keeps the line, so the next line names the file.
  const TablePtr pending = INIREAD(write("pending.ini", "include \t\n" + inc + "\nafter = 1\n"));
  EXPECT_EQ(at(pending, "other", "k"), "v");
  EXPECT_EQ(at(pending, "MAIN", "top"), "1");
  EXPECT_EQ(at(pending, "MAIN", "after"), "1");
  EXPECT_EQ(keys(pending, "other"), 1u);
}

TEST_F(IniRead, IncludeRelativeToWorkingFolder) {
  write("rel.ini", "[rel]\nk = v\n");
  write("outer.ini", "include rel.ini\n");
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  const TablePtr map = INIREAD("outer.ini");
  fs::current_path(before);
  EXPECT_EQ(at(map, "rel", "k"), "v");
}

TEST_F(IniRead, SelfIncludeEnds) {
  const std::string a = (dir_ / "a.ini").string();
  const std::string b = (dir_ / "b.ini").string();
  write("a.ini", "a1 = 1\ninclude " + a + "\ninclude " + b + "\na2 = 2\n");
  write("b.ini", "[b]\nb1 = 1\ninclude " + (dir_ / "." / "a.ini").string() + "\nb2 = 2\n");
  const TablePtr map = INIREAD(a);
  EXPECT_EQ(at(map, "MAIN", "a1"), "1");
  EXPECT_EQ(at(map, "MAIN", "a2"), "2");
  EXPECT_EQ(at(map, "b", "b1"), "1");
  EXPECT_EQ(at(map, "b", "b2"), "2");
  // A file included twice one after the other is read twice.
  write("twice.ini", "include " + b + "\nbetween = 1\ninclude " + b + "\n");
  const TablePtr twice = INIREAD((dir_ / "twice.ini").string());
  EXPECT_EQ(at(twice, "b", "b1"), "1");
  EXPECT_EQ(at(twice, "MAIN", "between"), "1");
  EXPECT_EQ(at(twice, "MAIN", "a1"), "1");  // b includes a, which starts in "MAIN"
}

// The port of connect.ini: digits from 0 to 65535, or nothing; anything the
// client library would take for another port is refused in plain words.
TEST_F(IniRead, PortOfSectionMysql) {
  struct Case {
    const char* line;
    long long port;  // -1: refused
  };
  for (const Case& c : {Case{"port = 3306", 3306}, Case{"port =", 0}, Case{"port = 0", 0},
                        Case{"port = 65535", 65535}, Case{"port = 1", 1}, Case{"port = 00080", 80},
                        Case{"port = 65536", -1}, Case{"port = 4294970602", -1}, Case{"port = -1", -1},
                        Case{"port = 3306.5", -1}, Case{"port = 33o6", -1}, Case{"port = 3306x", -1},
                        Case{"port = +3306", -1}, Case{"port = 3 306", -1}, Case{"port = 1e3", -1},
                        Case{"port = 999999", -1}}) {
    SCOPED_TRACE(c.line);
    const TablePtr map = INIREAD(write("connect.ini", std::string("[mysql]\r\nhost = h\r\n") + c.line + "\r\n"));
    Number port = Number::fromInt(-7);
    std::string why;
    const bool good = settingPort(at(map, "mysql", "port"), port, why);
    EXPECT_EQ(good, c.port >= 0) << why;
    if (good) {
      EXPECT_EQ(port, Number::fromInt(c.port));
    } else {
      EXPECT_NE(why.find("\"" + at(map, "mysql", "port") + "\" is not a port number from 1 to 65535"), std::string::npos)
          << why;
      EXPECT_EQ(port, Number::fromInt(-7));
    }
  }
}

// The optional connection keys of [mysql] onto the server object's members.
TEST(ConnectionSettings, KeysOfSectionMysql) {
  struct Case {
    const char* ini;
    // charset, tls, ssl-ca, ssl-cert, ssl-key, connect-, read-, write-timeout, socket
    std::vector<Value> expected;
  };
  const Value nil;
  const std::vector<Case> cases = {
      {"[mysql]\nhost = h\ncharset = gbk\ntls = Verify-Identity\nssl-ca = /c/ca.pem\nssl-cert = /c/cert.pem\n"
       "ssl-key = /c/key.pem\nconnect-timeout = 5\nread-timeout = 30\nwrite-timeout = 2.5\nsocket = /run/my.sock\n",
       {"gbk", "Verify-Identity", "/c/ca.pem", "/c/cert.pem", "/c/key.pem", Number::fromInt(5), Number::fromInt(30),
        Value(Number::leading("2.5")), "/run/my.sock"}},
      // Absent and empty keys keep the defaults.
      {"[mysql]\nhost = h\ntls =\nread-timeout =\n", {nil, nil, nil, nil, nil, nil, nil, nil, nil}},
      // A timeout that is no numeral stays text, for the server object to report.
      {"[mysql]\nconnect-timeout = ten\nread-timeout = 10s\nwrite-timeout = -1\n",
       {nil, nil, nil, nil, nil, "ten", "10s", Number::fromInt(-1), nil}},
      // Only section [mysql] counts, and its keys match exactly.
      {"charset = gbk\n[other]\ntls = off\n[mysql]\nCharset = big5\n", {nil, nil, nil, nil, nil, nil, nil, nil, nil}},
  };
  for (const Case& c : cases) {
    const ServerPtr server = TQuillonSrv::create();
    applyConnectionSettings(INIREADTEXT(c.ini), *server);
    const std::vector<Value> values = {server->cCharset,        server->cTls,         server->cSslCa,
                                       server->cSslCert,        server->cSslKey,      server->nConnectTimeout,
                                       server->nReadTimeout,    server->nWriteTimeout, server->cSocket};
    ASSERT_EQ(values.size(), c.expected.size());
    for (std::size_t i = 0; i < values.size(); ++i)
      EXPECT_TRUE(values[i] == c.expected[i])
          << c.ini << "\nkey " << i << ": " << values[i].toString() << " kind " << values[i].kindLetter() << ", expected "
          << c.expected[i].toString() << " kind " << c.expected[i].kindLetter();
  }
  const ServerPtr untouched = TQuillonSrv::create();
  untouched->cCharset = "latin1";
  applyConnectionSettings(nullptr, *untouched);
  applyConnectionSettings(INIREADTEXT("[mysql]\ncharset =\n"), *untouched);
  EXPECT_EQ(untouched->cCharset.asString(), "latin1");
}

}  // namespace
}  // namespace veltro
