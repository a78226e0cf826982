#!/bin/bash
# A static Qt for 64-bit Windows (MinGW-w64), built once into a cache (see ../build-qt.sh).
# Usage: packaging/windows/build-qt.sh PREFIX VERSION
# VERSION is the host Qt's (6.4.2 on Debian 12, 6.8.2 on 13).
set -euo pipefail
version=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../qt-features.sh"
# Only what a Widgets program and its QtTest suites need, all static, without OpenGL (the window
# paints in software). Debian's repacked source has no wintab, hence no tablet events. Qt's
# DirectWrite font code compiles only along with Direct2D, yet is referred to without it (a link
# fault in 6.4, a compile fault in 6.8). Qt 6.4 does without both (the GDI font database stays);
# later Qts build every font database on DirectWrite, and keep both. Windows draws the text
# itself with its own advances, so HarfBuzz stays out: Bulgarian and Latin need no shaping beyond
# them, as Windows' own controls draw it. FreeType stays only for Qt's offscreen platform, which
# the suites run on. Out too, to keep the program one file under 10 MB: Windows' own Vista style
# (the game draws in Fusion), the time zone and MIME type tables, rich text (every text of the
# game is plain), painting in 16 bits and floats per channel (the screen takes 8), and the file
# system model (the browser's Qt keeps it: its OpenGL widgets do not build without).
fonts=()
[[ $version == 6.4.* ]] && fonts=(-no-feature-direct2d -no-feature-directwrite3)
options=(-release -static -static-runtime -platform linux-g++ -xplatform win32-g++
    -qt-host-path /usr -nomake examples -nomake tests -no-opengl -no-feature-tabletevent
    -no-feature-sql -no-feature-network -no-dbus -no-feature-printsupport -no-feature-concurrent
    -no-feature-xml -no-feature-vulkan "${fonts[@]}" -qt-zlib -qt-libpng -qt-pcre -no-harfbuzz
    -qt-freetype -no-feature-style-windowsvista -no-feature-timezone -no-feature-mimetype
    -no-feature-texthtmlparser -no-feature-raster-64bit -no-feature-raster-fp
    -no-feature-filesystemmodel "${lighter_qt[@]}")
exec "$here/../build-qt.sh" "$1" "$version" "$here/toolchain.cmake" "${options[@]}"
