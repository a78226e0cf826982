# Sourced by the shell tests that need a real X server: starts a private Xvfb on a display it
# picks itself, exports DISPLAY, and on exit ends it and the game under test ($game_pid) whatever
# happened. Returns non-zero when Xvfb does not start.
game_pid=
xvfb=
bus=
cleanup() {
    [ -n "$game_pid" ] && kill -9 "$game_pid" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    [ -n "$bus" ] && kill "$bus" 2>/dev/null
    wait 2>/dev/null
}
trap cleanup EXIT
start_xserver() {
    local n
    exec {numbers}< <(Xvfb -displayfd 1 -noreset -screen 0 1024x768x24 -dpi 96 -nolisten tcp \
        2>/dev/null & echo "pid $!")
    read -r _ xvfb <&"$numbers"
    read -r -t 10 n <&"$numbers" || return 1
    export DISPLAY=":$n"
    for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
}
# start_session_bus: a D-Bus session bus of our own, ended on exit; exports its address.
start_session_bus() {
    local address
    exec {addresses}< <(dbus-daemon --session --nofork --nopidfile --print-address=1 \
        2>/dev/null & echo "pid $!")
    read -r _ bus <&"$addresses"
    read -r -t 10 address <&"$addresses" || return 1
    export DBUS_SESSION_BUS_ADDRESS=$address
}
# find_window TITLE_PATTERN SECONDS: prints the first window whose title matches, waiting for it
# up to SECONDS; fails when none shows.
find_window() {
    local found deadline=$((SECONDS + $2))
    while :; do
        found=$(xdotool search --name "$1" 2>/dev/null | head -n 1)
        [ -n "$found" ] && { echo "$found"; return 0; }
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.05
    done
}
