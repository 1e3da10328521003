#!/usr/bin/env bash
# Runs the benchmarks in one go so that their figures can be compared as
# ratios: the client library alone, then MAMA over the bridge in the same
# case, then the payload's encode and decode against a plain copy of the same
# bytes. bench/matrix.sh runs the full matrix of sizes and subscribers.
#   bench/run.sh [build-dir] [messages]
set -euo pipefail
build=${1:-build}
count=${2:-1000000}
echo "== client library: one publishing thread, a plain and a wildcard subscription, 100-byte messages"
"$build/bin/corvexclient_throughput" -n "$count" -l 100 -numSubs 2
echo "== MAMA over the bridge: one publisher thread, a basic and a wildcard subscriber, 100-byte opaque"
"$build/bin/mamabench" -n "$count" -l 100 -numSubs 2 -q 2>/dev/null
echo "== corvexmsg payload: encode and decode through the MAMA message API, beside memcpy of the encoded bytes"
"$build/bin/payload_codec"
