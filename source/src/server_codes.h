// The server and client error numbers that the library acts on itself.
#pragma once

namespace veltro::detail {

inline constexpr long long kServerGone = 2006;          // the statement never reached the server
inline constexpr long long kServerLost = 2013;          // lost while the statement ran
inline constexpr long long kServerLostExtended = 2055;  // the same, with the system error
inline constexpr long long kNodeNotReady = 1047;        // a Galera node outside a primary cluster
inline constexpr long long kDeadlock = 1213;            // also a Galera certification conflict
inline constexpr long long kShutdown = 1053;            // the server is shutting down: the statement was stopped
// A Galera node that lost the primary component while committing: the commit
// may already be with the cluster ("Error while appending streaming
// replication fragment", "Got error 6 during COMMIT").
inline constexpr long long kCommitError = 1180;
inline constexpr long long kClientErrorsFrom = 2000;    // numbers from here on are the client library's

// The statement may have been applied: its connection was lost while it ran,
// or its node failed after handing the commit to the cluster.
inline bool lostInFlight(long long code) {
  return code == kServerLost || code == kServerLostExtended || code == kCommitError;
}
// The connection is gone, whenever that was noticed.
inline bool connectionGone(long long code) {
  return code == kServerGone || code == kServerLost || code == kServerLostExtended;
}

}  // namespace veltro::detail
