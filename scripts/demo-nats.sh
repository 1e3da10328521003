#!/usr/bin/env bash
# Builds the tree (as scripts/demo.sh does), starts a nats-server of its own on
# 127.0.0.1 and runs MAMA applications in separate processes on transport
# "nats" of examples/mama.properties: publish/subscribe with a basic and a
# wildcard subscriber, market data with the initial value from the
# publisher's data-quality publisher manager, a symbol list, and inbox
# request/reply; each with the demo programs split into roles and with
# OpenMAMA's own tools unchanged. Every result is checked; the script exits
# non-zero on any fault and stops the server by its process id on the way out.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build-demo.sh tools

OPENMAMA_ROOT="${OPENMAMA_ROOT:-/opt/openmama-6.3.2}"
TOOLS="$OPENMAMA_ROOT/bin"
BIN="$PWD/build/bin"
# OpenMAMA's programs have no runpath; ours find their libraries anyway.
export LD_LIBRARY_PATH="$PWD/build/lib:$OPENMAMA_ROOT/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

. scripts/demoProcesses.sh

# Port 4222 as mama.properties says, or a free one written into a copy.
port=4222
if accepting "$port"; then
    port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
fi
sed "s#nats://127.0.0.1:4222#nats://127.0.0.1:$port#" examples/mama.properties >"$work/mama.properties"
export WOMBAT_PATH="$work"

nats-server -a 127.0.0.1 -p "$port" >"$work/nats-server.log" 2>&1 &
server_pids+=($!)
for _ in $(seq 100); do
    accepting "$port" && break
    kill -0 "${server_pids[0]}" 2>/dev/null || { cat "$work/nats-server.log"; exit 1; }
    sleep 0.1
done
accepting "$port" || { echo "nats-server did not start on port $port"; exit 1; }
echo "== nats-server (pid ${server_pids[0]}) on 127.0.0.1:$port"

# An OpenMAMA tool that runs until stopped: at most $1 seconds.
run_for() {
    local seconds="$1" name="$2"
    shift 2
    local rc=0
    timeout "$seconds" stdbuf -oL -eL "$@" >"$work/$name.log" 2>&1 || rc=$?
    ((rc == 0 || rc == 124)) || { show "$work/$name.log"; fail "$name exited with $rc"; }
}

tport=(-m corvex -tport nats)

echo "== publish/subscribe: 1000000 messages to a basic and a wildcard subscriber, three processes"
start basic "$BIN/mamapubsubdemo" "${tport[@]}" -S NYSE -s IBM -n 1000000 -role basic
start wildcard "$BIN/mamapubsubdemo" "${tport[@]}" -S NYSE -s IBM -n 1000000 -role wildcard
start publisher "$BIN/mamapubsubdemo" "${tport[@]}" -S NYSE -s IBM -n 1000000 -role publisher
finish publisher
finish basic
finish wildcard

echo "== publish/subscribe with OpenMAMA's mamapublisherc, mamasubscriberc and mamasubscriberc -w"
start sub_plain stdbuf -oL "$TOOLS/mamasubscriberc" "${tport[@]}" -s MAMA_TOPIC
start sub_wild stdbuf -oL "$TOOLS/mamasubscriberc" "${tport[@]}" -s '*' -w
sleep 1
run_for 30 mamapublisherc "$TOOLS/mamapublisherc" "${tport[@]}" -s MAMA_TOPIC -c 100 -i 0.01 -q -q
sleep 1
for name in sub_plain sub_wild; do
    pid="$(eval echo "\$pid_$name")"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    seqs="$(awk '$1 == "MdSeqNum" { print $4 }' "$work/$name.log" | tr '\n' ' ')"
    [[ "$seqs" == "$(seq -s ' ' 1 100) " ]] ||
        { show "$work/$name.log" | tail -20; fail "$name did not receive messages 1 to 100 in order"; }
    echo "-- $name: messages 1 to 100 received in order"
done

echo "== market data: mamamddemo publisher, mamamddemo listener and OpenMAMA's mamalistenc"
start md_publisher "$BIN/mamamddemo" "${tport[@]}" -S NYSE -s IBM -s MSFT -n 1000 -role publisher \
    -listeners 2 -q
start md_listener "$BIN/mamamddemo" "${tport[@]}" -S NYSE -s IBM -s MSFT -n 1000 -role listener -q
start mamalistenc stdbuf -oL "$TOOLS/mamalistenc" "${tport[@]}" -S NYSE -s IBM -s MSFT -B
finish md_publisher
finish md_listener
sleep 1
kill "$pid_mamalistenc" 2>/dev/null || true
wait "$pid_mamalistenc" 2>/dev/null || true
for symbol in IBM MSFT; do
    # Each symbol: one INITIAL (update number 0), then updates 1 to 1000.
    numbers="$(awk -v want="$symbol.NYSE.$symbol" '/ Type: / { current = $1; type = $3 }
        $1 == "DemoUpdateNum" && current == want { print type ":" $NF }' "$work/mamalistenc.log" |
        tr '\n' ' ')"
    expected="INITIAL:0 $(seq 1 1000 | sed 's/^/UPDATE:/' | tr '\n' ' ')"
    [[ "$numbers" == "$expected" ]] ||
        fail "mamalistenc: NYSE.$symbol did not get its INITIAL and updates 1 to 1000 in order"
    echo "-- mamalistenc: NYSE.$symbol: INITIAL, then updates 1 to 1000 in order"
done

echo "== symbol list: OpenMAMA's mamasymbollistsubscriberc, given its dictionary, the list and each symbol by mamamddemo"
start sl_publisher "$BIN/mamamddemo" "${tport[@]}" -S NYSE -s IBM -s MSFT -n 100 -role publisher -q
start symbollist stdbuf -oL "$TOOLS/mamasymbollistsubscriberc" "${tport[@]}" -S NYSE
finish sl_publisher
sleep 1
kill "$pid_symbollist" 2>/dev/null || true
wait "$pid_symbollist" 2>/dev/null || true
for symbol in IBM MSFT; do
    initials="$(grep -c "^Received message of type INITIAL for $symbol\.$" "$work/symbollist.log" || true)"
    updates="$(grep -c "^Received message of type UPDATE for $symbol\.$" "$work/symbollist.log" || true)"
    ((initials == 1 && updates == 100)) || {
        show "$work/symbollist.log" | tail -20
        fail "mamasymbollistsubscriberc: NYSE.$symbol got $initials INITIAL(s) and $updates of 100 updates"
    }
    echo "-- mamasymbollistsubscriberc: NYSE.$symbol from the symbol list: its INITIAL and 100 updates"
done

echo "== inbox request/reply: 10000 requests, requester and responder in separate processes"
start responder "$BIN/mamainboxdemo" "${tport[@]}" -n 10000 -role responder
start requester "$BIN/mamainboxdemo" "${tport[@]}" -n 10000 -role requester
finish requester
finish responder

echo "== inbox request/reply with OpenMAMA's mamainboxc against mamapublisherc"
start replier stdbuf -oL "$TOOLS/mamapublisherc" "${tport[@]}" -s MAMA_TOPIC -q -q
sleep 1
run_for 5 mamainboxc "$TOOLS/mamainboxc" "${tport[@]}"
kill "$pid_replier" 2>/dev/null || true
wait "$pid_replier" 2>/dev/null || true
replies="$(grep -c '^Received reply' "$work/mamainboxc.log" || true)"
((replies >= 3)) || { show "$work/mamainboxc.log"; fail "mamainboxc got $replies replies in 5 s"; }
echo "-- mamainboxc: $replies replies to its requests (one a second) in 5 s"

echo "== every program on the NATS transport passed"
