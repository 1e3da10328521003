#!/usr/bin/env bash
# Builds the tree three times (plain, AddressSanitizer+UndefinedBehaviorSanitizer,
# ThreadSanitizer) and runs every test in each build.
#   scripts/test.sh [plain|asan|tsan ...]   (default: all three)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

variants=("$@")
((${#variants[@]})) || variants=(plain asan tsan)
jobs=$(nproc)

for variant in "${variants[@]}"; do
  case "$variant" in
    plain) dir=build;      options=() ;;
    asan)  dir=build-asan; options=(-DCORVEX_ASAN=ON) ;;
    tsan)  dir=build-tsan; options=(-DCORVEX_TSAN=ON) ;;
    *) echo "unknown build variant: $variant" >&2; exit 2 ;;
  esac
  echo "== $variant build ($dir)"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
done
