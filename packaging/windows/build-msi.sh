#!/bin/bash
# The game's Windows Installer package, from migliar.wxs with Debian's wixl.
# Usage: packaging/windows/build-msi.sh OUTPUT EXE ICON VERSION   (VERSION as 1.0.0 or 1.0.0.0)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
output=$1
# Windows Installer compares three fields of a version, and keeps no more.
version=$(echo "$4" | cut -d. -f1-3)
# wixl finds files only below the source's folder, by a relative path.
exe=$(realpath --relative-to="$here" "$2")
icon=$(realpath --relative-to="$here" "$3")
# One ProductCode per version, the same on every build of it: a rebuilt package of an installed
# version is then refused instead of listed twice.
upgrade_code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' "$here/migliar.wxs")
product_code=$(/usr/bin/python3 -c 'import sys, uuid
print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' "$upgrade_code" "$version")
# libmsi writes the tables' strings in the code page that the database names. wixl names none
# (0: the installing Windows' own), and for 0 libmsi asks libgsf for the builder's, taken from
# WINDOWS_LANGUAGE, else from the C library's locale, which wixl never sets: "C", Western 1252,
# whatever LC_ALL says. A string that does not fit is written empty. So the strings are written
# in Cyrillic 1251, and msibuild, reading them back the same way, makes the database name 1251:
# then any Windows reads them right, whatever its own code page.
export WINDOWS_LANGUAGE=bg
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# (wixl says "unimplemented" of the plain shortcut, and writes it all the same.)
wixl -a x64 -D Version="$version" -D ProductCode="$product_code" -D Exe="$exe" -D Icon="$icon" \
    -o "$tmp/migliar.msi" "$here/migliar.wxs"
printf '\r\n\r\n1251\t_ForceCodepage\r\n' >"$tmp/_ForceCodepage.idt"
msibuild "$tmp/migliar.msi" -i "$tmp/_ForceCodepage.idt"
# A name that came out empty stops the build rather than installs into "TempFolder".
# (grep reads all: with -q it could end msiinfo early, and pipefail would say the name is lost.)
msiinfo export "$tmp/migliar.msi" Property | grep "^ProductName	Мигляр" >/dev/null ||
    { echo "build-msi.sh: the package lost its Bulgarian names" >&2; exit 1; }
mv "$tmp/migliar.msi" "$output"
