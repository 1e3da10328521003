#!/usr/bin/env bash
# Builds and installs OpenMAMA 6.3.2 into $OPENMAMA_ROOT (default
# /opt/openmama-6.3.2), as far as a level needs, each level adding to the one
# before:
#   scripts/openmama.sh demo    the libraries and headers (what this tree builds against)
#   scripts/openmama.sh tools   + OpenMAMA's C example programs and test tools
#                                 (mamapublisherc, mamasubscriberc, mamalistenc, capturec, ...)
#   scripts/openmama.sh test    + its unit tests (UnitTestMamaC runs over the bridge)
#   scripts/openmama.sh all     + the C++ bindings and the C++ programs (the default)
# A prefix that already holds a level (named in <prefix>/.corvex-openmama-version)
# is used as it is. The source and the build tree stay in <prefix>/src: the
# payload and the bridge's signature check compile against its internal
# headers, and a later level builds only what it adds. The build's logs are
# kept in <prefix>/src/build/*.log. The source release is read from
# $OPENMAMA_TARBALL, default ../shared/openmama/OpenMAMA-6.3.2-src.tar.gz beside
# the checkout.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
version=6.3.2
level="${1:-all}"
prefix="${OPENMAMA_ROOT:-/opt/openmama-$version}"
tarball="${OPENMAMA_TARBALL:-$here/../shared/openmama/OpenMAMA-$version-src.tar.gz}"
stamp="$prefix/.corvex-openmama-version"
source="$prefix/src/OpenMAMA-$version"
build="$prefix/src/build"
levels=(demo tools test all)

rank() {
  local i
  for i in "${!levels[@]}"; do
    [[ "${levels[$i]}" == "$1" ]] && { echo "$i"; return; }
  done
  echo -1
}
wanted="$(rank "$level")"
((wanted >= 0)) || { echo "usage: $0 [${levels[*]}]" >&2; exit 2; }

# What the prefix holds: "<version> <level>"; a stamp with the version alone
# was written by a build of everything.
held=-1
if [[ -f "$stamp" && -f "$prefix/lib/libmama.so" ]]; then
  read -r held_version held_level <"$stamp" || true
  if [[ "$held_version" == "$version" ]]; then
    held="$(rank "${held_level:-all}")"
  fi
fi
if ((held >= wanted)); then
  echo "OpenMAMA $version: using $prefix"
  exit 0
fi

if ((held < 0)) || [[ ! -f "$build/CMakeCache.txt" ]]; then
  if [[ ! -f "$tarball" ]]; then
    cat >&2 <<MSG
OpenMAMA $version is not installed in $prefix and its source release was not found at
  $tarball
Either
  - point OPENMAMA_TARBALL at the OpenMAMA $version source release (the public
    OpenMAMA-$version release tarball) and run this script again, or
  - use an existing OpenMAMA 6.3 install: configure with -DOPENMAMA_ROOT=<prefix>
    -DOPENMAMA_SOURCE=<its source tree> (or set those environment variables).
MSG
    exit 1
  fi
  mkdir -p "$prefix/src"
  rm -rf "$source" "$build"
  tar -xzf "$tarball" -C "$prefix/src"
  held=-1
fi
mkdir -p "$build"

on() {
  (($(rank "$1") <= wanted)) && echo ON || echo OFF
}
echo "OpenMAMA $version: building the '$level' level into $prefix (logs in $build)"
started=$SECONDS
cmake -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DOPENMAMA_VERSION=$version \
  -DWITH_PROTON=OFF -DWITH_NOOP_BRIDGE=OFF -DWITH_OMPB_BRIDGE=OFF -DWITH_BASE_BRIDGE=ON \
  -DWITH_MAMDA=OFF -DWITH_JAVA=OFF -DWITH_CSHARP=OFF -DWITH_DOC=OFF \
  -DWITH_EXAMPLES="$(on tools)" -DWITH_TESTTOOLS="$(on tools)" -DWITH_UNITTEST="$(on test)" \
  -DWITH_CPP="$(on all)" -DINSTALL_RUNTIME_DEPENDENCIES=OFF \
  -DCMAKE_C_FLAGS="-Wno-error=strict-prototypes -Wno-deprecated-declarations" \
  -DCMAKE_CXX_FLAGS="-Wno-deprecated-declarations" >"$build/configure-$level.log" 2>&1 \
  || { tail -50 "$build/configure-$level.log" >&2; echo "OpenMAMA: configure failed; log: $build/configure-$level.log" >&2; exit 1; }

# Progress: every target built, and a line at each further tenth of the build.
set +e
cmake --build "$build" -j"$(nproc)" 2>&1 | tee "$build/build-$level.log" |
  awk '/^\[ *[0-9]+%\]/ {
         percent = substr($0, 2, index($0, "%") - 2) + 0
         if (/Built target/ || percent >= shown + 10) {
           print "  OpenMAMA " $0; shown = percent; fflush()
         }
       }'
rc=${PIPESTATUS[0]}
set -e
if ((rc != 0)); then
  grep -B2 -A20 -m3 -E 'error|Error' "$build/build-$level.log" | tail -60 >&2 || tail -50 "$build/build-$level.log" >&2
  echo "OpenMAMA: the build failed; the whole log is $build/build-$level.log" >&2
  exit 1
fi
cmake --install "$build" >"$build/install-$level.log" 2>&1 \
  || { tail -50 "$build/install-$level.log" >&2; echo "OpenMAMA: install failed; log: $build/install-$level.log" >&2; exit 1; }
echo "$version $level" >"$stamp"
echo "OpenMAMA $version: '$level' level installed in $prefix ($((SECONDS - started)) s)"
