#!/bin/bash
# The built game under valgrind's memcheck from start-up to the close, on its own Xvfb: a game is
# played, a runtime error is raised, and the window is closed while the error box shows. Any
# invalid read or write, use of an undefined value or definite leak fails the test, except the
# library ones written down, with why, in valgrind.supp.
# Usage: valgrind_test.sh MIGLIAR_EXECUTABLE ARTEFACT_FOLDER
set -u
game=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
log=$out/valgrind.log

. "$here/xserver.sh"
start_xserver || { echo "FAIL Xvfb did not start"; exit 1; }
# A session bus of its own, with the accessibility bridge on: the game takes the same path on
# every machine, whether or not the desktop would start a bus for it.
start_session_bus || { echo "FAIL dbus-daemon did not start"; exit 1; }
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

# A forked child leaves the log alone.
valgrind --tool=memcheck -s --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=definite --child-silent-after-fork=yes --num-callers=40 \
    --suppressions="$here/valgrind.supp" --error-exitcode=99 --log-file="$log" "$game" &
game_pid=$!
window=$(find_window 'ИТ - показване части на буква' 120) ||
    { echo "FAIL the window did not show"; exit 1; }
sleep 1
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.3; }

# A game: a mode, "Покажи", a few ticks, a guess, "Чисти".
click 280 80
click 236 204
sleep 1.5
click 52 244
click 460 204
# Tallies that no number can hold, then a guess: the error box, and the window closed over it.
for y in 93 157; do
    click 456 "$y"
    xdotool type --delay 30 1e999
done
click 236 204
sleep 0.5
click 52 244
box=$(find_window '^Мигляр$' 60) || echo "FAIL the error box did not show"
"$here/wm_close.py" "$window"
for _ in $(seq 1200); do kill -0 "$game_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$game_pid" 2>/dev/null; then
    echo "FAIL the game did not end"
    exit 1
fi
wait "$game_pid"
status=$?
game_pid=
grep -E "ERROR SUMMARY|definitely lost:|Invalid (read|write)" "$log"
echo "valgrind exit status $status (99: memcheck found an error; the log is $log)"
# Where a run fails, its stacks go to the test's output, where CI keeps them.
[ "$status" -eq 0 ] || grep -E -A45 "definitely lost in loss record|Invalid (read|write)" "$log"
[ -n "$box" ] && [ "$status" -eq 0 ]
