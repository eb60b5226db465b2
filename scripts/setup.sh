#!/usr/bin/env bash
# Installs what the project needs from Debian's packages; does nothing when
# everything is there. Safe to run any number of times.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config make
  libmariadb-dev libmariadbd-dev mariadb-server mariadb-client
  libncurses-dev libgtest-dev tmux procps
)
# The format, shell-script and function-length checks of ./test
# (scripts/check-format.sh, check-shell.sh, check-function-length.sh).
packages+=(clang-format shellcheck universal-ctags)
# The test server's certificates (scripts/testserver.sh).
packages+=(openssl)
# The Galera cluster of the cluster tests (scripts/cluster.sh).
packages+=(galera-4 mariadb-backup)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update -qq
# The package scripts may not start services inside containers; that is fine,
# the project starts its own servers.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
