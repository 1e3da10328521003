#!/usr/bin/env bash
# What both demo commands start with: the packages and OpenMAMA as far as the
# demo needs them (scripts/setup.sh demo, or tools for the NATS demo), then
# the tree configured in build/ and only the demo programs built, with the
# libraries they load (the tests and the benchmarks are left to
# scripts/test.sh or a plain `cmake --build build`).
#   scripts/build-demo.sh [demo|tools]
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh "${1:-demo}"
echo "== configuring the tree in build/"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== building the demo programs and the libraries they load"
cmake --build build -j"$(nproc)" --target corvex_demos
