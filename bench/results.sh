# Helpers the benchmark scripts share for reading key=value result lines.
# field <key> <line>: the value of key in a result line.
field() {
    tr ' ' '\n' <<<"$2" | sed -n "s/^$1=//p"
}
# ratio <a> <b>: a / b to three places, empty when b is 0.
ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf (b > 0 ? "%.3f" : "", a / b) }'
}
