// Connecting through a host list: the first host that answers and is ready,
// and the session settings a cluster node needs.
#include <string>
#include <string_view>
#include <vector>

#include "veltro/binding.h"
#include "veltro/server.h"
#include "server_host_list.h"
#include "server_impl.h"

namespace veltro {

namespace {

// Whether a fresh connection may take statements, and why not.
struct NodeState {
  bool cluster = false;  // a Galera node
  bool ready = true;
  std::string why;
};

// A server without a Galera provider is always ready; a node must be Synced
// (state 4) with wsrep_ready ON. A node that refuses statements (1047) is
// not ready whatever its state says.
NodeState probe(db::Handle h) {
  static constexpr std::string_view kAsk =
      "SHOW GLOBAL STATUS WHERE Variable_name IN ('wsrep_provider_name', 'wsrep_ready', 'wsrep_local_state', "
      "'wsrep_local_state_comment')";
  static constexpr std::string_view kRefusing = "SELECT @@wsrep_reject_queries";
  NodeState st;
  if (db::query(h, kAsk.data(), kAsk.size()) != 0) {
    st.ready = false;
    st.why = std::to_string(db::errnum(h)) + " " + db::error(h);
    return st;
  }
  std::string provider, ready, state, comment;
  const db::Handle res = db::storeResult(h);
  db::RowView row;
  while (db::fetchRow(res, row)) {
    const std::string name(row.at(0));
    const std::string value(row.at(1));
    if (name == "wsrep_provider_name") provider = value;
    else if (name == "wsrep_ready") ready = value;
    else if (name == "wsrep_local_state") state = value;
    else if (name == "wsrep_local_state_comment") comment = value;
  }
  db::freeResult(res);
  st.cluster = !provider.empty();
  if (!st.cluster) return st;
  if (ready != "ON" || state != "4") {
    st.ready = false;
    st.why = "not ready (wsrep_ready " + ready + ", " + (comment.empty() ? "state " + state : comment) + ")";
    return st;
  }
  // SHOW answers on a node told to refuse client statements; its setting says so.
  if (db::query(h, kRefusing.data(), kRefusing.size()) == 0) {
    const db::Handle r = db::storeResult(h);
    std::string refusing;
    if (db::fetchRow(r, row)) refusing = std::string(row.at(0));
    db::freeResult(r);
    if (!refusing.empty() && refusing != "NONE") {
      st.ready = false;
      st.why = "refuses statements (wsrep_reject_queries " + refusing + ")";
    }
  } else {
    st.ready = false;
    st.why = std::to_string(db::errnum(h)) + " " + db::error(h);
  }
  return st;
}

}  // namespace

bool TQuillonSrv::Impl::hostList() const { return srv.cHost.isString() && detail::isHostList(srv.cHost.str()); }

Value TQuillonSrv::Impl::connectFirstReady(const Value& host, const Value& user, const Value& password,
                                     const Value& port, const Value& flags, const Value& database,
                                     const db::ConnectOptions& options) {
  std::vector<detail::HostEntry> hosts;
  std::string why;
  const std::string text = host.isString() ? host.str() : std::string();
  if (!detail::parseHostList(text, hosts, why)) {
    srv.RaiseInternal(kErrBadSetting, Value("cHost = \"" + text + "\": " + why));
    return Value(0);
  }
  std::string failures;
  const std::size_t n = hosts.size();
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t i = (nextNode_ + k) % n;
    const detail::HostEntry& entry = hosts[i];
    const Value nodePort = entry.port ? Value(static_cast<long long>(entry.port)) : port;
    const Value h = connectByRules(Value(entry.host), user, password, nodePort, flags, database, options);
    const db::Handle handle = h.asInt();
    std::string where = entry.host;
    if (entry.port) {
      where += ':';
      where += std::to_string(entry.port);
    }
    std::string failure;
    if (handle <= 0 || db::errnum(handle) != 0) {
      failure = std::to_string(db::errnum(handle)) + " " + db::error(handle);
    } else {
      const NodeState st = probe(handle);
      if (!st.ready) {
        failure = st.why;
      } else if (st.cluster && srv.lReadYourWrites.asBool()) {
        static constexpr std::string_view kSyncReads = "SET SESSION wsrep_sync_wait = 1";
        if (db::query(handle, kSyncReads.data(), kSyncReads.size()) != 0)
          failure = std::to_string(db::errnum(handle)) + " " + db::error(handle);
      }
    }
    if (failure.empty()) {
      node_ = i;
      return h;
    }
    if (handle > 0) db::close(handle);
    if (!failures.empty()) failures += "; ";
    failures += where + ": " + failure;
  }
  // While reconnecting the caller reports the loss it met, with why no host was used.
  reconnectWhy_ = failures;
  if (!reconnecting_) srv.RaiseInternal(kErrNoReadyNode, Value(failures));
  return Value(0);
}

}  // namespace veltro
