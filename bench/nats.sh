#!/usr/bin/env bash
# MAMA over the bridge on a NATS server against the NATS C client alone, in
# the same run, one publisher process and one subscriber process through one
# local nats-server:
#  - one-way latency (send to callback) at 10,000 and 100,000 msg/s, 100
#    bytes, with the subscriber's CPU time per message: the bridge, the
#    NATS client flushing every message (as a latency-minded user of it
#    publishes) and the NATS client as it comes (its flusher gathers writes
#    for about a millisecond);
#  - throughput at 100 and 1,000 bytes, with the subscriber's CPU time per
#    message: the bridge as it comes, the bridge with its user properties
#    in a NATS header (SESSION_ROUTER_PROPERTIES_HEADER), the NATS client
#    plain and with one header holding what the bridge's publisher
#    information takes;
#  - request/reply round trips, against a NATS replier that flushes each
#    answer;
#  - OpenMAMA's own mamaproducerc_v2/mamaconsumerc_v2 over the bridge, at
#    full speed and at -target 10000: rate and average latency.
# Each case runs NATS_ROUNDS rounds, its layers alternated; the tables give
# the medians, and each ratio is the median of the rounds' ratios. Writes
# bench/results/nats.csv and bench/results/nats.png (gnuplot) and prints
# the tables as markdown, with the load average before and after. Stops
# with the first run that loses a message.
#   bench/nats.sh [build-dir]
# NATS_COUNT sets the messages per throughput run, NATS_REQUESTS the round
# trips per request/reply run, NATS_LATENCY_SECONDS the seconds of each
# latency run, NATS_TOOL_SECONDS those of each mamaproducerc_v2 run,
# NATS_ROUNDS the rounds (default 3).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
count=${NATS_COUNT:-1000000}
requests=${NATS_REQUESTS:-10000}
rounds=${NATS_ROUNDS:-3}
latencySeconds=${NATS_LATENCY_SECONDS:-3}
toolSeconds=${NATS_TOOL_SECONDS:-6}
openmamaBin=${OPENMAMA_BIN:-/opt/openmama-6.3.2/bin}
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
mama.corvex.transport.natsheader.SESSION_ROUTER=$url
mama.corvex.transport.natsheader.SESSION_ROUTER_PROPERTIES_HEADER=true
mama.corvex.transport.natsheader.allow_recover_gaps=false
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
# median1 <numbers...>: the same to one place, for microseconds.
median1() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.1f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# median3 <numbers...>: the same to three places, for ratios.
median3() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# What the bridge's publisher information holds ("U", "H", "P" and "S"), in
# the bridge's header encoding.
header="U=s$(id -un),H=s$(hostname),P=i$$,S=sUnknown"

loadBefore=$(cut -d' ' -f1-3 /proc/loadavg)
echo "mode,size,layer,msgs_per_sec,cpu_ns_per_msg_subscriber,p50_us,p90_us,p99_us,max_us,ratio_to_nats,ratio_to_nats_header,rate,p50_ratio_to_nats_flush,p99_ratio_to_nats_flush" >"$csv"

# One-way latency: each layer at the same rate for the same time.
latencyTable="| msg/s | layer | p50 µs | p99 µs | max µs | subscriber CPU ns/msg | bridge p50 / NATS flushing | bridge p99 / NATS flushing | bridge p50 / NATS default |
|---:|---|---:|---:|---:|---:|---:|---:|---:|"
for rate in 10000 100000; do
    n=$((rate * latencySeconds))
    layers=(bridge nats_flush nats)
    # Flushing is a round trip to the server each time: a publisher that
    # flushes every message cannot keep to 100,000 msg/s.
    ((rate > 20000)) && layers=(bridge nats)
    declare -A p50s=() p99s=() maxs=() cpus=()
    p50Ratios=(); p99Ratios=(); defaultRatios=()
    for round in $(seq "$rounds"); do
        declare -A line=()
        for layer in "${layers[@]}"; do
            case $layer in
            bridge)
                line[$layer]=$(pair "mamabench latency $rate" "$build/bin/mamabench" -mode latency -role subscriber -tport nats -n "$n" -l 100 \
                    -- "$build/bin/mamabench" -mode latency -role publisher -tport nats -n "$n" -l 100 -target "$rate") ;;
            nats_flush)
                line[$layer]=$(pair "natsbench latency flush $rate" "$build/bin/natsbench" -mode latency -role sub -url "$url" -n "$n" -l 100 \
                    -- "$build/bin/natsbench" -role pub -url "$url" -n "$n" -l 100 -target "$rate" -flush each) ;;
            nats)
                line[$layer]=$(pair "natsbench latency $rate" "$build/bin/natsbench" -mode latency -role sub -url "$url" -n "$n" -l 100 \
                    -- "$build/bin/natsbench" -role pub -url "$url" -n "$n" -l 100 -target "$rate") ;;
            esac
            p50s[$layer]+="$(field p50_us "${line[$layer]}") "
            p99s[$layer]+="$(field p99_us "${line[$layer]}") "
            maxs[$layer]+="$(field max_us "${line[$layer]}") "
            cpus[$layer]+="$(field cpu_ns_per_msg "${line[$layer]}") "
        done
        b50=$(field p50_us "${line[bridge]}"); b99=$(field p99_us "${line[bridge]}")
        if [[ -n ${line[nats_flush]:-} ]]; then
            p50Ratios+=("$(ratio "$b50" "$(field p50_us "${line[nats_flush]}")")")
            p99Ratios+=("$(ratio "$b99" "$(field p99_us "${line[nats_flush]}")")")
        fi
        defaultRatios+=("$(ratio "$b50" "$(field p50_us "${line[nats]}")")")
        echo "NATS latency at $rate msg/s, round $round: bridge p50 $b50 µs p99 $b99 µs;$([[ -n ${line[nats_flush]:-} ]] && echo " NATS flushing p50 $(field p50_us "${line[nats_flush]}") p99 $(field p99_us "${line[nats_flush]}");") NATS default p50 $(field p50_us "${line[nats]}") p99 $(field p99_us "${line[nats]}")" >&2
        unset line
    done
    r50=""; r99=""
    ((${#p50Ratios[@]})) && { r50=$(median3 "${p50Ratios[@]}"); r99=$(median3 "${p99Ratios[@]}"); }
    rDefault=$(median3 "${defaultRatios[@]}")
    for layer in "${layers[@]}"; do
        # shellcheck disable=SC2086
        m50=$(median1 ${p50s[$layer]}); m99=$(median1 ${p99s[$layer]}); mMax=$(median1 ${maxs[$layer]})
        # shellcheck disable=SC2086
        mCpu=$(median ${cpus[$layer]})
        if [[ $layer == bridge ]]; then
            echo "latency,100,$layer,,$mCpu,$m50,,$m99,$mMax,$rDefault,,$rate,$r50,$r99" >>"$csv"
            latencyTable+=$'\n'"| $rate | $layer | $m50 | $m99 | $mMax | $mCpu | ${r50:--} | ${r99:--} | $rDefault |"
        else
            echo "latency,100,$layer,,$mCpu,$m50,,$m99,$mMax,,,$rate,," >>"$csv"
            latencyTable+=$'\n'"| $rate | $layer | $m50 | $m99 | $mMax | $mCpu | | | |"
        fi
    done
    unset p50s p99s maxs cpus
done

table="| size (bytes) | bridge msg/s | bridge, header option msg/s | NATS client msg/s | NATS client, one header msg/s | bridge/NATS | bridge header option/NATS with header | bridge subscriber CPU ns/msg | NATS subscriber CPU ns/msg | bridge CPU / NATS CPU | NATS with header subscriber CPU ns/msg |
|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
plot=$work/plot
for size in 100 1000; do
    bRates=(); oRates=(); rRates=(); hRates=(); bCpus=(); rCpus=(); hCpus=(); rRatios=(); hRatios=(); cRatios=()
    for round in $(seq "$rounds"); do
        raw=$(pair "natsbench $size" "$build/bin/natsbench" -role sub -url "$url" -n "$count" -l "$size" \
            -- "$build/bin/natsbench" -role pub -url "$url" -n "$count" -l "$size")
        withHeader=$(pair "natsbench -header $size" "$build/bin/natsbench" -role sub -url "$url" -n "$count" -l "$size" -header "$header" \
            -- "$build/bin/natsbench" -role pub -url "$url" -n "$count" -l "$size" -header "$header")
        bridge=$(pair "mamabench $size" "$build/bin/mamabench" -role subscriber -tport nats -n "$count" -l "$size" \
            -- "$build/bin/mamabench" -role publisher -tport nats -n "$count" -l "$size")
        option=$(pair "mamabench header option $size" "$build/bin/mamabench" -role subscriber -tport natsheader -n "$count" -l "$size" \
            -- "$build/bin/mamabench" -role publisher -tport natsheader -n "$count" -l "$size")
        bRates+=("$(field msgs_per_sec "$bridge")"); rRates+=("$(field msgs_per_sec "$raw")")
        oRates+=("$(field msgs_per_sec "$option")")
        hRates+=("$(field msgs_per_sec "$withHeader")")
        bCpus+=("$(field cpu_ns_per_msg "$bridge")"); rCpus+=("$(field cpu_ns_per_msg "$raw")")
        hCpus+=("$(field cpu_ns_per_msg "$withHeader")")
        rRatios+=("$(ratio "${bRates[-1]}" "${rRates[-1]}")"); hRatios+=("$(ratio "${oRates[-1]}" "${hRates[-1]}")")
        cRatios+=("$(ratio "${bCpus[-1]}" "${rCpus[-1]}")")
        echo "NATS throughput $size bytes, round $round: bridge ${bRates[-1]} msg/s, bridge with the header option ${oRates[-1]} msg/s, NATS client ${rRates[-1]} msg/s, with a header ${hRates[-1]} msg/s" >&2
    done
    bRate=$(median "${bRates[@]}"); oRate=$(median "${oRates[@]}"); rRate=$(median "${rRates[@]}"); hRate=$(median "${hRates[@]}")
    bCpu=$(median "${bCpus[@]}"); rCpu=$(median "${rCpus[@]}"); hCpu=$(median "${hCpus[@]}")
    r=$(median3 "${rRatios[@]}"); h=$(median3 "${hRatios[@]}"); c=$(median3 "${cRatios[@]}")
    echo "throughput,$size,bridge,$bRate,$bCpu,,,,,$r,,,," >>"$csv"
    echo "throughput,$size,bridge_header_option,$oRate,,,,,,,$h,,," >>"$csv"
    echo "throughput,$size,nats,$rRate,$rCpu,,,,,,,,," >>"$csv"
    echo "throughput,$size,nats_header,$hRate,$hCpu,,,,,,,,," >>"$csv"
    table+=$'\n'"| $size | $bRate | $oRate | $rRate | $hRate | $r | $h | $bCpu | $rCpu | $c | $hCpu |"
    echo "\"${size}B\" $bRate $oRate $rRate $hRate $r $h" >>"$plot"
done

# Request/reply: NATS_ROUNDS rounds of each, alternated.
requestTable="| layer | round trips | p50 µs | p90 µs | p99 µs | max µs |
|---|---:|---:|---:|---:|---:|"
declare -A req=()
requestRatios=()
for round in $(seq "$rounds"); do
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
    for key in p50_us p90_us p99_us max_us; do
        req[bridge,$key]+="$(field "$key" "$bridge") "
        req[nats,$key]+="$(field "$key" "$raw") "
    done
    requestRatios+=("$(ratio "$(field p50_us "$bridge")" "$(field p50_us "$raw")")")
    echo "NATS request/reply, round $round: bridge p50 $(field p50_us "$bridge") µs, NATS client (flushing replier) p50 $(field p50_us "$raw") µs" >&2
done
requestRatio=$(median3 "${requestRatios[@]}")
for layer in bridge nats; do
    p=()
    # shellcheck disable=SC2086
    for key in p50_us p90_us p99_us max_us; do p+=("$(median1 ${req[$layer,$key]})"); done
    r=""
    [[ $layer == bridge ]] && r=$requestRatio
    echo "request,100,$layer,,,${p[0]},${p[1]},${p[2]},${p[3]},$r,,,," >>"$csv"
    requestTable+=$'\n'"| $layer | $requests | ${p[0]} | ${p[1]} | ${p[2]} | ${p[3]} |"
done

# OpenMAMA's own producer and consumer over the bridge: the consumer's
# interval lines (rate, transport latency in µs), the first one and the
# last one (partial seconds) left out.
toolTable="| mamaproducerc_v2 | consumer msg/s | average latency µs | gaps |
|---|---:|---:|---:|"
tool() {
    local name=$1
    shift
    # OpenMAMA's programs find the bridge on the library path.
    local libs="$build/lib:$openmamaBin/../lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
    LD_LIBRARY_PATH=$libs timeout $((toolSeconds + 3)) "$openmamaBin/mamaconsumerc_v2" -m corvex -tport nats -s MAMA_TOPIC -I >"$work/consumer.out" 2>&1 &
    local consumer=$!
    sleep 1
    LD_LIBRARY_PATH=$libs timeout "$toolSeconds" "$openmamaBin/mamaproducerc_v2" -m corvex -tport nats -s MAMA_TOPIC -l 100 "$@" >"$work/producer.out" 2>&1 || true
    wait $consumer 2>/dev/null || true
    awk '/^[0-9]+\/[0-9]+\/[0-9]+ - [0-9:]+ +[0-9]+ / { n++; rate[n] = $4; lat[n] = $6; gaps[n] = $8 }
         END { c = 0; for (i = 2; i < n; i++) if (rate[i] > 0) { r += rate[i]; l += lat[i] * rate[i]; g += gaps[i]; c++ }
               if (c == 0 || r == 0) { print "- - -"; exit }
               printf "%.0f %.0f %d\n", r / c, l / r, g }' "$work/consumer.out"
}
for mode in full 10000; do
    if [[ $mode == full ]]; then out=$(tool full); else out=$(tool target -target 10000); fi
    read -r toolRate toolLatency toolGaps <<<"$out"
    echo "openmama,100,bridge,$toolRate,,$toolLatency,,,,,,$mode,," >>"$csv"
    toolTable+=$'\n'"| $([[ $mode == full ]] && echo "full speed" || echo "-target 10000") | $toolRate | $toolLatency | $toolGaps |"
    echo "mamaproducerc_v2 $mode: $toolRate msg/s, average latency $toolLatency µs, $toolGaps gaps" >&2
done
loadAfter=$(cut -d' ' -f1-3 /proc/loadavg)

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
set y2range [0:1.2]
set y2tics 0.1
set ytics nomirror
set grid ytics
set key top left
plot "$plot" using 2:xtic(1) title "MAMA over the bridge", \
     "" using 3 title "MAMA over the bridge, header option", \
     "" using 4 title "NATS C client alone", \
     "" using 5 title "NATS C client, one header", \
     "" using 0:6 axes x1y2 with linespoints lw 2 pt 7 title "bridge / NATS (right axis)", \
     "" using 0:7 axes x1y2 with linespoints lw 2 pt 5 title "bridge header option / NATS with header (right axis)"
EOF
else
    echo "gnuplot not found (apt-get install -y gnuplot-nox): no chart" >&2
fi

echo "Load average before: $loadBefore; after: $loadAfter"
echo
echo "$latencyTable"
echo
echo "$table"
echo
echo "$requestTable"
echo
echo "$toolTable"
echo
echo "Written: $csv"
if [[ -f $results/nats.png ]]; then echo "Chart: $results/nats.png"; fi
