#!/usr/bin/env bash
# Installs the build and test dependencies on Debian 12 (run as root), and
# OpenMAMA 6.3.2 once (scripts/openmama.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
pkgs=(build-essential cmake libgtest-dev valgrind
      # the install test builds against the installed client library with pkg-config
      pkgconf
      # the module dependency check (scripts/module-cycles.py) and the format check
      python3 clang-format
      # what OpenMAMA's build needs
      flex libevent-dev uuid-dev zlib1g-dev libapr1-dev libaprutil1-dev libncurses-dev
      # the client library's NATS router (C client with headers) and the server its tests start
      libnats-dev nats-server)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
./scripts/openmama.sh
