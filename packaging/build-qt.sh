#!/bin/bash
# Builds a static Qt from Debian's own qt6-base source package, once, into a cache outside the
# repository; later runs see the stamp and return at once. The stamp holds the options it was
# built with (other options, another build) and is written last, so an interrupted build is never
# taken for a finished one. VERSION is the host Qt's, whose tools the build runs. QT_PATCHES may
# name patches to the source, applied in order; the stamp names them by their content.
# Usage: packaging/build-qt.sh PREFIX VERSION TOOLCHAIN_FILE CONFIGURE_OPTION...
set -euo pipefail
prefix=$1
version=$2
toolchain=$3
shift 3
stamp="$prefix/.migliar-qt-complete"
# One build of a prefix at a time: a second caller (scripts/test starts these early, in the
# background) waits for the first and then finds its stamp.
mkdir -p "$(dirname "$prefix")"
exec {lock}>"$prefix.lock"
flock "$lock"
built="$*"
for patch in ${QT_PATCHES:-}; do
    built+=" $(basename "$patch")=$(sha256sum <"$patch" | cut -c1-16)"
done
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$built" ] && exit 0
here=$(cd "$(dirname "$0")" && pwd)

work="$prefix.build"
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
src=$("$here/qt-source.sh" "$version")
for patch in ${QT_PATCHES:-}; do
    patch -d "$src" -p1 --quiet <"$patch"
done
mkdir build
cd build
"../$src/configure" -prefix "$prefix" "$@" \
    -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DQT_BUILD_EXAMPLES=OFF \
    -DQT_BUILD_TESTS=OFF >configure.log 2>&1 || { tail -n 60 configure.log >&2; exit 1; }
cmake --build . --parallel "${MIGLIAR_JOBS:-2}" >build.log 2>&1 ||
    { tail -n 60 build.log >&2; exit 1; }
cmake --install . >install.log 2>&1 || { tail -n 60 install.log >&2; exit 1; }
cd /
rm -rf "$work"
echo "$built" >"$stamp"
