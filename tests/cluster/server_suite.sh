#!/usr/bin/env bash
# The server tests that make sense on a cluster, run against it through its
# host list (the VELTRO_CLUSTER_* variables of scripts/cluster.sh).
#
#   server_suite.sh SERVER_TESTS_BINARY
set -euo pipefail
: "${VELTRO_CLUSTER_HOSTS:?run through ./test: the cluster is missing}"
dir=$VELTRO_CLUSTER_DIR
export VELTRO_TEST_HOST=$VELTRO_CLUSTER_HOSTS VELTRO_TEST_PORT=$VELTRO_CLUSTER_PORT VELTRO_TEST_USER=$VELTRO_CLUSTER_USER \
  VELTRO_TEST_PASSWORD=$VELTRO_CLUSTER_PASSWORD VELTRO_TEST_DB=$VELTRO_CLUSTER_DB \
  VELTRO_TEST_SOCKET=$dir/node1/mysqld.sock VELTRO_TEST_TMP=$dir/tmp
mkdir -p "$VELTRO_TEST_TMP"
# The tests check what a statement did through another session, which the
# host list may put on another node: reads wait for the cluster's commits.
sync_wait() {
  for n in 1 2 3; do
    mariadb --no-defaults -uroot -S "$dir/node$n/mysqld.sock" -e "SET GLOBAL wsrep_sync_wait = $1"
  done
}
sync_wait 1
trap 'sync_wait 0' EXIT
# The tests that do not apply on a cluster skip themselves with their reason
# (VELTRO_SKIP_ON_CLUSTER, on VELTRO_TEST_ON_CLUSTER=1). Suites not run here:
# Fault, Connection, Charset, Binding (the throwaway server's script, TLS and
# socket), Registry (numbering from a fresh process), the Session* suites and
# the remaining charset and lexer suites.
export VELTRO_TEST_ON_CLUSTER=1
"$1" --gtest_filter="Backup.*:DumpRoundTrip.*:Escape.*:Query.*:Row.*:Schema.*:Server.*:Users.*:Modes/Hostile.*:Threads.*"
