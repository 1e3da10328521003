#!/usr/bin/env bash
# MAMA over the bridge on a NATS server against the NATS C client alone, in
# the same run: one publisher process and one subscriber process through one
# local nats-server, 100 and 1,000-byte messages, then request/reply round
# trips between two processes. The NATS client runs twice: plain, and with
# one header on every message holding what the bridge's publisher
# information takes (the bridge sends a message's user properties as a
# header), so that the cost of the header in the NATS client itself shows.
# Each size runs NATS_ROUNDS rounds of the three, alternated; the tables
# give the medians, and each ratio is the median of the rounds' ratios.
# Writes bench/results/nats.csv and bench/results/nats.png (gnuplot) and
# prints the tables as markdown. Stops with the first run that loses a
# message.
#   bench/nats.sh [build-dir]
# NATS_COUNT sets the messages per throughput run, NATS_REQUESTS the round
# trips per request/reply run, NATS_ROUNDS the rounds (default 3).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
count=${NATS_COUNT:-1000000}
requests=${NATS_REQUESTS:-10000}
rounds=${NATS_ROUNDS:-3}
results=$here/results
mkdir -p "$results"
csv=$results/nats.csv

server=$(command -v nats-server || true)
if [[ -z $server ]]; then
    echo "nats-server not found (scripts/setup.sh installs it)" >&2
    exit 1
fi
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
work=$(mktemp -d)
"$server" -a 127.0.0.1 -p "$port" >"$work/server.log" 2>&1 &
serverPid=$!
replier=""
trap 'kill $serverPid $replier 2>/dev/null || true; rm -rf "$work"' EXIT
url=nats://127.0.0.1:$port
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.05
done
cat >"$work/mama.properties" <<EOF
mama.corvex.transport.nats.SESSION_ROUTER=$url
mama.corvex.transport.nats.allow_recover_gaps=false
EOF
export WOMBAT_PATH=$work

# Prints the key=value result line of a finished program, or stops.
result() {
    local line
    line=$(tail -n 1 "$1")
    if [[ $line != *" ok=1" ]]; then
        echo "failed: $2 -> ${line:-no output}" >&2
        exit 1
    fi
    echo "$line"
}
. "$here/results.sh"
# pair <name> <subscriber command...> -- <publisher command...>: runs both,
# the subscriber first; prints the subscriber's line.
pair() {
    local name=$1 sub=() pub=()
    shift
    while [[ $1 != -- ]]; do sub+=("$1"); shift; done
    shift
    pub=("$@")
    "${sub[@]}" -q >"$work/sub.out" 2>/dev/null &
    local subPid=$!
    "${pub[@]}" -q >"$work/pub.out" 2>/dev/null || { echo "failed: $name publisher" >&2; exit 1; }
    wait $subPid || true
    result "$work/sub.out" "$name subscriber"
}

# median <numbers...>: the middle one (the mean of the two middle ones).
median() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.0f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# median3 <numbers...>: the same to three places, for ratios.
median3() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# What the bridge's publisher information holds ("U", "H", "P" and "S"), in
# the bridge's header encoding.
header="U=s$(id -un),H=s$(hostname),P=i$$,S=sUnknown"

echo "mode,size,layer,msgs_per_sec,cpu_ns_per_msg_subscriber,p50_us,p90_us,p99_us,max_us,ratio_to_nats,ratio_to_nats_header" >"$csv"
table="| size (bytes) | bridge msg/s | NATS client msg/s | NATS client, one header msg/s | bridge/NATS | bridge/NATS with header | bridge subscriber CPU ns/msg | NATS subscriber CPU ns/msg | NATS with header subscriber CPU ns/msg |
|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
plot=$work/plot
for size in 100 1000; do
    bRates=(); rRates=(); hRates=(); bCpus=(); rCpus=(); hCpus=(); rRatios=(); hRatios=()
    for round in $(seq "$rounds"); do
        raw=$(pair "natsbench $size" "$build/bin/natsbench" -role sub -url "$url" -n "$count" -l "$size" \
            -- "$build/bin/natsbench" -role pub -url "$url" -n "$count" -l "$size")
        withHeader=$(pair "natsbench -header $size" "$build/bin/natsbench" -role sub -url "$url" -n "$count" -l "$size" -header "$header" \
            -- "$build/bin/natsbench" -role pub -url "$url" -n "$count" -l "$size" -header "$header")
        bridge=$(pair "mamabench $size" "$build/bin/mamabench" -role subscriber -tport nats -n "$count" -l "$size" \
            -- "$build/bin/mamabench" -role publisher -tport nats -n "$count" -l "$size")
        bRates+=("$(field msgs_per_sec "$bridge")"); rRates+=("$(field msgs_per_sec "$raw")")
        hRates+=("$(field msgs_per_sec "$withHeader")")
        bCpus+=("$(field cpu_ns_per_msg "$bridge")"); rCpus+=("$(field cpu_ns_per_msg "$raw")")
        hCpus+=("$(field cpu_ns_per_msg "$withHeader")")
        rRatios+=("$(ratio "${bRates[-1]}" "${rRates[-1]}")"); hRatios+=("$(ratio "${bRates[-1]}" "${hRates[-1]}")")
        echo "NATS throughput $size bytes, round $round: bridge ${bRates[-1]} msg/s, NATS client ${rRates[-1]} msg/s, with a header ${hRates[-1]} msg/s" >&2
    done
    bRate=$(median "${bRates[@]}"); rRate=$(median "${rRates[@]}"); hRate=$(median "${hRates[@]}")
    bCpu=$(median "${bCpus[@]}"); rCpu=$(median "${rCpus[@]}"); hCpu=$(median "${hCpus[@]}")
    r=$(median3 "${rRatios[@]}"); h=$(median3 "${hRatios[@]}")
    echo "throughput,$size,bridge,$bRate,$bCpu,,,,,$r,$h" >>"$csv"
    echo "throughput,$size,nats,$rRate,$rCpu,,,,,," >>"$csv"
    echo "throughput,$size,nats_header,$hRate,$hCpu,,,,,," >>"$csv"
    table+=$'\n'"| $size | $bRate | $rRate | $hRate | $r | $h | $bCpu | $rCpu | $hCpu |"
    echo "\"${size}B\" $bRate $rRate $hRate $r $h" >>"$plot"
done

latency="| layer | round trips | p50 µs | p90 µs | p99 µs | max µs |
|---|---:|---:|---:|---:|---:|"
"$build/bin/natsbench" -role reply -url "$url" -q 2>/dev/null &
replier=$!
"$build/bin/natsbench" -role request -url "$url" -n "$requests" -l 100 >"$work/raw.out" 2>/dev/null || true
kill $replier; wait $replier 2>/dev/null || true
raw=$(result "$work/raw.out" "natsbench request")
"$build/bin/mamarequest" -role replier -tport nats -q 2>/dev/null &
replier=$!
"$build/bin/mamarequest" -role requester -tport nats -n "$requests" -l 100 >"$work/bridge.out" 2>/dev/null || true
kill $replier; wait $replier 2>/dev/null || true
replier=""
bridge=$(result "$work/bridge.out" "mamarequest")
for layer in bridge nats; do
    if [[ $layer == bridge ]]; then line=$bridge; else line=$raw; fi
    p=()
    for key in p50_us p90_us p99_us max_us; do p+=("$(field "$key" "$line")"); done
    r=""
    [[ $layer == bridge ]] && r=$(ratio "${p[0]}" "$(field p50_us "$raw")")
    echo "request,100,$layer,,,${p[0]},${p[1]},${p[2]},${p[3]},$r," >>"$csv"
    latency+=$'\n'"| $layer | $requests | ${p[0]} | ${p[1]} | ${p[2]} | ${p[3]} |"
done

rm -f "$results/nats.png"
if command -v gnuplot >/dev/null; then
    gnuplot <<EOF
set terminal pngcairo size 800,480 noenhanced font ",10"
set output "$results/nats.png"
set title "Messages per second, one publisher and one subscriber process, one local nats-server"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set boxwidth 0.9
set yrange [0:*]
set offsets 0, 0, graph 0.35, 0
set ylabel "msg/s"
set y2label "bridge / NATS client"
set y2range [0:1]
set y2tics 0.1
set ytics nomirror
set grid ytics
set key top left
plot "$plot" using 2:xtic(1) title "MAMA over the bridge", \
     "" using 3 title "NATS C client alone", \
     "" using 4 title "NATS C client, one header", \
     "" using 0:5 axes x1y2 with linespoints lw 2 pt 7 title "bridge / NATS (right axis)", \
     "" using 0:6 axes x1y2 with linespoints lw 2 pt 5 title "bridge / NATS with header (right axis)"
EOF
else
    echo "gnuplot not found (apt-get install -y gnuplot-nox): no chart" >&2
fi

echo "$table"
echo
echo "$latency"
echo
echo "Written: $csv"
[[ -f $results/nats.png ]] && echo "Chart: $results/nats.png"
