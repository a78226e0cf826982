#!/bin/bash
# Builds a static Qt for 64-bit Windows (MinGW-w64) from Debian's own qt6-base source package, once,
# into a cache outside the repository; later runs see the stamp and return at once.
# Usage: packaging/windows/build-qt.sh PREFIX VERSION
# VERSION is the host Qt's (6.4.2 on Debian 12, 6.8.2 on 13): the build runs its tools.
# The stamp is written last, so an interrupted build is never taken for a finished one.
set -euo pipefail
prefix=$1
version=$2
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
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

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

# apt-get source needs a deb-src entry: the machine's own archive for its release, as its sources
# name it (deb822 or one-line; Debian's or Ubuntu's), with the same components and key.
if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
    # A machine may have either kind of file, or only the other: awk is given those there are.
    shopt -s nullglob
    deb822=(/etc/apt/sources.list.d/*.sources)
    oneline=(/etc/apt/sources.list.d/*.list)
    [ ! -f /etc/apt/sources.list ] || oneline+=(/etc/apt/sources.list)
    archive=""
    [ ${#deb822[@]} -eq 0 ] || archive=$(awk -v release="$codename" '
        FNR == 1 || /^$/ { if (found) exit; uri = parts = key = ""; found = 0 }
        /^URIs:/ { uri = $2 } /^Components:/ { $1 = ""; parts = $0 } /^Signed-By:/ { key = $2 }
        /^Suites:/ { for (i = 2; i <= NF; i++) found = found || $i == release }
        END { if (found) print uri "|" parts "|" key }' \
        "${deb822[@]}")
    [ -n "$archive" ] || [ ${#oneline[@]} -eq 0 ] ||
        archive=$(awk -v release="$codename" '$1 == "deb" {
        n = 2; key = ""
        if ($2 ~ /^\[/)
            for (;; n++) { if ($n ~ /signed-by=/) key = $n; if ($n ~ /\]$/) { n++; break } }
        if ($(n + 1) == release) { uri = $n; $1 = ""; for (i = 2; i <= n + 1; i++) $i = ""
            sub(/.*signed-by=/, "", key); sub(/\]$/, "", key); print uri "|" $0 "|" key; exit } }' \
        "${oneline[@]}")
    shopt -u nullglob
    IFS='|' read -r uri components key <<<"$archive"
    printf 'deb-src %s%s %s %s\n' "${key:+[signed-by=$key] }" \
        "${uri:-http://deb.debian.org/debian}" "$codename" "$(echo ${components:-main})" |
        "${as_root[@]}" tee /etc/apt/sources.list.d/migliar-src.list >/dev/null
    "${as_root[@]}" apt-get update -qq
fi

work="$prefix.build"
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
# The source as Debian ships it (its patches applied), the host Qt's own version where it can.
host=$(dpkg-query -W -f='${source:Version}' qt6-base-dev 2>/dev/null || true)
apt-get source -qq "qt6-base=$host" >/dev/null 2>&1 || apt-get source -qq qt6-base >/dev/null
src=$(find . -maxdepth 1 -type d -name "qt6-base-$version*" | head -n1)
[ -n "$src" ] || { echo "qt6-base $version source not found" >&2; exit 1; }

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
