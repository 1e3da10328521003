#!/usr/bin/env bash
# Builds and installs OpenMAMA 6.3.2 into $OPENMAMA_ROOT (default
# /opt/openmama-6.3.2), unless that prefix already holds it. The source stays
# in <prefix>/src: the payload and the bridge's signature check compile against
# its internal headers. The source release is read from $OPENMAMA_TARBALL,
# default ../shared/openmama/OpenMAMA-6.3.2-src.tar.gz beside the checkout.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
version=6.3.2
prefix="${OPENMAMA_ROOT:-/opt/openmama-$version}"
tarball="${OPENMAMA_TARBALL:-$here/../shared/openmama/OpenMAMA-$version-src.tar.gz}"
stamp="$prefix/.corvex-openmama-version"

if [[ -f "$stamp" && "$(cat "$stamp")" == "$version" && -f "$prefix/lib/libmama.so" ]]; then
  echo "OpenMAMA $version: using $prefix"
  exit 0
fi
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

echo "OpenMAMA $version: building from $tarball into $prefix (a few minutes)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$prefix/src"
rm -rf "$prefix/src/OpenMAMA-$version"
tar -xzf "$tarball" -C "$prefix/src"
cmake -S "$prefix/src/OpenMAMA-$version" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DOPENMAMA_VERSION=$version \
  -DWITH_PROTON=OFF -DWITH_NOOP_BRIDGE=OFF -DWITH_OMPB_BRIDGE=OFF -DWITH_BASE_BRIDGE=ON \
  -DWITH_MAMDA=OFF -DWITH_JAVA=OFF -DWITH_CSHARP=OFF -DWITH_DOC=OFF \
  -DWITH_CPP=ON -DWITH_UNITTEST=ON -DWITH_EXAMPLES=ON -DWITH_TESTTOOLS=ON \
  -DINSTALL_RUNTIME_DEPENDENCIES=OFF \
  -DCMAKE_C_FLAGS="-Wno-error=strict-prototypes -Wno-deprecated-declarations" \
  -DCMAKE_CXX_FLAGS="-Wno-deprecated-declarations" >"$work/configure.log" 2>&1 \
  || { tail -50 "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" -j"$(nproc)" >"$work/build.log" 2>&1 \
  || { tail -50 "$work/build.log" >&2; exit 1; }
cmake --install "$work/build" >"$work/install.log" 2>&1 \
  || { tail -50 "$work/install.log" >&2; exit 1; }
echo "$version" >"$stamp"
echo "OpenMAMA $version: installed in $prefix"
