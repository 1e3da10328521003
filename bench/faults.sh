#!/usr/bin/env bash
# The faults of issue-style runs, shortened to keep the whole under about
# five minutes: a publisher and a subscriber process (bench/faults.c) with
# sequence numbers on a nats-server that is frozen, killed and restarted,
# a burst against small and default pending limits, a 1 ms consumer without
# asynchronous mode on the embedded router, and a 1 ms consumer's memory on
# NATS. Each run prints its key=value lines: lost (messages missing between
# those received) against quality (the events the subscriber was given),
# gaps and flagged (gaps with a quality event since the message before),
# and on the publishing side failed sends, the longest send, the
# publish-error events and what the outage reports among them count (failed
# sends and sends that may not have reached the server).
#   bench/faults.sh [build-dir]
# FAULTS_FREEZE_S (default 20), FAULTS_KILLS (10), FAULTS_OUTAGE_S (10) and
# FAULTS_SLOW_S (15) set the lengths.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
faults=$build/bin/faults
freezeS=${FAULTS_FREEZE_S:-20}
kills=${FAULTS_KILLS:-10}
outageS=${FAULTS_OUTAGE_S:-10}
slowS=${FAULTS_SLOW_S:-15}
server=$(command -v nats-server || true)
[[ -n $server ]] || { echo "nats-server not found (scripts/setup.sh installs it)" >&2; exit 1; }
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
work=$(mktemp -d)
serverPid=""

startServer() {
    "$server" -a 127.0.0.1 -p "$port" >>"$work/server.log" 2>&1 &
    serverPid=$!
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
        sleep 0.05
    done
    echo "nats-server did not start" >&2
    exit 1
}
killServer() {
    kill -9 "$serverPid" 2>/dev/null || true
    wait "$serverPid" 2>/dev/null || true
    serverPid=""
}
trap '[[ -n $serverPid ]] && kill -CONT $serverPid 2>/dev/null; killServer; rm -rf "$work"' EXIT
# properties <file> <key=value...>: the NATS transport "nats" and the
# embedded one "embedded", with extra keys.
properties() {
    local file=$1
    shift
    {
        echo "mama.corvex.transport.nats.SESSION_ROUTER=nats://127.0.0.1:$port"
        echo "mama.corvex.transport.nats.allow_recover_gaps=false"
        echo "mama.corvex.transport.nats.use_corvexcache=false"
        echo "mama.corvex.transport.embedded.allow_recover_gaps=false"
        echo "mama.corvex.transport.embedded.use_corvexcache=false"
        for line in "$@"; do echo "$line"; done
    } >"$file/mama.properties"
}
# run <name> <fault command> <subscriber args> -- <publisher args>
run() {
    local name=$1 fault=$2 sub=() pub=()
    shift 2
    while [[ $1 != -- ]]; do sub+=("$1"); shift; done
    shift
    pub=("$@")
    "$faults" -role sub "${sub[@]}" >"$work/sub.out" 2>"$work/sub.err" &
    local subPid=$!
    sleep 1
    "$faults" -role pub "${pub[@]}" >"$work/pub.out" 2>"$work/pub.err" &
    local pubPid=$!
    eval "$fault"
    wait "$pubPid" || true
    wait "$subPid" || true
    echo "== $name"
    echo "  $(tail -n 1 "$work/sub.out")"
    echo "  $(tail -n 1 "$work/pub.out") outage_report_count=$(reportedSends "$work/pub.err")"
}
# What the publisher's outage reports (its log lines) count: sends failed
# and sends that may not have reached the server.
reportedSends() {
    grep -oE '[0-9]+ sends (failed while|may not have reached)' "$1" |
        awk '{ n += $1 } END { print n + 0 }'
}

mkdir -p "$work/nats" "$work/pending" "$work/sync"
properties "$work/nats"
properties "$work/pending" "mama.corvex.transport.nats.SESSION_ROUTER_PENDING_LIMIT=100"
# A queue of 1000 rather than 50000, so that the consumer reaches the
# discards within the run.
properties "$work/sync" "mama.corvex.transport.subscribe_async=false" \
    "mama.corvex.transport.queue_max_size=1000"

startServer
export WOMBAT_PATH=$work/nats
run "frozen server: SIGSTOP ${freezeS} s at 2000 msg/s" \
    "sleep 3; kill -STOP \$serverPid; sleep $freezeS; kill -CONT \$serverPid" \
    -maxTime $((freezeS + 40)) -- -rate 2000 -time $((freezeS + 10))

run "$kills kills and restarts at 2000 msg/s" \
    "sleep 2; for _ in \$(seq $kills); do killServer; sleep 0.5; startServer; sleep 1.5; done" \
    -maxTime $((kills * 2 + 30)) -- -rate 2000 -time $((kills * 2 + 4))

run "outage of ${outageS} s at 5000 msg/s" \
    "sleep 2; killServer; sleep $outageS; startServer" \
    -maxTime $((outageS + 30)) -- -rate 5000 -time $((outageS + 5))

run "full-speed burst of 500000 (default pending limit)" "true" \
    -maxTime 60 -- -rate 0 -n 500000
export WOMBAT_PATH=$work/pending
run "full-speed burst of 500000, SESSION_ROUTER_PENDING_LIMIT=100" "true" \
    -maxTime 60 -- -rate 0 -n 500000

export WOMBAT_PATH=$work/nats
run "1 ms consumer at 20000 msg/s for ${slowS} s on NATS (memory)" "true" \
    -sleepUs 1000 -maxTime $((slowS + 5)) -- -rate 20000 -time "$slowS"

export WOMBAT_PATH=$work/sync
echo "== 1 ms consumer at 20000 msg/s for ${slowS} s, subscribe_async=false, queue_max_size=1000, embedded router"
echo "  $("$faults" -role both -tport embedded -sleepUs 1000 -rate 20000 -time "$slowS" \
    -maxTime $((slowS + 5)) 2>"$work/both.err" | tail -n 1)"
