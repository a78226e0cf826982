#!/bin/bash
# A static Qt for 64-bit Windows (MinGW-w64), built once into a cache (see ../build-qt.sh).
# Usage: packaging/windows/build-qt.sh PREFIX VERSION
# VERSION is the host Qt's (6.4.2 on Debian 12, 6.8.2 on 13).
set -euo pipefail
version=$2
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
exec "$here/../build-qt.sh" "$1" "$version" "$here/toolchain.cmake" "${options[@]}"
