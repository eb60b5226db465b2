// User accounts and privileges: grant, drop, rename, list and revoke.
#include <string>

#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"

namespace veltro {

namespace {

// A privilege list: a text as given, an array of names normalised and joined.
std::string privilegeText(const Value& privileges) {
  if (privileges.isEmpty()) return "ALL PRIVILEGES";
  if (privileges.isArray()) return SQLSTRINGFROMARRAY(privileges);
  return privileges.asString();
}

}  // namespace

// GRANT privileges ON db.* TO 'user'@'host' [IDENTIFIED BY 'pw'] [WITH option].
// Creates the database first when asked and it does not exist. The account
// and the password are escaped with the connection, so quotes in them are data.
bool TQuillonSrv::AddUser(const Value& host, const Value& user, const Value& password, const Value& database,
                          const Value& createDatabase, const Value& privileges, const Value& withOption) {
  const Value hostValue = host.isNil() ? cHost : host;
  const Value databaseValue = database.isNil() ? Value("*") : database;
  if (hostValue.isEmpty() || user.isEmpty() || databaseValue.isEmpty()) return false;

  const std::string hostName(trimBlanks(hostValue.asString()));
  const std::string userName(trimBlanks(user.asString()));
  const std::string pw(trimBlanks(password.asString()));
  const std::string db(trimBlanks(databaseValue.asString()));

  if (!DBExist(db) && createDatabase.asBool()) DBCreate(db);

  std::string sql = "GRANT " + privilegeText(privileges) + " ON " + db + ".* TO '" + db::escape(userName, handle()) +
                    "'@'" + db::escape(hostName, handle()) + "'";
  if (!pw.empty()) sql += " IDENTIFIED BY '" + db::escape(pw, handle()) + "'";
  if (!withOption.isEmpty()) sql += " WITH " + withOption.asString();
  return SqlQuery(sql);
}

bool TQuillonSrv::DropUser(const Value& account) { return SqlQuery("DROP USER " + account.asString()); }

// RENAME USER 'old'@'host' TO 'new'@'host', names escaped and normalised.
bool TQuillonSrv::RenameUser(const Value& oldUser, const Value& host, const Value& newUser) {
  auto literal = [this](const Value& name) {
    std::string escaped = db::escape(trimValueText(name.asString()), handle());
    return Q_LOWERCASE(CLIPVALUE2SQL(Value(std::move(escaped))));
  };
  const std::string hostLiteral = literal(host);
  return SqlQuery("RENAME USER " + literal(oldUser) + "@" + hostLiteral + " TO " + literal(newUser) + "@" +
                  hostLiteral);
}

// Privilege names of SHOW PRIVILEGES in upper case, kept by kind: 1 admin,
// 2 (default) all but server-wide, 3 table-level, 4 all, other numbers none.
Value TQuillonSrv::GetPrivileges(const Value& kind) {
  const long long which = kind.isNil() ? 2 : kind.asInt();
  Array names;
  QueryPtr q = Query("SHOW PRIVILEGES");
  if (!q) return Value::arrayOf(std::move(names));
  for (long row = 1; row <= q->LastRec(); ++row) {
    q->GetRow(row);
    const std::string context = upper(q->FieldGet("Context").asString());
    bool keep = false;
    switch (which) {
      case 1: keep = context.find("ADMIN") != std::string::npos; break;
      case 2: keep = context.find("SERVER") == std::string::npos; break;
      case 3: keep = context.find("TABLE") != std::string::npos; break;
      case 4: keep = true; break;
      default: break;
    }
    // The query pads texts to the column width; a name is given without the padding.
    if (keep) names.emplace_back(upper(trimRight(q->FieldGet(1).asString())));
  }
  q->End();
  return Value::arrayOf(std::move(names));
}

// REVOKE privileges ON db.* FROM 'user'@'host', the account escaped.
bool TQuillonSrv::RevokePrivileges(const Value& host, const Value& user, const Value& database,
                                   const Value& privileges) {
  const Value hostValue = host.isNil() ? cHost : host;
  if (hostValue.isEmpty() || user.isEmpty()) return false;
  const std::string hostName(trimBlanks(hostValue.asString()));
  const std::string userName(trimBlanks(user.asString()));
  const std::string db = database.isNil() ? std::string("*") : database.asString();
  return SqlQuery("REVOKE " + privilegeText(privileges) + " ON " + db + ".* FROM '" +
                  db::escape(userName, handle()) + "'@'" + db::escape(hostName, handle()) + "'");
}

}  // namespace veltro
