#!/usr/bin/env bash
# Builds the tree (as scripts/demo.sh does), starts a cluster of three
# nats-servers of its own, joined by routes on free loopback ports, with
# JetStream, and runs MAMA applications in separate processes across it:
# each process is given all three servers, in an order that puts it on a
# server of its own (transports "cluster1", "cluster2", "cluster3" of a copy
# of examples/mama.properties). Publish/subscribe, market data and inbox
# request/reply run with publisher and receivers on different servers; then
# the server of a market-data listener (OpenMAMA's mamalistenc) is killed
# while updates flow: the listener moves to another server, reports the
# disconnect and the reconnect, and the updates go on; the last-value cache,
# kept by all three servers, still gives initial values afterwards. Every
# result is checked; the script exits non-zero on any fault and stops the
# servers by their process ids on the way out.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build-demo.sh tools

OPENMAMA_ROOT="${OPENMAMA_ROOT:-/opt/openmama-6.3.2}"
TOOLS="$OPENMAMA_ROOT/bin"
BIN="$PWD/build/bin"
export LD_LIBRARY_PATH="$PWD/build/lib:$OPENMAMA_ROOT/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

. scripts/demoProcesses.sh

# Six distinct free loopback ports: three for clients, three for routes.
read -r -a ports <<<"$(python3 -c '
import socket
held = [socket.socket() for _ in range(6)]
for s in held:
    s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))')"

for i in 0 1 2; do
    routes=""
    for j in 0 1 2; do
        ((j == i)) || routes="${routes:+$routes,}nats://127.0.0.1:${ports[$((3 + j))]}"
    done
    mkdir -p "$work/store$i"
    nats-server -a 127.0.0.1 -p "${ports[$i]}" -n "corvex-$((i + 1))" -js -sd "$work/store$i" \
        --cluster_name corvex --cluster "nats://127.0.0.1:${ports[$((3 + i))]}" \
        --routes "$routes" >"$work/nats-server$i.log" 2>&1 &
    server_pids+=($!)
done
for i in 0 1 2; do
    for _ in $(seq 100); do
        accepting "${ports[$i]}" && break
        sleep 0.1
    done
    accepting "${ports[$i]}" || { cat "$work/nats-server$i.log"; fail "server $((i + 1)) did not start"; }
    echo "== nats-server corvex-$((i + 1)) (pid ${server_pids[$i]}) on 127.0.0.1:${ports[$i]}"
done

# Transport clusterN: all three servers, the N-th first; the last-value
# cache on three copies.
cp examples/mama.properties "$work/mama.properties"
for n in 1 2 3; do
    urls=""
    for k in 0 1 2; do
        urls="${urls:+$urls,}nats://127.0.0.1:${ports[$(((n - 1 + k) % 3))]}"
    done
    cat >>"$work/mama.properties" <<EOF
mama.corvex.transport.cluster$n.SESSION_ROUTER=$urls
mama.corvex.transport.cluster$n.allow_recover_gaps=false
mama.corvex.transport.cluster$n.use_corvexcache=false
mama.corvex.transport.cluster$n.SESSION_ROUTER_CACHED_TOPICS=NYSE/>
mama.corvex.transport.cluster$n.SESSION_ROUTER_CACHE_REPLICAS=3
EOF
done
export WOMBAT_PATH="$work"

# JetStream places a stream on three servers once the cluster has formed.
for _ in $(seq 100); do
    grep -q "JetStream cluster new metadata leader" "$work"/nats-server*.log && break
    sleep 0.2
done
echo "== cluster formed (JetStream has a leader)"

on() { echo -m corvex -tport "cluster$1"; }

# The first program creates the cache's stream, on all three servers.
echo "== last-value cache on three servers: initial values from the cache (server 2)"
start cache_before "$BIN/mamamddemo" $(on 2) -S NYSE -s IBM -n 200 -cache -q
finish cache_before

echo "== publish/subscribe: publisher on server 1, basic subscriber on 2, wildcard on 3"
start basic "$BIN/mamapubsubdemo" $(on 2) -S NYSE -s IBM -n 100000 -role basic
start wildcard "$BIN/mamapubsubdemo" $(on 3) -S NYSE -s IBM -n 100000 -role wildcard
start publisher "$BIN/mamapubsubdemo" $(on 1) -S NYSE -s IBM -n 100000 -role publisher
finish publisher
finish basic
finish wildcard

echo "== market data: publisher on server 1, listener on server 3"
start md_publisher "$BIN/mamamddemo" $(on 1) -S NYSE -s IBM -s MSFT -n 1000 -role publisher -q
start md_listener "$BIN/mamamddemo" $(on 3) -S NYSE -s IBM -s MSFT -n 1000 -role listener -q
finish md_publisher
finish md_listener

echo "== inbox request/reply: requester on server 2, responder on server 3"
start responder "$BIN/mamainboxdemo" $(on 3) -n 1000 -role responder
start requester "$BIN/mamainboxdemo" $(on 2) -n 1000 -role requester
finish requester
finish responder

echo "== failover: mamalistenc on server 2, market data from server 1; server 2 killed"
updates=20000
start md_feed "$BIN/mamamddemo" $(on 1) -S NYSE -s FAIL -n "$updates" -role publisher -q
start mamalistenc stdbuf -oL "$TOOLS/mamalistenc" $(on 2) -S NYSE -s FAIL -B
# The listener has its initial value and updates are flowing.
for _ in $(seq 400); do
    (($(grep -c DemoUpdateNum "$work/mamalistenc.log" || true) >= 200)) && break
    sleep 0.02
done
before="$(grep -c DemoUpdateNum "$work/mamalistenc.log" || true)"
killed_at=$(date +%s%N)
kill -9 "${server_pids[1]}"
wait "${server_pids[1]}" 2>/dev/null || true
echo "-- killed nats-server corvex-2 (pid ${server_pids[1]}) after $before of $updates updates"
((before < updates)) || fail "the updates were over before the kill"
finish md_feed
sleep 1
kill "$pid_mamalistenc" 2>/dev/null || true
wait "$pid_mamalistenc" 2>/dev/null || true
grep -E "Transport callback|Quality|quality" "$work/mamalistenc.log" | sort | uniq -c | sed 's/^/   /' || true
grep -q "Transport callback: DISCONNECT" "$work/mamalistenc.log" ||
    fail "mamalistenc was not told of the disconnect"
grep -q "Transport callback: RECONNECT" "$work/mamalistenc.log" ||
    fail "mamalistenc was not told of the reconnect"
numbers="$(awk '$1 == "DemoUpdateNum" { print $NF }' "$work/mamalistenc.log")"
last="$(tail -1 <<<"$numbers")"
received="$(wc -l <<<"$numbers")"
[[ "$last" == "$updates" ]] || fail "mamalistenc's last update is $last, not $updates"
echo "-- mamalistenc: updates went on to the last ($last); $((updates + 1 - received)) of $((updates + 1)) messages (initial and updates) missed across the failover"

echo "== last-value cache after the kill: initial values from the cache (server 2 gone)"
# When server 2 led the stream's copies, the cache answers again once the
# cluster has chosen another leader (seconds; requests meanwhile time out).
for attempt in $(seq 10); do
    rc=0
    "$BIN/mamamddemo" $(on 2) -S NYSE -s IBM -n 200 -cache -q >"$work/cache_after.log" 2>&1 || rc=$?
    ((rc != 0)) || break
    echo "-- attempt $attempt: no initial value from the cache yet"
    sleep 1
done
echo "-- cache_after ($(( ($(date +%s%N) - killed_at) / 1000000 )) ms after the kill)"
show "$work/cache_after.log"
((rc == 0)) || fail "the cache gave no initial values after the kill"

echo "== every program across the cluster passed"
