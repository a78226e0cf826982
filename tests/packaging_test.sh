#!/bin/bash
# How the game reaches a machine, checked from the outside:
#   install  an install into a DESTDIR: the tree, the menu entry, the AppStream data, the icons,
#            and the installed game started;
#   deb      the .deb that CPack builds: its name, fields and files, and lintian's verdict;
#   winres   the Windows resource script, compiled by mingw-w64's windres and read back.
# Usage: packaging_test.sh install|deb|winres SOURCE_DIR BUILD_DIR ARTEFACT_DIR APP_ID VERSION
set -u
export LC_ALL=C.UTF-8
mode=$1
source_dir=$2
build=$3
out=$4
id=$5
IFS=. read -r major minor patch tweak <<<"$6"
failures=0
passes=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then
        echo "ok   $1"
        passes=$((passes + 1))
    else
        echo "FAIL $1"
        failures=$((failures + 1))
    fi
}
finish() {
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
    exit
}
sizes=(16 32 48 64 128 256)
rm -rf "$out"
mkdir -p "$out"

# Every file that an install puts in place, and nothing else.
expected_files() {
    {
        echo usr/bin/migliar
        echo "usr/share/applications/$id.desktop"
        echo "usr/share/metainfo/$id.metainfo.xml"
        for size in "${sizes[@]}"; do
            echo "usr/share/icons/hicolor/${size}x$size/apps/$id.png"
        done
        echo "usr/share/icons/hicolor/scalable/apps/$id.svg"
        echo usr/share/man/man6/migliar.6.gz
        echo usr/share/doc/migliar/copyright
        echo usr/share/doc/migliar/changelog.gz
    } | LC_ALL=C sort
}

# A validator passes, and its report has no line of the given levels; the report is shown.
validates() { # validates DESCRIPTION PATTERN COMMAND...
    local report status levels=$2
    report=$("${@:3}" 2>&1)
    status=$?
    [ -n "$report" ] && echo "$report"
    check "$1 passes, without errors or warnings" eval \
        '[ "$status" -eq 0 ] && ! grep -qE "$levels" <<<"$report"'
}

case $mode in
install)
    root=$out/root
    DESTDIR=$root cmake --install "$build" --prefix /usr >"$out/install.log" ||
        { cat "$out/install.log"; check "cmake --install" false; finish; }
    check "the installed files" diff <(expected_files) \
        <(cd "$root" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
    check "the game is executable" test -x "$root/usr/bin/migliar"

    # The menu entry: valid, in Bulgarian and English, starting the installed game with its icon.
    desktop=$root/usr/share/applications/$id.desktop
    validates desktop-file-validate 'error:|warning:' desktop-file-validate "$desktop"
    entry() { # the value of KEY in the menu entry
        awk -v key="$1" 'index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }' \
            "$desktop"
    }
    check "the entry starts the installed game" test -x "$root/usr/bin/$(entry Exec)"
    check "the entry shows our icon" test "$(entry Icon)" = "$id"
    check "named in Bulgarian and English, a comment in each" eval '[ "$(entry "Name[bg]")" = \
        Мигляр ] && [ "$(entry Name)" = Migliar ] && grep -qF буква <<<"$(entry "Comment[bg]")" &&
        grep -q "^[A-Z][A-Za-z ,.-]*$" <<<"$(entry Comment)"'
    check "listed under Education and Game" \
        grep -qE '(^|;)Education;(.*;)?Game;' <<<"$(entry Categories)"

    # The AppStream component, alone and together with the menu entry it launches.
    metainfo=$root/usr/share/metainfo/$id.metainfo.xml
    validates "appstreamcli validate" '^ *[EW]:' appstreamcli validate --no-net "$metainfo"
    validates "appstreamcli validate-tree" '^ *[EW]:' appstreamcli validate-tree --no-net "$root"
    check "the component's id" grep -q "<id>$id</id>" "$metainfo"
    check "Bulgarian summary and description" \
        test "$(grep -cE '<(summary|p) xml:lang="bg">' "$metainfo")" -ge 2
    check "the release is this version" grep -q "<release version=\"$major.$minor\"" "$metainfo"
    changelog=$(zcat "$root/usr/share/doc/migliar/changelog.gz" |
        sed -n '1s/^migliar (\([^)]*\)).*/\1/p')
    check "the changelog's version is the package's" test "$changelog" = "$major.$minor.$patch"

    # The icons: each size as named, the 32-pixel one the window's own, every one what
    # scripts/make-icon draws today, and the SVG the same picture. Another release's font
    # renderer smooths an edge pixel a shade differently; a fifth of the colour range is more
    # than that, and far less than a moved line or another letter.
    hicolor=$root/usr/share/icons/hicolor
    icon() { echo "$hicolor/${1}x$1/apps/$id.png"; }
    window_icon=$source_dir/data/migliar.png
    check "the 32-pixel icon is the window icon" cmp -s "$(icon 32)" "$window_icon"
    check "... in 8-bit palette colour" test "$(identify -format \
        '%[png:IHDR.color-type-orig] %[png:IHDR.bit-depth-orig]' "$window_icon")" = "3 8"
    sh "$source_dir/scripts/make-icon" "$out/drawn"
    for size in "${sizes[@]}"; do
        drawn=$out/drawn/icons/migliar-$size.png
        [ "$size" = 32 ] && drawn=$out/drawn/migliar.png
        dimensions=$(identify -format '%wx%h' "$(icon "$size")")
        difference=$(compare -metric AE -fuzz 20% "$drawn" "$(icon "$size")" null: 2>&1)
        check "icon ${size}x$size ($dimensions), as make-icon draws it ($difference pixels differ)" \
            test "$dimensions" = "${size}x$size" -a "$difference" = 0
    done
    difference=$(compare -metric AE -fuzz 20% "$out/drawn/migliar.ico" \
        "$source_dir/data/migliar.ico" null: 2>&1)
    check "make-icon draws the Windows icon ($difference pixels differ)" test "$difference" = 0
    rsvg-convert -w 256 -h 256 "$hicolor/scalable/apps/$id.svg" -o "$out/svg-256.png"
    distance=$(compare -metric RMSE "$out/svg-256.png" "$(icon 256)" null: 2>&1 |
        sed 's/.*(\(.*\))/\1/')
    check "the SVG draws the same icon (RMSE $distance)" \
        awk -v d="$distance" 'BEGIN { exit !(d < 0.08) }'

    # The installed game: it refuses politely without a display, and with one (offscreen here;
    # the window on a real X server is the outside suites') it starts and runs until stopped.
    message=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/migliar" 2>&1)
    check "without a display: exit status 1 and a message" \
        test "$?" -eq 1 -a "${message#migliar: }" != "$message"
    timeout 5 env QT_QPA_PLATFORM=offscreen "$root/usr/bin/$(entry Exec)" >"$out/started.log" 2>&1
    check "the menu entry's command starts the installed game, which runs until stopped" \
        test "$?" -eq 124

    # The browser build's environment with no folder refuses, sourced or run: it would make
    # /emsdk and /em-cache (749 MB) at the root. Here its commands only tell what they would do.
    said=$(set +u -- # as a shell sources it: no folder (not this script's arguments), no -u
        rm() { echo "rm $*"; } && mkdir() { echo "mkdir $*"; }
        ln() { echo "ln $*"; } && cp() { echo "cp $*"; }
        export -f rm mkdir ln cp
        . "$source_dir/packaging/web/environment.sh" 2>/dev/null
        echo "sourced: $?"
        bash "$source_dir/packaging/web/environment.sh" 2>/dev/null
        echo "run: $?")
    check "environment.sh with no folder refuses, sourced or run: ${said//$'\n'/; }" \
        test "$said" = $'sourced: 1\nrun: 1'
    ;;

deb)
    (cd "$build" && cpack -G DEB -B "$out") >"$out/cpack.log" 2>&1 ||
        { cat "$out/cpack.log"; check "cpack -G DEB" false; finish; }
    deb=$out/migliar_$major.$minor.${patch}_$(dpkg --print-architecture).deb
    check "built $(basename "$deb")" test -f "$deb"
    [ -f "$deb" ] || finish
    field() { dpkg-deb -f "$deb" "$1"; }
    check "package name" test "$(field Package)" = migliar
    check "version" test "$(field Version)" = "$major.$minor.$patch"
    check "a maintainer with an address" grep -qE '^[^<]+ <[^@>]+@[^>]+>$' <<<"$(field Maintainer)"
    check "a summary and a long description" test "$(field Description | wc -l)" -ge 3
    depends=$(field Depends)
    echo "Depends: $depends"
    check "depends on the window's fonts" grep -qE '(^|, )fonts-liberation(,|$)' <<<"$depends"
    check "shared library dependencies: Qt Widgets" grep -q 'libqt6widgets6 (>= ' <<<"$depends"
    check "... and the C library" grep -q 'libc6 (>= ' <<<"$depends"
    listing=$(dpkg-deb -c "$deb")
    check "the package's files are the install's" diff <(expected_files) \
        <(awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' <<<"$listing" | LC_ALL=C sort)
    check "everything belongs to root" test -z "$(awk '$2 != "root/root"' <<<"$listing")"
    check "the game is rwxr-xr-x, the rest rw-r--r--" test -z "$(awk '$1 !~ /^d/ &&
        !(($6 == "./usr/bin/migliar") ? $1 == "-rwxr-xr-x" : $1 == "-rw-r--r--")' <<<"$listing")"
    validates lintian '^[EW]:' lintian --fail-on error --display-info "$deb"
    ;;

winres)
    # As a Windows build does; the host's preprocessor stands in for mingw-w64's C compiler.
    res=$out/migliar.res
    x86_64-w64-mingw32-windres --preprocessor=cpp -I "$source_dir/data" \
        "$source_dir/packaging/migliar.rc" -O res -o "$res"
    check "windres compiles the resource script" test "$?" -eq 0 -a -s "$res"
    [ -s "$res" ] || finish
    back=$(x86_64-w64-mingw32-windres -i "$res" -O rc)
    has() { grep -qF -- "$1" <<<"$back"; }
    numbers="$major, $minor, $patch, $tweak"
    shown=$(printf '%d.%02d' "$major" "$minor")
    for kind in File Product; do
        check "${kind,,} version $numbers, shown as $shown" eval "has '${kind^^}VERSION $numbers' &&
            has 'VALUE \"${kind}Version\", \"$shown\"'"
    done
    check "strings in US English, Unicode" has 'BLOCK "040904B0"'
    check "translation: US English, code page 1200" has 'VALUE "Translation", 0x409, 1200'
    languages=$(grep '^LANGUAGE' <<<"$back" | sort -u)
    check "resources in US English (${languages//$'\n'/; })" test "$languages" = "LANGUAGE 9, 1"
    # Мигляр, as windres writes it back in UTF-16: the code page of the script was honoured.
    name='L"\x041c\x0438\x0433\x043b\x044f\x0440'
    check "product name" has "VALUE \"ProductName\", $name\""
    check "file description" has "VALUE \"FileDescription\", $name"
    check "internal and original file names" eval 'has "VALUE \"InternalName\", \"migliar\"" &&
        has "VALUE \"OriginalFilename\", \"migliar.exe\""'
    for key in CompanyName LegalCopyright LegalTrademarks; do
        check "$key names the publisher" \
            grep -q "VALUE \"$key\", .*www\.migliar\.example" <<<"$back"
    done
    # One icon of 32 x 32 pixels, one plane, 8 bits a pixel, and it is the window icon.
    check "the icon: 32 x 32, 256 colours" has '"\040\040\000\000", 1, 8,'
    difference=$(compare -metric AE "$source_dir/data/migliar.ico" "$source_dir/data/migliar.png" \
        null: 2>&1)
    check "... with the window icon's pixels" test "$difference" = 0
    ;;
*)
    echo "unknown mode $mode"
    exit 2
    ;;
esac
finish
