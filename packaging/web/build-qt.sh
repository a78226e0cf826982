#!/bin/bash
# Builds a static Qt for WebAssembly from Debian's own qt6-base source package with Debian's
# emscripten, once, into a cache outside the repository; later runs see the stamp and return at
# once. The caller has sourced environment.sh.
# Usage: packaging/web/build-qt.sh PREFIX VERSION
# VERSION is the host Qt's (6.4.2 on Debian 12, 6.8.2 on 13): the build runs its tools.
# The stamp is written last, so an interrupted build is never taken for a finished one.
set -euo pipefail
prefix=$1
version=$2
stamp="$prefix/.migliar-qt-complete"
here=$(cd "$(dirname "$0")" && pwd)
toolchain=/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake
# Only what a Widgets program and its QtTest suites need. OpenGL stays: Qt's wasm platform draws
# widgets through it.
options=(-platform wasm-emscripten -qt-host-path /usr -release -static -nomake examples
    -nomake tests -no-feature-sql -no-feature-network -no-dbus -no-feature-printsupport
    -no-feature-concurrent -no-feature-xml)
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "${options[*]}" ] && exit 0

work="$prefix.build"
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
src=$("$here/../qt-source.sh" "$version")
mkdir build
cd build
"../$src/configure" -prefix "$prefix" "${options[@]}" \
    -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DQT_BUILD_EXAMPLES=OFF \
    -DQT_BUILD_TESTS=OFF >configure.log 2>&1 || { tail -n 60 configure.log >&2; exit 1; }
cmake --build . --parallel "${MIGLIAR_JOBS:-2}" >build.log 2>&1 ||
    { tail -n 60 build.log >&2; exit 1; }
cmake --install . >install.log 2>&1 || { tail -n 60 install.log >&2; exit 1; }
cd /
rm -rf "$work"
echo "${options[*]}" >"$stamp"
