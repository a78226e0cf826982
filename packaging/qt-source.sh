#!/bin/bash
# Unpacks Debian's own qt6-base source (its patches applied) into the current folder and prints
# the folder it made: the host Qt's own version where the archive still has it. Qt for Windows
# and Qt for WebAssembly are both built from it, with the host Qt's tools.
# Usage: packaging/qt-source.sh VERSION
set -euo pipefail
version=$1
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")

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
    "${as_root[@]}" apt-get update -qq >&2
fi

# The source as Debian ships it (its patches applied), the host Qt's own version where it can.
host=$(dpkg-query -W -f='${source:Version}' qt6-base-dev 2>/dev/null || true)
apt-get source -qq "qt6-base=$host" >/dev/null 2>&1 || apt-get source -qq qt6-base >/dev/null
src=$(find . -maxdepth 1 -type d -name "qt6-base-$version*" | head -n1)
[ -n "$src" ] || { echo "qt6-base $version source not found" >&2; exit 1; }
echo "${src#./}"
