#!/bin/bash
# The built game on a real X server: it refuses politely without one, and with one it opens the
# window at the middle of the screen, fixed in size, with the letter hidden.
# Usage: x11_test.sh MIGLIAR_EXECUTABLE ARTEFACT_FOLDER
set -u
game=$1
out=$2
failures=0
passes=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "ok   $1"; passes=$((passes + 1)); else echo "FAIL $1"; failures=$((failures + 1)); fi
}

# Without a display: one line, exit status 1, no abort.
for display in "" ":9999"; do
    message=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$display" "$game" 2>&1)
    status=$?
    check "no display '$display': status 1 (was $status)" test "$status" -eq 1
    check "no display '$display': one line starting 'migliar:'" \
        test "$(printf '%s\n' "$message" | wc -l)" -eq 1 -a "${message#migliar: }" != "$message"
done

# A private X server; it picks a free display number itself and tells it on a pipe.
game_pid=
xvfb=
cleanup() {
    [ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
}
trap cleanup EXIT
exec {numbers}< <(Xvfb -displayfd 1 -noreset -screen 0 1024x768x24 -dpi 96 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r _ xvfb <&"$numbers"
read -r -t 10 n <&"$numbers" || { echo "FAIL Xvfb did not start"; exit 1; }
export DISPLAY=":$n"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done

# A bare C locale, as on a fresh machine: the title must still reach the X server whole.
LC_ALL=C LANG= "$game" &
game_pid=$!
window=
for _ in $(seq 100); do
    window=$(xdotool search --name 'ИТ - показване части на буква' 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    sleep 0.05
done
check "the window shows" test -n "$window"
if [ -n "$window" ]; then
    sleep 0.3 # the first frame
    info=$(xwininfo -id "$window")
    geometry=$(xdotool getwindowgeometry "$window")
    check "client area 499 x 424" grep -q "Geometry: 499x424" <<<"$geometry"
    check "centred on the screen" grep -q "Absolute upper-left X:  262" <<<"$info"
    hints=$(xprop -id "$window" WM_NORMAL_HINTS)
    check "cannot be resized" grep -q "minimum size: 499 by 424" <<<"$hints"
    check "... nor grown" grep -q "maximum size: 499 by 424" <<<"$hints"
    for property in _NET_WM_NAME WM_NAME; do
        check "title ($property)" grep -q '"www.migliar.example ИТ - показване части на буква"' \
            <<<"$(LC_ALL=C.UTF-8 xprop -id "$window" $property)"
    done
    check "icon set" grep -q "Icon (32 x 32)" <<<"$(xprop -id "$window" _NET_WM_ICON | head -c 2000)"

    import -window "$window" "$out/x11-start.png"
    # The letter box (pixels 32..98 across, 88..154 down) shows only the cover's colour.
    colours=$(convert "$out/x11-start.png" -crop 67x67+32+88 +repage -unique-colors -depth 8 txt:- |
        grep -vc '^#')
    cover=$(convert "$out/x11-start.png" -format '%[pixel:p{60,120}]' info:)
    check "the letter box is covered ($colours colour, $cover)" \
        test "$colours" -eq 1 -a "$cover" = "srgb(192,192,255)"
    check "the window background" \
        test "$(convert "$out/x11-start.png" -format '%[pixel:p{5,60}]' info:)" = "srgb(192,192,255)"
    check "the title label" \
        test "$(convert "$out/x11-start.png" -format '%[pixel:p{100,3}]' info:)" = "srgb(255,192,128)"
fi
check "still running" kill -0 "$game_pid"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
