#!/usr/bin/env bash
# Runs OpenMAMA's UnitTestMamaC over the corvex bridge and the corvexmsg
# payload, every test in a process of its own so a crash costs one test.
#   conformance/run.sh BUILD_DIR [GTEST_FILTER]
# Prints "N passed, N failed, N of them expected" and fails when a test fails
# that is not listed in expected-failures.txt, or when a listed test passes
# (the list may only shrink). OPENMAMA_ROOT names the OpenMAMA install (default /opt/openmama-6.3.2);
# CONFORMANCE_PRELOAD names a sanitizer runtime to preload into the suite, for
# a build whose bridge and payload are instrumented.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: run.sh BUILD_DIR [GTEST_FILTER]}" && pwd)"
filter="${2:-*}"
root="${OPENMAMA_ROOT:-/opt/openmama-6.3.2}"
suite="$root/bin/UnitTestMamaC"
[[ -x "$suite" ]] || { echo "conformance: $suite not found (OpenMAMA built without its unit tests?)" >&2; exit 1; }

export LD_LIBRARY_PATH="$build/lib:$root/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export WOMBAT_PATH="$here"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

# gtest lists "Suite." lines followed by indented test names.
"$suite" --gtest_filter="$filter" --gtest_list_tests -m corvex -p corvexmsg -i 1 |
  awk '/^[^ ]/ { suite = $1; next } /^  / { print suite $1 }' | grep -v 'DISABLED_' >"$out/tests"

runOne() {
  local test="$1" log rc=0
  log="$3/$(printf '%s' "$test" | tr '/' '_')"
  (cd "$3" && exec timeout -k 5 "${CONFORMANCE_TIMEOUT:-120}" \
     env ${CONFORMANCE_PRELOAD:+LD_PRELOAD="$CONFORMANCE_PRELOAD"} "$2" --gtest_filter="$test" \
     -m corvex -p corvexmsg -i 1) >"$log.log" 2>&1 || rc=$?
  if ((rc == 0)) && grep -q '^\[  PASSED  \] 1 test' "$log.log"; then
    echo "$test" >"$log.pass"
  else
    echo "$test" >"$log.fail"
    ((rc <= 128 && rc != 124)) || { echo "$test" >"$log.crash"; echo "exit status $rc" >>"$log.log"; }
  fi
}
export -f runOne
# The shells report each crash on stderr; the summary counts them instead.
xargs -a "$out/tests" -P "$(nproc)" -I{} bash -c 'runOne "$@"' _ {} "$suite" "$out" 2>/dev/null

cat "$out"/*.pass 2>/dev/null | sort >"$out/passed" || true
cat "$out"/*.fail 2>/dev/null | sort >"$out/failed" || true
sed -e 's/#.*//' -e 's/[[:space:]].*//' -e '/^$/d' "$here/expected-failures.txt" | sort -u >"$out/expected"
# Only entries this run covers count: a filtered run checks its share of the list.
sort "$out/tests" -o "$out/tests"
comm -12 "$out/expected" "$out/tests" >"$out/expected-here"

unexpected="$(comm -23 "$out/failed" "$out/expected-here")"
nowPassing="$(comm -12 "$out/passed" "$out/expected-here")"
expectedFailed=$(comm -12 "$out/failed" "$out/expected-here" | wc -l)
crashed=$(find "$out" -name "*.crash" | wc -l)
notExpected=""
[[ -z "$unexpected" ]] || notExpected=", $(wc -w <<<"$unexpected") NOT expected"
echo "UnitTestMamaC (corvex, corvexmsg): $(wc -l <"$out/passed") passed, $(wc -l <"$out/failed") failed," \
     "$expectedFailed of them expected (conformance/expected-failures.txt gives each reason)$notExpected;" \
     "$crashed crashed or timed out"
rc=0
if [[ -n "$unexpected" ]]; then
  echo "failed, not on conformance/expected-failures.txt:"
  for t in $unexpected; do
    echo "  $t"; sed -n '/\[ RUN      \]/,$p' "$out/$(printf '%s' "$t" | tr '/' '_').log" | tail -25 | sed 's/^/      /'
  done
  rc=1
fi
if [[ -n "$nowPassing" ]]; then
  echo "passed, but listed in conformance/expected-failures.txt (remove them):"
  printf '  %s\n' $nowPassing
  rc=1
fi
exit $rc
