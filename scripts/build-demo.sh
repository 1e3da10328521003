#!/usr/bin/env bash
# What both demo commands start with: the packages and OpenMAMA
# (scripts/setup.sh), then the tree configured and built in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
