# Sourced by the demos that run MAMA programs in processes of their own
# (scripts/demo-nats.sh, scripts/demo-cluster.sh): a work folder, removed on
# the way out; the nats-servers a demo starts (their process ids in
# server_pids), stopped last, after every program still running (after a
# fault) is stopped by its process id; and starting, waiting for and showing
# the programs.
work="$(mktemp -d)"
server_pids=()
cleanup() {
    local pid
    for pid in $(jobs -p); do
        [[ " ${server_pids[*]} " == *" $pid "* ]] || kill "$pid" 2>/dev/null || true
    done
    for pid in "${server_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*"
    exit 1
}

accepting() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# OpenMAMA's banner and log lines are left out of what is shown.
show() {
    grep -v -e '^\*\*\*' -e 'Note: This build' -e 'Licensing file' -e 'Attempting to load' \
        -e '^[0-9-]* [0-9:]*: *$' "$1" || true
}

# Starts a program in the background, its output in $work/<name>.log.
start() {
    local name="$1"
    shift
    "$@" >"$work/$name.log" 2>&1 &
    eval "pid_$name=$!"
}

# Waits for a program started by start(); shows its output; fails on a
# non-zero exit.
finish() {
    local name="$1" pid rc=0
    pid="$(eval echo "\$pid_$name")"
    wait "$pid" || rc=$?
    echo "-- $name"
    show "$work/$name.log"
    ((rc == 0)) || fail "$name exited with $rc"
}
