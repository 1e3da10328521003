#!/usr/bin/env bash
# installRelocated.sh BUILD_DIR OPENMAMA_LIB_DIR CHECK_PROGRAM CONSUMER_DIR [SANITIZER_FLAGS]
# Installs the build into a temporary prefix, moves the prefix elsewhere and
# checks what a user of it gets: the files in place (and not the test-control
# header), runpaths that name only $ORIGIN, a MAMA application that runs
# over the installed bridge with nothing but OpenMAMA's and the prefix's lib
# on the library path, and programs built against the client library through
# find_package and through pkg-config.
set -euo pipefail
build="$1" openmama_lib="$2" check_program="$3" consumer="$4" sanitizer_flags="${5:-}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$work/installed" >"$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install"; }
mv "$work/installed" "$work/moved"
prefix="$(cd "$work/moved" && pwd -P)"
echo "-- installed, then moved to $prefix"

libraries=(libmamacorveximpl.so libmamacorvexmsgimpl.so libcorvexclient.so)
for file in "${libraries[@]/#/lib/}" include/corvexClient.h \
    lib/cmake/CorvexClient/CorvexClientConfig.cmake lib/pkgconfig/corvexclient.pc; do
    [[ -f "$prefix/$file" ]] || fail "$file is not installed"
done
[[ ! -e "$prefix/include/corvexClientTest.h" ]] || fail "the test-control header is installed"
unexpected="$(cd "$prefix" && find . -type f | sort | grep -v -x -F \
    -e ./lib/libmamacorveximpl.so -e ./lib/libmamacorvexmsgimpl.so -e ./lib/libcorvexclient.so \
    -e ./include/corvexClient.h -e ./lib/pkgconfig/corvexclient.pc |
    grep -v '^\./lib/cmake/CorvexClient/CorvexClient[A-Za-z-]*\.cmake$' || true)"
[[ -z "$unexpected" ]] || fail "installed besides the libraries, the header and the packages: $unexpected"

# The dynamic section names no directory but $ORIGIN: nothing of the build
# tree or of OpenMAMA's install.
for library in "${libraries[@]}"; do
    paths="$(readelf -d "$prefix/lib/$library" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p')"
    [[ "$paths" == '$ORIGIN' ]] || fail "$library has runpath '$paths', not \$ORIGIN"
    ! readelf -d "$prefix/lib/$library" | grep -q -F "$build" ||
        fail "$library's dynamic section names the build tree $build"
done
echo "-- every installed library's runpath is \$ORIGIN"

# OpenMAMA's configuration is read from WOMBAT_PATH; the application's
# transport meets on the embedded router.
echo 'mama.corvex.transport.install.allow_recover_gaps=false' >"$work/mama.properties"
LD_LIBRARY_PATH="$openmama_lib:$prefix/lib" WOMBAT_PATH="$work" "$check_program" "$prefix/lib" \
    >"$work/check.log" 2>&1 || { cat "$work/check.log"; fail "the MAMA application over the installed bridge"; }
grep -v -e '^\*\*\*' -e 'Note: This build' -e 'Licensing file' -e 'Attempting to load' \
    -e '^[0-9-]* [0-9:]*: *$' "$work/check.log"

# A user's program, through the CMake package.
cmake -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_FLAGS="$sanitizer_flags" -DCMAKE_EXE_LINKER_FLAGS="$sanitizer_flags" \
    >"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "find_package(CorvexClient)"; }
cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 ||
    { cat "$work/consumer.log"; fail "building against Corvex::corvexclient"; }
LD_LIBRARY_PATH="$prefix/lib" "$work/consumer/consumer" || fail "the program built with find_package"
echo "-- find_package(CorvexClient): built and ran"

# The same program through pkg-config.
read -r -a flags <<<"$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs corvexclient)"
cc $sanitizer_flags "$consumer/consumer.c" "${flags[@]}" -o "$work/consumer-pc" ||
    fail "building with pkg-config corvexclient (${flags[*]})"
LD_LIBRARY_PATH="$prefix/lib" "$work/consumer-pc" || fail "the program built with pkg-config"
echo "-- pkg-config corvexclient (${flags[*]}): built and ran"
