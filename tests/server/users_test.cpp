// Users and privileges against the real server: accounts granted, renamed,
// revoked and dropped, quotes in names and passwords, privilege kinds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "server_support.h"
#include "veltro/sqltext.h"

namespace veltro {
namespace {

using testing::Recorder;
using testing::serverEnv;
using testing::SideConnection;
using testing::StatementLog;

const char* const kAccounts[] = {"'vtu_bob'@'%'", "'vtu_robert'@'%'", "'vtu_o''neil'@'%'", "'vtu_plain'@'%'"};

class Users : public testing::LoggedServerTest {
 protected:
  void dropAll() override {
    for (const char* a : kAccounts) side.exec(std::string("DROP USER IF EXISTS ") + a);
  }
  // Whether the account can log in with the password.
  static bool canLogIn(const std::string& user, const std::string& password) {
    const auto& e = serverEnv();
    db::Handle h = db::connect(e.host.c_str(), user.c_str(), password.c_str(), e.port, 0, "");
    bool ok = h != 0 && db::errnum(h) == 0;
    db::close(h);
    return ok;
  }
  std::string grants(const std::string& account) {
    std::string all;
    for (auto& r : side.rows("SHOW GRANTS FOR " + account)) all += r[0] + "\n";
    return all;
  }
};

TEST_F(Users, GrantRenameRevokeDrop) {
  const std::string db = serverEnv().database;
  EXPECT_TRUE(server->AddUser("%", " vtu_bob ", "pa'ss\\word", db));
  auto sent = log->fresh();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), "GRANT ALL PRIVILEGES ON " + db + ".* TO 'vtu_bob'@'%' IDENTIFIED BY 'pa\\'ss\\\\word'");
  EXPECT_TRUE(canLogIn("vtu_bob", "pa'ss\\word"));
  EXPECT_NE(grants("'vtu_bob'@'%'").find("GRANT ALL PRIVILEGES ON `" + db + "`.*"), std::string::npos);

  EXPECT_TRUE(server->RenameUser("VTU_Bob", "%", "vtu_Robert"));
  EXPECT_EQ(log->last(), "RENAME USER 'vtu_bob'@'%' TO 'vtu_robert'@'%'");
  EXPECT_TRUE(canLogIn("vtu_robert", "pa'ss\\word"));
  EXPECT_FALSE(canLogIn("vtu_bob", "pa'ss\\word"));

  EXPECT_TRUE(server->RevokePrivileges("%", "vtu_robert", db));
  EXPECT_EQ(log->last(), "REVOKE ALL PRIVILEGES ON " + db + ".* FROM 'vtu_robert'@'%'");
  EXPECT_EQ(grants("'vtu_robert'@'%'").find(db), std::string::npos);

  // A privilege array is normalised; a granted subset shows in the grants.
  EXPECT_TRUE(server->AddUser("%", "vtu_robert", "x", db, {}, Value::array({"Select", " Insert"})));
  sent = log->fresh();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back().rfind("GRANT select, insert ON ", 0), 0u) << sent.back();
  EXPECT_NE(grants("'vtu_robert'@'%'").find("GRANT SELECT, INSERT ON `" + db + "`.*"), std::string::npos);
  EXPECT_TRUE(server->RevokePrivileges("%", "vtu_robert", db, "INSERT"));
  EXPECT_NE(grants("'vtu_robert'@'%'").find("GRANT SELECT ON `" + db + "`.*"), std::string::npos);
  log->fresh();

  EXPECT_TRUE(server->DropUser("'vtu_robert'@'%'"));
  EXPECT_EQ(log->last(), "DROP USER 'vtu_robert'@'%'");
  EXPECT_FALSE(canLogIn("vtu_robert", "x"));
  EXPECT_FALSE(server->DropUser("'vtu_robert'@'%'"));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{1396});
}

TEST_F(Users, QuotesInNamesAndMissingArguments) {
  // A quote in the user name is data, not the end of the literal.
  EXPECT_TRUE(server->AddUser("%", "vtu_o'neil", "it's", serverEnv().database));
  EXPECT_TRUE(canLogIn("vtu_o'neil", "it's"));
  EXPECT_TRUE(server->RevokePrivileges("%", "vtu_o'neil", serverEnv().database));
  EXPECT_TRUE(server->DropUser("'vtu_o''neil'@'%'"));
  EXPECT_TRUE(rec.calls->empty());
  log->fresh();

  // Missing arguments: false, nothing sent, nothing reported.
  EXPECT_FALSE(server->AddUser("%", {}, "x"));
  EXPECT_FALSE(server->AddUser("", "vtu_plain", "x"));
  EXPECT_FALSE(server->AddUser("%", "vtu_plain", "x", ""));
  EXPECT_FALSE(server->RevokePrivileges("%", ""));
  EXPECT_FALSE(server->RevokePrivileges("", "vtu_plain"));
  EXPECT_TRUE(log->fresh().empty());
  EXPECT_TRUE(rec.calls->empty());

  // Without a password no IDENTIFIED BY; the default scope is every database.
  side.exec("CREATE USER 'vtu_plain'@'%'");
  EXPECT_TRUE(server->AddUser("%", "vtu_plain", {}, {}, {}, "SELECT"));
  auto sent = log->fresh();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), "GRANT SELECT ON *.* TO 'vtu_plain'@'%'");
  // An empty name is written NULL, which the server refuses.
  EXPECT_FALSE(server->RenameUser("vtu_plain", "%", ""));
  EXPECT_EQ(log->last(), "RENAME USER 'vtu_plain'@'%' TO NULL@'%'");
  EXPECT_EQ(rec.numbers(), std::vector<long long>{1064});
}

TEST_F(Users, PrivilegeKinds) {
  // The listing, read independently.
  std::vector<std::string> names, admin, notServer, table;
  for (auto& r : side.rows("SHOW PRIVILEGES")) {
    std::string name, context;
    for (char c : r[0]) name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char c : r[1]) context += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    names.push_back(name);
    if (context.find("ADMIN") != std::string::npos) admin.push_back(name);
    if (context.find("SERVER") == std::string::npos) notServer.push_back(name);
    if (context.find("TABLE") != std::string::npos) table.push_back(name);
  }
  auto texts = [](const Value& v) {
    std::vector<std::string> out;
    for (const Value& x : v.items()) out.push_back(x.asString());
    return out;
  };
  ASSERT_GT(names.size(), 10u);
  EXPECT_EQ(texts(server->GetPrivileges(4)), names);
  EXPECT_EQ(texts(server->GetPrivileges(1)), admin);
  EXPECT_EQ(texts(server->GetPrivileges()), notServer);
  EXPECT_EQ(texts(server->GetPrivileges(2)), notServer);
  EXPECT_EQ(texts(server->GetPrivileges(3)), table);
  EXPECT_NE(std::find(table.begin(), table.end(), "SELECT"), table.end());
  EXPECT_EQ(server->GetPrivileges(5).len(), 0u);
  EXPECT_TRUE(rec.calls->empty());
}

}  // namespace
}  // namespace veltro
