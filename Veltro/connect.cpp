#include "connect.h"

#include <memory>
#include <vector>

#include "settings.h"
#include "veltro/binding.h"
#include "veltro/error.h"
#include "veltro/table.h"

namespace veltro {

Value settingOf(const TablePtr& settings, const std::string& section, const std::string& key) {
  const Value* sec = settings ? settings->find(section) : nullptr;
  const Value* val = (sec && sec->isTable()) ? sec->asTable()->find(key) : nullptr;
  if (val) return *val;
  auto error = std::make_shared<Error>();
  error->SubSystem = "BASE";
  error->SubCode = 1132;
  error->Description = "Bound error: array access";
  error->Operation = sec ? "key \"" + key + "\" missing in section [" + section + "] of " + kSettingsFile
                         : "section [" + section + "] missing in " + std::string(kSettingsFile);
  raiseError(error);
  return {};
}

ServerPtr openServer(const TablePtr& settings, bool createDatabase) {
  Value host = settingOf(settings, "mysql", "host");
  Value user = settingOf(settings, "mysql", "user");
  Value password = settingOf(settings, "mysql", "psw");
  Value port = Value(settingNumber(settingOf(settings, "mysql", "port").asString()));
  Value database = settingOf(settings, "mysql", "dbname");
  Value flags = Value(settingNumber(settingOf(settings, "mysql", "flags").asString()));
  const Value* section = settings->find("mysql");
  Value embedded = section->asTable()->get("embedded");

  ServerPtr server = TQuillonSrv::create();
  // The optional keys; absent ones leave the client library's defaults.
  const ConnectionSettings connection = connectionSettings(settings);
  server->cCharset = connection.charset;
  server->cTls = connection.tls;
  server->cSslCa = connection.sslCa;
  server->cSslCert = connection.sslCert;
  server->cSslKey = connection.sslKey;
  server->nConnectTimeout = connection.connectTimeout;
  server->nReadTimeout = connection.readTimeout;
  server->nWriteTimeout = connection.writeTimeout;
  server->cSocket = connection.socket;
  Value first = createDatabase ? Value() : database;
  if (!embedded.isEmpty()) {
    Array options;
    for (const std::string& o : db::embeddedOptions(embedded.asString())) options.emplace_back(o);
    server->Embedded(first, Value::arrayOf(std::move(options)));
  } else {
    server->New(host, user, password, port, flags, first);
  }
  if (createDatabase && !database.isEmpty()) {
    server->SqlQuery("CREATE DATABASE IF NOT EXISTS " + database.asString());
    server->SelectDB(database);
  }
  return server;
}

ServerPtr CONNECTTO() {
  std::string ignored;
  return CONNECTTO(ignored);
}

ServerPtr CONNECTTO(std::string& failureText) {
  TablePtr settings = INIREAD(std::string("./") + kSettingsFile);
  // The lookups stand outside the guarded block: a missing key is reported
  // and ends the program; a failed connection only makes this return nil.
  settingOf(settings, "mysql", "host");
  settingOf(settings, "mysql", "user");
  settingOf(settings, "mysql", "psw");
  settingOf(settings, "mysql", "port");
  settingOf(settings, "mysql", "dbname");
  settingOf(settings, "mysql", "flags");
  ServerPtr server;
  ErrorPtr failure = guarded([&] { server = openServer(settings); });
  if (failure) {
    // What was tried, never the password.
    const Value embedded = settings->find("mysql")->asTable()->get("embedded");
    failureText = errorMessage(*failure) + "\n";
    if (!embedded.isEmpty())
      failureText += "(embedded server on " + embedded.asString() + ")";
    else
      failureText += "(host " + settingOf(settings, "mysql", "host").asString() + ", port " +
                     settingOf(settings, "mysql", "port").asString() + ", user " +
                     settingOf(settings, "mysql", "user").asString() + ")";
    return nullptr;
  }
  return server;
}

}  // namespace veltro
