#!/usr/bin/env bash
# Runs the benchmarks in one go so that their figures can be compared as
# ratios: the client library alone, then MAMA over the bridge, then the
# payload's encode and decode against a plain copy of the same bytes.
#   bench/run.sh [build-dir] [messages]
set -euo pipefail
build=${1:-build}
count=${2:-1000000}
echo "== client library: one publishing thread, one subscribing session, 100-byte messages"
"$build/bin/corvexclient_throughput" "$count" 100
echo "== MAMA over the bridge: one publisher, a basic and a wildcard subscriber"
"$build/bin/mamapubsubdemo" -n "$count" 2>/dev/null
echo "== corvexmsg payload: encode and decode through the MAMA message API, beside memcpy of the encoded bytes"
"$build/bin/payload_codec"
