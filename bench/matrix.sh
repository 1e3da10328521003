#!/usr/bin/env bash
# Runs the benchmark matrix: 64, 256, 1024 and 4096-byte messages to one
# subscriber and to two (the second a wildcard), through MAMA over the bridge
# (mamabench) and through the client library alone (corvexclient_throughput)
# in the same run, then one latency row at 10,000 msg/s. Writes
# bench/results/matrix.csv and bench/results/matrix.png (gnuplot) and prints
# the tables as markdown. Stops with the first run that loses a message.
#   bench/matrix.sh [build-dir]
# BRIDGE_COUNT and CLIENT_COUNT set the messages per throughput run,
# LATENCY_TIME the seconds of the latency row.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
bridgeCount=${BRIDGE_COUNT:-300000}
clientCount=${CLIENT_COUNT:-1000000}
latencyTime=${LATENCY_TIME:-5}
results=$here/results
mkdir -p "$results"
csv=$results/matrix.csv
export WOMBAT_PATH=$here/../examples

# Runs one program and prints its key=value result line.
run() {
    local line
    if ! line=$("$@" -q 2>/dev/null | tail -n 1) || [[ $line != *" ok=1" ]]; then
        echo "failed: $* -> ${line:-no output}" >&2
        exit 1
    fi
    echo "$line"
}
. "$here/results.sh"

echo "mode,size,subs,layer,msgs_per_sec,cpu_ns_per_msg,peak_rss_kb,p50_us,p90_us,p99_us,p99.9_us,max_us,ratio_to_client" >"$csv"
table="| size (bytes) | subscribers | bridge msg/s | client msg/s | bridge/client | bridge CPU ns/msg | client CPU ns/msg | CPU bridge/client |
|---:|---:|---:|---:|---:|---:|---:|---:|"
plot=$(mktemp)
trap 'rm -f "$plot"' EXIT
for size in 64 256 1024 4096; do
    for subs in 1 2; do
        b=$(run "$build/bin/mamabench" -l "$size" -numSubs "$subs" -n "$bridgeCount")
        c=$(run "$build/bin/corvexclient_throughput" -l "$size" -numSubs "$subs" -n "$clientCount")
        bRate=$(field msgs_per_sec "$b"); cRate=$(field msgs_per_sec "$c")
        bCpu=$(field cpu_ns_per_msg "$b"); cCpu=$(field cpu_ns_per_msg "$c")
        r=$(ratio "$bRate" "$cRate"); rc=$(ratio "$bCpu" "$cCpu")
        echo "throughput,$size,$subs,bridge,$bRate,$bCpu,$(field peak_rss_kb "$b"),,,,,,$r" >>"$csv"
        echo "throughput,$size,$subs,client,$cRate,$cCpu,$(field peak_rss_kb "$c"),,,,,," >>"$csv"
        table+=$'\n'"| $size | $subs | $bRate | $cRate | $r | $bCpu | $cCpu | $rc |"
        echo "\"${size}B ${subs}sub\" $bRate $cRate $r" >>"$plot"
        echo "throughput $size bytes, $subs subscriber(s): bridge $bRate msg/s, client $cRate msg/s" >&2
    done
done

latency="| layer | rate (msg/s) | p50 µs | p90 µs | p99 µs | p99.9 µs | max µs |
|---|---:|---:|---:|---:|---:|---:|"
b=$(run "$build/bin/mamabench" -mode latency -target 10000 -time "$latencyTime" -l 64)
c=$(run "$build/bin/corvexclient_throughput" -mode latency -target 10000 -time "$latencyTime" -l 64)
for layer in bridge client; do
    if [[ $layer == bridge ]]; then line=$b; else line=$c; fi
    p=()
    for key in p50_us p90_us p99_us p99.9_us max_us; do p+=("$(field "$key" "$line")"); done
    r=""
    [[ $layer == bridge ]] && r=$(ratio "${p[0]}" "$(field p50_us "$c")")
    echo "latency,64,1,$layer,$(field msgs_per_sec "$line"),$(field cpu_ns_per_msg "$line"),$(field peak_rss_kb "$line"),${p[0]},${p[1]},${p[2]},${p[3]},${p[4]},$r" >>"$csv"
    latency+=$'\n'"| $layer | 10000 | ${p[0]} | ${p[1]} | ${p[2]} | ${p[3]} | ${p[4]} |"
done

rm -f "$results/matrix.png"
if command -v gnuplot >/dev/null; then
    gnuplot <<EOF
set terminal pngcairo size 1000,560 noenhanced font ",10"
set output "$results/matrix.png"
set title "Messages per second received per subscriber (embedded router, one process)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set boxwidth 0.9
set logscale y
set yrange [10000:*]
set ylabel "msg/s (log scale)"
set y2label "bridge / client"
set y2range [0:1]
set y2tics 0.1
set ytics nomirror
set grid ytics
set key top right
set xtics rotate by -30
plot "$plot" using 2:xtic(1) title "MAMA over the bridge", \
     "" using 3 title "client library alone", \
     "" using 0:4 axes x1y2 with linespoints lw 2 pt 7 title "ratio (right axis)"
EOF
else
    echo "gnuplot not found (apt-get install -y gnuplot-nox): no chart" >&2
fi

echo "$table"
echo
echo "$latency"
echo
echo "Written: $csv"
[[ -f $results/matrix.png ]] && echo "Chart: $results/matrix.png"

# Between processes on a NATS server, against the NATS client alone.
if command -v nats-server >/dev/null; then
    echo
    "$here/nats.sh" "$build"
else
    echo "nats-server not found: no NATS rows" >&2
fi
