#!/usr/bin/env bash
# Builds the tree three times (plain, AddressSanitizer+UndefinedBehaviorSanitizer,
# ThreadSanitizer) and runs, in each build, every test of ours and OpenMAMA's
# own UnitTestMamaC over the bridge.
#   scripts/test.sh [plain|asan|tsan ...]   (default: all three)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

variants=("$@")
((${#variants[@]})) || variants=(plain asan tsan)
jobs=$(nproc)

for variant in "${variants[@]}"; do
  # OpenMAMA itself is not instrumented: its suite runs with the sanitizer
  # runtime preloaded, so the instrumented bridge and payload are checked.
  case "$variant" in
    plain) dir=build;      options=(); preload="" ;;
    asan)  dir=build-asan; options=(-DCORVEX_ASAN=ON); preload="$(gcc -print-file-name=libasan.so)" ;;
    tsan)  dir=build-tsan; options=(-DCORVEX_TSAN=ON); preload="$(gcc -print-file-name=libtsan.so)" ;;
    *) echo "unknown build variant: $variant" >&2; exit 2 ;;
  esac
  echo "== $variant build ($dir)"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}"
  cmake --build "$dir" -j"$jobs"
  if [[ $variant == plain ]]; then
    # Modules depend on each other one way only; every source file has the
    # repository's format.
    python3 scripts/module-cycles.py "$dir" mw-bridge corvexclient
    find bench corvexclient examples mw-bridge payload testsupport \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 |
      xargs -0 clang-format --dry-run --Werror
  fi
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
  echo "== $variant build: OpenMAMA UnitTestMamaC"
  # OpenMAMA's own leaks are not ours to report (our tests check leaks); what
  # OpenMAMA itself does with its locks is suppressed as in our tests, and, as
  # in the bridge's tests, the lock-order checks are off: OpenMAMA frees
  # subscriptions and destroy handles with their locks held, which the
  # detector counts as held for good (data races are still reported).
  ASAN_OPTIONS=detect_leaks=0 TSAN_OPTIONS="suppressions=$PWD/cmake/openmama-tsan.supp detect_deadlocks=0" \
    CONFORMANCE_PRELOAD="$preload" ./conformance/run.sh "$dir"
done
