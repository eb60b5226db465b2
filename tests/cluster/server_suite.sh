#!/usr/bin/env bash
# The server tests on a cluster, run against it through its host list (the
# VELTRO_CLUSTER_* variables of scripts/cluster.sh).
#
#   server_suite.sh SERVER_TESTS_BINARY [GTEST_OPTIONS...]
set -euo pipefail
: "${VELTRO_CLUSTER_HOSTS:?run through ./test: the cluster is missing}"
: "${VELTRO_CLUSTER_PORT:?the cluster has no first port: start it again with scripts/cluster.sh, which writes its env.sh}"
dir=$VELTRO_CLUSTER_DIR
bin=${1:?usage: server_suite.sh SERVER_TESTS_BINARY [GTEST_OPTIONS...]}
shift
export VELTRO_TEST_HOST=$VELTRO_CLUSTER_HOSTS VELTRO_TEST_PORT=$VELTRO_CLUSTER_PORT VELTRO_TEST_USER=$VELTRO_CLUSTER_USER \
  VELTRO_TEST_PASSWORD=$VELTRO_CLUSTER_PASSWORD VELTRO_TEST_DB=$VELTRO_CLUSTER_DB \
  VELTRO_TEST_SOCKET=$dir/node1/mysqld.sock VELTRO_TEST_TMP=$dir/tmp
# What ./test gives of its single server (its process, its script's
# directory, its TLS) is not the cluster's.
unset VELTRO_TEST_PID VELTRO_TEST_SERVER_DIR VELTRO_TEST_SSL_CA VELTRO_TEST_OTHER_CA VELTRO_TEST_TLS_USER
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
# Every server test runs; the ones that do not apply on a cluster skip
# themselves with their reason (VELTRO_SKIP_ON_CLUSTER, on
# VELTRO_TEST_ON_CLUSTER=1).
export VELTRO_TEST_ON_CLUSTER=1
"$bin" "$@"
