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

# A private X server on a free display number.
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -noreset -screen 0 1024x768x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
game_pid=
cleanup() {
    [ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null
    kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
}
trap cleanup EXIT
export DISPLAY=":$n"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done

"$game" &
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
    check "title" grep -q '"www.migliar.example ИТ - показване части на буква"' \
        <<<"$(xprop -id "$window" _NET_WM_NAME)"
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
