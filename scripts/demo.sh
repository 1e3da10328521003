#!/usr/bin/env bash
# Builds the tree and runs the demo programs on the embedded router: event
# queues, publish/subscribe, market data with the initial value from the
# publisher manager and then from the router's cache, and inbox
# request/reply. Each program checks what it received and exits non-zero on
# any fault; the script stops at the first that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build-demo.sh
export WOMBAT_PATH="$PWD/examples"

run() {
    echo "== $*"
    "$@"
}

run ./build/bin/mamaqueuedemo -m corvex
run ./build/bin/mamapubsubdemo -m corvex -tport t1 -S NYSE -s IBM -n 1000000
run ./build/bin/mamamddemo -m corvex -tport t1 -S NYSE -s IBM -s MSFT -n 5
run ./build/bin/mamamddemo -m corvex -tport t1 -S NYSE -s IBM -s MSFT -n 5 -cache
run ./build/bin/mamainboxdemo -m corvex -tport t1 -n 10000
echo "== every demo program passed"
