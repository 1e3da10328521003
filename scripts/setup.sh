#!/usr/bin/env bash
# Installs on Debian 12 (run as root) the packages a level needs, and OpenMAMA
# 6.3.2 as far as that level needs it (scripts/openmama.sh):
#   scripts/setup.sh demo    building the tree and the demo programs
#   scripts/setup.sh tools   + nats-server and OpenMAMA's own tools (scripts/demo-nats.sh)
#   scripts/setup.sh test    + what the tests and the checks use (scripts/test.sh)
#   scripts/setup.sh [all]   + OpenMAMA's C++ bindings and programs
set -euo pipefail
cd "$(dirname "$0")/.."
level="${1:-all}"
pkgs=(build-essential cmake pkgconf
      # the tree's tests are configured with the tree, built or not
      libgtest-dev
      # what OpenMAMA's build needs
      flex libevent-dev uuid-dev zlib1g-dev libapr1-dev libaprutil1-dev libncurses-dev
      # the client library's NATS router (the C client with its headers)
      libnats-dev)
case "$level" in
  demo) ;;
  tools) pkgs+=(nats-server) ;;
  test | all)
    # the server the NATS tests start, the module dependency check
    # (scripts/module-cycles.py), the format check, callgrind for bench/
    pkgs+=(nats-server python3 clang-format valgrind) ;;
  *) echo "usage: $0 [demo|tools|test|all]" >&2; exit 2 ;;
esac
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "== installing ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
./scripts/openmama.sh "$level"
