// The program's connection: connect.ini read and checked, the server object opened
// from it, and the checks made before the menu (clientes present).
#include "connect.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
  // A port that names no port goes on as its text, for the server object to refuse.
  const std::string portText = settingOf(settings, "mysql", "port").asString();
  Number portNumber;
  std::string ignored;
  Value port = settingPort(portText, portNumber, ignored) ? Value(portNumber) : Value(portText);
  Value database = settingOf(settings, "mysql", "dbname");
  Value flags = Value(settingNumber(settingOf(settings, "mysql", "flags").asString()));
  const Value* section = settings->find("mysql");
  Value embedded = section->asTable()->get("embedded");

  ServerPtr server = TQuillonSrv::create();
  // The optional keys; absent ones leave the client library's defaults.
  applyConnectionSettings(settings, *server);
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

namespace {

std::string fullPath(const std::string& file) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(file, ec);
  return ec ? file : p.lexically_normal().string();
}

// Where the seeding tool is: beside the program in the build tree, else by its name.
std::string seedCommand() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const std::filesystem::path tool = self.parent_path().parent_path() / "tools" / "seed_clientes";
    if (std::filesystem::exists(tool, ec)) return tool.string();
  }
  return "seed_clientes";
}

}  // namespace

TablePtr readSettings(const std::string& file, std::string& problem) {
  const std::string path = fullPath(file);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    problem = "the settings file " + path + " does not exist";
    return nullptr;
  }
  if (std::filesystem::is_directory(path, ec)) {
    problem = "the settings file " + path + " is a folder";
    return nullptr;
  }
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fclose(f);
  } else {
    problem = "the settings file " + path + " cannot be read (" + std::strerror(errno) + ")";
    return nullptr;
  }
  TablePtr settings = INIREAD(path);
  const Value* section = settings->find("mysql");
  if (!section || !section->isTable()) {
    problem = "the settings file " + path + " has no section [mysql]";
    return nullptr;
  }
  for (const char* key : kRequiredKeys) {
    if (!section->asTable()->find(key)) {
      problem = "the settings file " + path + " has no key \"" + key + "\" in section [mysql]";
      return nullptr;
    }
  }
  // The client library would cut a value at a zero byte, and take a port
  // beyond 16 bits for another.
  for (const auto& entry : *section->asTable()) {
    if (entry.value.asString().find('\0') != std::string::npos) {
      problem = "the settings file " + path + ": the value of \"" + entry.key + "\" in section [mysql] holds a zero byte";
      return nullptr;
    }
  }
  Number port;
  std::string why;
  if (!settingPort(section->asTable()->find("port")->asString(), port, why)) {
    problem = "the settings file " + path + ": " + why;
    return nullptr;
  }
  return settings;
}

ServerPtr connectWith(const TablePtr& settings, std::string& failureText) {
  ServerPtr server;
  ErrorPtr failure = guarded([&] { server = openServer(settings); });
  if (!failure) {
    server->lRepeatable = true;
    return server;
  }
  if (server) server->End();
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

bool clientesReady(TQuillonSrv& server, const std::string& settingsFile, std::string& failureText) {
  if (server.TableExist("clientes")) return true;
  const std::string database = server.cDBName.asString();
  failureText = "the table clientes does not exist" + (database.empty() ? std::string() : " in database " + database) +
                "; create and fill it with:\n  " + seedCommand() + " --ini " + fullPath(settingsFile) + " --rows 1000";
  return false;
}

ServerPtr CONNECTTO() {
  std::string ignored;
  return CONNECTTO(ignored);
}

ServerPtr CONNECTTO(std::string& failureText) {
  TablePtr settings = INIREAD(std::string("./") + kSettingsFile);
  // The lookups stand outside the guarded block: a missing key is reported
  // and ends the program; a failed connection only makes this return nil.
  for (const char* key : kRequiredKeys) settingOf(settings, "mysql", key);
  return connectWith(settings, failureText);
}

}  // namespace veltro
