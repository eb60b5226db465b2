// Opening a server object with settings members set by name, as a caller by
// name would, and a login that a test may change field by field.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "server_support.h"
#include "test_env.h"
#include "veltro/server.h"

namespace veltro::testing {

// Settings members by name, set through the message table as a caller by name would.
using Members = std::vector<std::pair<std::string, Value>>;

struct Login {
  Value host = serverEnv().host;
  Value user = serverEnv().user;
  Value flags = 0;
  Value password = serverEnv().password;
  Value port = static_cast<int>(serverEnv().port);
  Value database = serverEnv().database;
};

inline ServerPtr openWith(const Recorder& rec, const Members& members, const Login& login = {}) {
  ServerPtr s = TQuillonSrv::create();
  for (const auto& [name, value] : members) {
    s->send("_" + name, value);
    EXPECT_TRUE(s->send(name) == value) << name;
  }
  s->New(login.host, login.user, login.password, login.port, login.flags, login.database, rec.block());
  return s;
}

}  // namespace veltro::testing
