#!/bin/bash
# The built game closed the way a window manager closes it, at any moment: at once, idle, in the
# middle of a reveal and while the error box shows. Each time the process must end by itself,
# soon, with status 0 and nothing on stderr.
# Usage: close_test.sh MIGLIAR_EXECUTABLE ARTEFACT_FOLDER
set -u
game=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
failures=0
passes=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "ok   $1"; passes=$((passes + 1)); else echo "FAIL $1"; failures=$((failures + 1)); fi
}

. "$here/xserver.sh"
start_xserver || { echo "FAIL Xvfb did not start"; exit 1; }

# Pixel centres of the controls used (their twips over 15).
show=(236 204)
tallies=("456 93" "456 157")
letter=(52 244)

window=
start_game() { # start_game NAME
    "$game" 2>"$out/close-$1.err" &
    game_pid=$!
    window=$(find_window 'ИТ - показване части на буква' 20)
}
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
error_box() { xdotool search --name '^Мигляр$' 2>/dev/null | head -n 1; }

# Makes the next guess overflow whichever tally it counts, and guesses.
raise_error() {
    for tally in "${tallies[@]}"; do
        click $tally
        xdotool type --delay 10 1e999
    done
    click "${show[@]}"
    sleep 0.3
    click "${letter[@]}"
    find_window '^Мигляр$' 5 >/dev/null
}

close_and_wait() { # close_and_wait NAME
    "$here/wm_close.py" "$window"
    for _ in $(seq 400); do kill -0 "$game_pid" 2>/dev/null || break; sleep 0.05; done
    if kill -0 "$game_pid" 2>/dev/null; then
        check "$1: the process ends" false
        kill -9 "$game_pid"
        wait "$game_pid" 2>/dev/null
    else
        wait "$game_pid"
        local status=$?
        check "$1: status 0 (was $status)" test "$status" -eq 0
        check "$1: nothing on stderr" test ! -s "$out/close-$1.err"
    fi
    game_pid=
}

start_game at-once && close_and_wait at-once

start_game idle && sleep 0.5 && close_and_wait idle

if start_game reveal; then
    click "${show[@]}"
    sleep 0.7
    check "reveal: running before the close" kill -0 "$game_pid"
    close_and_wait reveal
fi

# The error box is modal, and the reveal goes on behind it.
if start_game error-box; then
    check "error-box: the box shows" raise_error
    sleep 0.5
    close_and_wait error-box
fi

# Closing the box itself goes back to the game, which the player then closes.
if start_game box-then-game; then
    check "box-then-game: the box shows" raise_error
    "$here/wm_close.py" "$(error_box)"
    for _ in $(seq 100); do [ -z "$(error_box)" ] && break; sleep 0.05; done
    check "box-then-game: the box has gone" test -z "$(error_box)"
    check "box-then-game: the game goes on" kill -0 "$game_pid"
    close_and_wait box-then-game
fi

# Any other moment: a few clicks, a pause of random length, and the close.
for run in 1 2 3 4 5 6; do
    start_game "random-$run" || continue
    for _ in $(seq $((RANDOM % 4))); do
        case $((RANDOM % 3)) in
        0) click "${show[@]}" ;;
        1) click "${letter[@]}" ;;
        2) click 460 204 ;; # "Чисти"
        esac
    done
    sleep "0.$((RANDOM % 10))"
    close_and_wait "random-$run"
done

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
