#!/usr/bin/env bash
# Installs the build and test dependencies on Debian 12 (run as root).
set -euo pipefail
pkgs=(build-essential cmake libgtest-dev valgrind)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
