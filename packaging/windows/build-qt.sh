#!/bin/bash
# Builds a static Qt for 64-bit Windows (MinGW-w64) from Debian's own qt6-base source package, once,
# into a cache outside the repository; later runs see the stamp and return at once.
# Usage: packaging/windows/build-qt.sh PREFIX VERSION
# VERSION is the host Qt's (6.4.2 on Debian 12, 6.8.2 on 13): the build runs its tools.
# The stamp is written last, so an interrupted build is never taken for a finished one.
set -euo pipefail
prefix=$1
version=$2
stamp="$prefix/.migliar-qt-complete"
here=$(cd "$(dirname "$0")" && pwd)
# Only what a Widgets program and its QtTest suites need, all static, without OpenGL (the window
# paints in software). Debian's repacked source has no wintab, hence no tablet events. Qt's
# DirectWrite font code compiles only along with Direct2D, yet is referred to without it (a link
# fault in 6.4, a compile fault in 6.8). Qt 6.4 does without both (the GDI font database stays);
# later Qts build every font database on DirectWrite, and keep both.
fonts=()
[[ $version == 6.4.* ]] && fonts=(-no-feature-direct2d -no-feature-directwrite3)
options=(-release -static -static-runtime -platform linux-g++ -xplatform win32-g++
    -qt-host-path /usr -nomake examples -nomake tests -no-opengl -no-feature-tabletevent
    -no-feature-sql -no-feature-network -no-dbus -no-feature-printsupport -no-feature-concurrent
    -no-feature-xml -no-feature-vulkan "${fonts[@]}" -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre
    -qt-harfbuzz -qt-freetype)
# The stamp holds the options it was built with: other options, another build.
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "${options[*]}" ] && exit 0

work="$prefix.build"
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
src=$("$here/../qt-source.sh" "$version")

mkdir build
cd build
"../$src/configure" -prefix "$prefix" "${options[@]}" \
    -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/toolchain.cmake" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DQT_BUILD_EXAMPLES=OFF \
    -DQT_BUILD_TESTS=OFF >configure.log 2>&1 || { tail -n 60 configure.log >&2; exit 1; }
cmake --build . --parallel "${MIGLIAR_JOBS:-2}" >build.log 2>&1 ||
    { tail -n 60 build.log >&2; exit 1; }
cmake --install . >install.log 2>&1 || { tail -n 60 install.log >&2; exit 1; }
cd /
rm -rf "$work"
echo "${options[*]}" >"$stamp"
