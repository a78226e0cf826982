#!/bin/bash
# A static Qt for WebAssembly, built with Debian's emscripten once into a cache (see
# ../build-qt.sh). The caller has sourced environment.sh.
# Usage: packaging/web/build-qt.sh PREFIX VERSION
# VERSION is the host Qt's (6.4.2 on Debian 12, 6.8.2 on 13).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../qt-features.sh"
# Only what a Widgets program and its QtTest suites need. OpenGL stays: Qt's wasm platform draws
# widgets through it. Nor the MIME type database; on later Qts no MIME types at all, as for
# Windows: their MIME code includes the XML reader, which is left out, even without the database
# (6.8.2 does not compile so).
mime=(-no-feature-mimetype-database)
[[ $2 == 6.4.* ]] || mime=(-no-feature-mimetype)
options=(-platform wasm-emscripten -qt-host-path /usr -release -static -nomake examples
    -nomake tests -no-feature-sql -no-feature-network -no-dbus -no-feature-printsupport
    -no-feature-concurrent -no-feature-xml "${mime[@]}" "${lighter_qt[@]}")
# Qt 6.4 offers a touch screen's own keyboard only on the systems it names: a Chromebook's (and
# any other's) takes the same hidden field as an iPad's. Below a scale of 1 (a small screen
# zoomed out, a browser's zoom under 100 %) it draws the window wrongly: it draws 1:1, and the
# browser scales that down. Its WebGL context, made as the first frame is drawn, was multisampled
# and enabled every extension the browser has: together a tenth of the page's start.
[[ $2 != 6.4.* ]] || export QT_PATCHES="$here/qt-6.4-keyboard-on-touch.patch
    $here/qt-6.4-scale-below-one.patch $here/qt-6.4-webgl-context.patch"
exec "$here/../build-qt.sh" "$1" "$2" \
    /usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake "${options[@]}"
