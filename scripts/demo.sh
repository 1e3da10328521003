#!/usr/bin/env bash
# Builds the tree and runs the demo programs on the embedded router.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
export WOMBAT_PATH="$PWD/examples"
./build/bin/mamaqueuedemo -m corvex
./build/bin/mamapubsubdemo -m corvex -tport t1 -S NYSE -s IBM -n 1000000
