#!/usr/bin/python3
"""The built game on Wayland, in Weston compositors of its own, as a pupil and a screen reader
meet it.

First on a headless Weston, with no input devices: the window's settings come from the game's own
protocol log (WAYLAND_DEBUG), pixels from the compositor's screenshots, names, texts and states
through AT-SPI, and the game is played through AT-SPI actions. Then on a Weston that shows its
output in a window of an Xvfb: xdotool's clicks there reach the game as real Wayland pointer
input, for a game with real clicks, the title bar and its close button.

The window's design and the checks shared with the X11 suite come from desktop_test.py.

Usage: wayland_test.py MIGLIAR_EXECUTABLE ARTEFACT_FOLDER
"""

import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import warnings
from collections import Counter

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop_test as desktop  # noqa: E402 (reads the same two arguments)
from desktop_test import (BACKGROUND, COVER, COVER_NAME, GAME, LETTER, LETTER_BOX,  # noqa: E402
                          MESSAGE, MODES, OUT, PROMPT, RIGHT_TALLY, TITLE, WRONG_TALLY, check,
                          group, rect, wait_for)

# PyGObject calls AT-SPI's action names deprecated; the name is what a screen reader uses.
warnings.filterwarnings("ignore", category=DeprecationWarning)
CLIENT = rect((0, 0) + desktop.CLIENT)[2:]  # 499 x 424
CLOSE = "Затвори"
OUTPUT = (1024, 768)


def ink_columns(shot, region, background, threshold=120):
    """The columns of a region where something differs clearly from its background colour."""
    x, y, w, h = region
    return [i for i in range(x, x + w)
            if any(sum(abs(a - b) for a, b in zip(shot.pixel(i, j), background)) > threshold
                   for j in range(y, y + h))]


# ---- The compositor ------------------------------------------------------------------------------


class Weston:
    """A Weston of our own: headless, or showing its output in a window of the suite's Xvfb."""

    count = 0

    def __init__(self, suite, backend):
        Weston.count += 1
        self.suite = suite
        self.pointer = backend == "x11"  # the headless one has no input devices
        self.socket = f"migliar-wayland-{os.getpid()}-{Weston.count}"
        self.log = os.path.join(OUT, f"wayland-weston-{backend}.log")
        argv = ["weston", f"--backend={backend}-backend.so", "--use-pixman", "--no-config",
                f"--socket={self.socket}", "--idle-time=0", f"--width={OUTPUT[0]}",
                f"--height={OUTPUT[1]}",
                "--debug"]  # the screenshooter needs it
        with open(self.log, "w") as log:
            self.process = suite.processes.start(argv, group=True, env=suite.env, stdout=log,
                                                 stderr=subprocess.STDOUT)
        self.env = dict(suite.env, WAYLAND_DISPLAY=self.socket)
        # Ready once the desktop shell has drawn its panel and the screenshooter gets a picture.
        if not wait_for(lambda: self.screenshot(os.path.join(OUT, "wayland-probe.png")), 20, 0.2):
            raise RuntimeError(f"Weston did not start; see {self.log}")
        os.remove(os.path.join(OUT, "wayland-probe.png"))

    def screenshot(self, path):
        """The whole output as weston-screenshooter takes it; it names its file by the time, so
        it works in a folder of its own."""
        folder = tempfile.mkdtemp(prefix="wayland-shot-", dir=OUT)
        try:
            run = subprocess.run(["weston-screenshooter"], cwd=folder, env=self.env,
                                 capture_output=True, timeout=10)
            taken = glob.glob(os.path.join(folder, "*.png"))
            if run.returncode != 0 or len(taken) != 1:
                return None
            shutil.move(taken[0], path)
            return path
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def stop(self):
        self.suite.processes.stop(self.process)


class Screen(desktop.Shot):
    """A screenshot of the whole output, read at the game's client area as the X11 suite reads
    its shots of the window: (0, 0) is the client area's top-left pixel."""

    def __init__(self, path, origin=(0, 0), size=OUTPUT):
        self.path = path
        self.data = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                                   capture_output=True).stdout
        self.origin = origin
        self.width, self.height = size

    def at(self, x, y):
        return self.pixel(self.origin[0] + x, self.origin[1] + y)

    def pixel(self, x, y):
        """A pixel of the output."""
        i = 3 * (y * OUTPUT[0] + x)
        return tuple(self.data[i:i + 3])

    def region(self, area):
        """The output's pixels in an area of it."""
        x, y, w, h = area
        return Counter(self.pixel(i, j) for j in range(y, y + h) for i in range(x, x + w))

    def client_area(self):
        """Where the client area lies on the output. The window's background colour runs down its
        left edge, and it is the rightmost and lowest of that colour; the game's icon in the
        title bar, above, has some too."""
        wanted = bytes(BACKGROUND)
        data, width = self.data, OUTPUT[0]
        left, right = OUTPUT[0], -1
        for y in range(OUTPUT[1]):
            row = data[3 * width * y:3 * width * (y + 1)]
            found = [i // 3 for i in range(0, len(row), 3) if row[i:i + 3] == wanted]
            if found:
                left, right = min(left, found[0]), max(right, found[-1])
        if right < 0:
            return None
        column = [y for y in range(OUTPUT[1]) if self.pixel(left, y) == BACKGROUND]
        return (left, column[0], right - left + 1, column[-1] - column[0] + 1)


# ---- The game as a Wayland client ----------------------------------------------------------------


# What the game asks of the compositor and what the compositor tells it, from the protocol log.
GEOMETRY = r"-> xdg_surface@\d+\.set_window_geometry\((-?\d+), (-?\d+), (\d+), (\d+)\)"
MINIMUM = r"-> xdg_toplevel@\d+\.set_min_size\((\d+), (\d+)\)"
MAXIMUM = r"-> xdg_toplevel@\d+\.set_max_size\((\d+), (\d+)\)"
# The size the compositor offers; 0 x 0 leaves it to the game.
CONFIGURE = r"\] xdg_toplevel@\d+\.configure\((-?\d+), (-?\d+),"


def drawn(log):
    """The sizes of the pictures the game gave its window's surface (not the pointer's)."""
    with open(log, encoding="utf-8", errors="replace") as text:
        text = text.read()
    window = re.search(r"-> xdg_wm_base@\d+\.get_xdg_surface\(new id xdg_surface@\d+, "
                       r"(wl_surface@\d+)", text)
    sizes, shown = {}, set()
    for found in re.finditer(r"-> wl_shm_pool@\d+\.create_buffer\(new id (wl_buffer@\d+), \d+, "
                             r"(\d+), (\d+),|-> (wl_surface@\d+)\.attach\((wl_buffer@\d+)", text):
        buffer, width, height, surface, attached = found.groups()
        if buffer:
            sizes[buffer] = (int(width), int(height))
        elif window and surface == window.group(1):
            shown.add(sizes.get(attached))
    return shown


def protocol(log, pattern):
    """The numbers of every message of a kind in the game's protocol log, in order."""
    with open(log, encoding="utf-8", errors="replace") as text:
        return [tuple(int(n) for n in found.groups())
                for found in re.finditer(pattern, text.read())]


class WaylandGame(desktop.Game):
    """The game started as a Wayland desktop starts it: WAYLAND_DISPLAY and XDG_SESSION_TYPE set,
    the platform left for Qt to choose. Its protocol log goes to its own file."""

    def __init__(self, suite, weston, name, **env):
        self.suite, self.weston, self.name, self.shots = suite, weston, name, 0
        self.log = os.path.join(OUT, f"wayland-{name}.log")
        with open(self.log, "w") as log:
            self.process = suite.processes.start(
                [GAME], env=dict(weston.env, XDG_SESSION_TYPE="wayland", WAYLAND_DEBUG="client",
                                 **env), stdout=log, stderr=subprocess.STDOUT)
        self.app = wait_for(self.find_application, 20)
        if not self.app:
            raise RuntimeError(f"{name}: not on the accessibility bus; see {self.log}")
        self.collect()
        if not wait_for(lambda: self.find_on_screen() and self.bounds, 10, 0.2):
            raise RuntimeError(f"{name}: no window on the screen; see {self.log}")

    def find_application(self):
        desktop_ = desktop.Atspi.get_desktop(0)
        for i in range(desktop_.get_child_count()):
            app = desktop_.get_child_at_index(i)
            if app and app.get_process_id() == self.process.pid and app.get_child_count():
                top = app.get_child_at_index(0)
                parts = [top] + [top.get_child_at_index(k) for k in range(top.get_child_count())]
                if any(part.get_child_count() > 30 for part in parts):  # the letter board is there
                    return app
        return None

    def collect(self):
        """The top window holds the title bar and the client area; the controls are in the
        latter, as they are in the top window on X11 (and here too when Qt draws the frame)."""
        self.top = self.app.get_child_at_index(0)
        parts = [self.top.get_child_at_index(k) for k in range(self.top.get_child_count())]
        self.client = max(parts, key=lambda part: part.get_child_count())
        self.others = [part for part in parts if part != self.client]
        if self.top.get_child_count() > 30:
            self.client, self.others = self.top, []
        self.controls, self.letters, self.all = {}, {}, []
        frames = [self.client]
        while frames:
            parent = frames.pop()
            for i in range(parent.get_child_count()):
                child = parent.get_child_at_index(i)
                self.all.append(child)
                name = child.get_name()
                if child.get_role() == desktop.Atspi.Role.PANEL:
                    frames.append(child)
                if child.get_role() == desktop.Atspi.Role.LABEL and len(name) == 1:
                    if self.has(child, "showing"):
                        self.letters[name] = child
                    continue
                self.controls.setdefault(name, child)

    def window_extents(self, accessible):
        """Where the toolkit says something is, in pixels of the whole window."""
        e = desktop.Atspi.Component.get_extents(accessible, desktop.Atspi.CoordType.WINDOW)
        return (e.x, e.y, e.width, e.height)

    def extents(self, accessible):
        """Where the toolkit says a control is, in pixels of the client area."""
        x, y, w, h = self.window_extents(accessible)
        cx, cy, _, _ = self.window_extents(self.client)
        return (x - cx, y - cy, w, h)

    def find_on_screen(self):
        """A screenshot, and where the client area lies on it."""
        screen = Screen(self.weston.screenshot(os.path.join(OUT, f"wayland-{self.name}-find.png")))
        self.bounds = screen.client_area()
        self.origin = self.bounds[:2] if self.bounds else None
        return screen

    def shot(self, what):
        self.shots += 1
        path = os.path.join(OUT, f"wayland-{self.name}-{self.shots:02}-{what}.png")
        if not self.weston.screenshot(path):
            raise RuntimeError(f"no screenshot {path}")
        return Screen(path, self.origin, CLIENT)

    def on_output(self, window_point):
        """A point of the window (its pixels as the toolkit counts them) on the output."""
        cx, cy, _, _ = self.window_extents(self.client)
        return (self.origin[0] - cx + window_point[0], self.origin[1] - cy + window_point[1])

    def pointer(self, *actions):
        subprocess.run(["xdotool", *actions], env=self.suite.env, check=True)

    def click(self, region):
        """A real click at the middle of a region of the client area, through Weston."""
        x, y, w, h = region
        self.pointer("mousemove", "--sync", str(self.origin[0] + x + w // 2),
                     str(self.origin[1] + y + h // 2), "click", "1")
        time.sleep(0.08)  # the game handles it

    def close_button(self):
        return next((part for part in self.all_parts() if part.get_name() == CLOSE), None)

    def all_parts(self):
        found, stack = [], list(self.others)
        while stack:
            part = stack.pop()
            found.append(part)
            stack.extend(part.get_child_at_index(i) for i in range(part.get_child_count()))
        return found

    def close(self):
        """The title bar's close button: clicked for real where there is a pointer, pressed
        through AT-SPI where there is none."""
        if not self.close_button():
            return
        if self.weston.pointer:
            x, y, w, h = self.window_extents(self.close_button())
            self.pointer("mousemove", "--sync", *map(str, self.on_output((x + w // 2, y + h // 2))),
                         "click", "1")
        else:
            desktop.act(self.close_button(), "Press")


# ---- The checks ----------------------------------------------------------------------------------


def the_window(game):
    group("the window Qt gives Wayland")
    check("the screen reader hears the title", game.top.get_name() == TITLE, game.top.get_name())
    titles = re.findall(r"xdg_toplevel@\d+\.set_title\(\"([^\"]*)\"\)",
                        open(game.log, encoding="utf-8", errors="replace").read())
    check("the title, whole, under a bare C locale", titles and titles[-1] == TITLE, titles)
    geometry = protocol(game.log, GEOMETRY)
    minimum = protocol(game.log, MINIMUM)
    maximum = protocol(game.log, MAXIMUM)
    buffers = drawn(game.log)
    window = geometry[-1][2:] if geometry else None
    check("the window's geometry starts at its surface's corner: no shadow around it",
          geometry and geometry[-1][:2] == (0, 0), geometry)
    check(f"a size that cannot change: minimum = maximum = the window's size {window}",
          minimum and maximum and minimum[-1] == maximum[-1] == window, (minimum, maximum))
    check("every frame drawn at that size", buffers == {window}, buffers)
    configured = protocol(game.log, CONFIGURE)
    check("Weston leaves the size to the game", configured and all(
        c in ((0, 0), window) for c in configured), configured)
    check(f"the client area is {CLIENT[0]} x {CLIENT[1]} pixels on the output",
          game.bounds[2:] == CLIENT, game.bounds)
    return window


def title_bar(game, window, shot, active):
    group("the title bar: the title and a close button, nothing else")
    buttons = [p for p in game.all_parts() if p.get_role() == desktop.Atspi.Role.PUSH_BUTTON]
    if not check("one button besides the client area, 'Затвори'",
                 [b.get_name() for b in buttons] == [CLOSE], [b.get_name() for b in buttons]):
        return
    cx, cy, cw, ch = game.window_extents(game.client)
    bar = (cx, cx, cw, cy - cx)  # above the client area, within the edge
    check("the client area whole in the window, an even edge round it, the bar above it",
          window is not None and (cw, ch) == CLIENT and cy > 20
          and window[0] - cw - cx == cx == window[1] - ch - cy, (cx, cy, cw, ch, window))
    left, top = game.on_output((0, 0))
    on_output = (left + bar[0], top + bar[1], bar[2], bar[3])
    colour = shot.region(on_output).most_common(1)[0][0]
    bx, by, bw, bh = game.window_extents(game.close_button())
    button = (left + bx, top + by, bw, bh)
    check("the close button at the right end of the bar",
          bar[0] + bar[2] - 12 < bx + bw <= bar[0] + bar[2] and by >= 0 and by + bh <= cy,
          (bx, by, bw, bh))
    # The cross: both its diagonals inked.
    cross = [shot.pixel(button[0] + k, button[1] + k) for k in range(8, bw - 8)]
    cross += [shot.pixel(button[0] + bw - 1 - k, button[1] + k) for k in range(8, bw - 8)]
    strokes = sum(1 for p in cross if sum(abs(a - b) for a, b in zip(p, colour)) > 120)
    check("... a cross drawn on it", strokes >= len(cross) - 2, (strokes, len(cross)))
    # Between the title and the close button the bar is bare: no minimize, no maximize.
    ink = ink_columns(shot, (on_output[0] + 32, on_output[1] + 2, button[0] - on_output[0] - 32,
                             on_output[3] - 4), colour)
    check("the title is on the bar", len(ink) > 150, len(ink))
    if ink:
        middle = on_output[0] + on_output[2] / 2
        check("... whole and centred, not cut short", abs((ink[0] + ink[-1]) / 2 - middle) < 4,
              (ink[0], ink[-1], middle))
        bare = shot.region((ink[-1] + 3, on_output[1], button[0] - ink[-1] - 3, on_output[3]))
        check("no other button between the title and the close button",
              list(bare) == [colour] and button[0] - ink[-1] > 20, bare.most_common(3))
    icon = shot.region((on_output[0] + 5, on_output[1] + 4, 20, 20))
    check("the game's icon at the left", icon[colour] < 200, icon.most_common(2))
    text = Counter(shot.pixel(i, j) for i in ink for j in range(on_output[1], on_output[1] +
                                                                on_output[3])) if ink else {}
    darkest = min(text, key=sum) if text else None
    check(f"the title's ink is {'black' if active else 'grey'}: the window is "
          f"{'' if active else 'not '}the active one",
          darkest is not None and (sum(darkest) < 60 if active else 150 < sum(darkest) < 450),
          darkest)


def short_game(game):
    group("a short game through AT-SPI")
    cover = game.controls[COVER_NAME]
    check("'Toggle' selects 'Горе-Ляво'", desktop.act(game.controls[MODES[0]], "Toggle")
          and wait_for(lambda: game.state(MODES[0], "checked"), 2))
    check("'Press' on 'Покажи' starts the reveal", desktop.act(game.controls["Покажи"], "Press")
          and wait_for(lambda: game.extents(cover) != rect(LETTER_BOX), 3))
    steps = []
    for what in ("early", "later"):
        time.sleep(0.4)
        steps.append(desktop.slid_steps(game, 0, f"top-left-{what}"))
    check("the screen shows the cover slide right and down, further each time",
          all(steps) and 0 not in steps[0] and min(steps[1]) > max(steps[0]), steps)
    letter = game.text(LETTER)
    check(f"the hidden letter '{letter}' is one of the 30, its label shows",
          len(letter) == 1 and letter in game.letters)
    check("the options are greyed out", not any(game.state(mode, "sensitive") for mode in MODES))
    check("'Press' on 'Чисти' brings the prompt back",
          desktop.act(game.controls["Чисти"], "Press")
          and wait_for(lambda: game.text(MESSAGE) == PROMPT, 2), game.text(MESSAGE))
    time.sleep(0.3)
    shot = game.shot("cleared")
    box = shot.colours(rect(LETTER_BOX))
    check("the cover is back over the whole letter", list(box) == [COVER], box.most_common(3))


def closing(game):
    group("closing with the title bar's button during a reveal")
    cover = game.controls[COVER_NAME]
    desktop.act(game.controls["Покажи"], "Press")
    check("a reveal is running", wait_for(lambda: game.extents(cover) != rect(LETTER_BOX), 3))
    asked = time.monotonic()
    game.close()
    status = game.ended(5)
    took = time.monotonic() - asked
    check(f"the process ends at once ({took:.2f} s) with status 0", status == 0 and took < 1,
          status)


def compositor_gone(suite):
    group("the compositor goes away under the game")
    weston = Weston(suite, "headless")
    game = WaylandGame(suite, weston, "orphaned")
    try:
        weston.stop()
        status = game.ended(10)
        check(f"the game ends by itself, not by a signal (status {status})",
              status is not None and status >= 0, status)
    finally:
        suite.processes.stop(game.process)


def moved_and_resized(game):
    group("moving and resizing with the pointer")
    before = game.bounds
    x, y = game.on_output((60, 12))  # the bar, left of the title
    game.pointer("mousemove", "--sync", str(x), str(y), "mousedown", "1")
    for step in range(1, 11):
        game.pointer("mousemove", "--sync", str(x + 8 * step), str(y + 5 * step))
        time.sleep(0.02)
    game.pointer("mouseup", "1")
    moved = wait_for(lambda: (lambda b: b if b[:2] != before[:2] else None)(
        game.find_on_screen().client_area()), 3, 0.2)
    check("dragging the bar moves the window by the pointer's way",
          moved and (moved[0] - before[0], moved[1] - before[1]) == (80, 50) and
          moved[2:] == CLIENT, (before, moved))
    game.find_on_screen()
    # Weston resizes a window with the right button while the Super key is held.
    x, y = game.on_output((400, 300))
    game.pointer("mousemove", "--sync", str(x), str(y), "keydown", "super", "mousedown", "3")
    for step in range(1, 11):
        game.pointer("mousemove", "--sync", str(x + 12 * step), str(y + 9 * step))
        time.sleep(0.02)
    game.pointer("mouseup", "3", "keyup", "super")
    time.sleep(0.5)
    after = game.find_on_screen().client_area()
    offered = [c for c in protocol(game.log, CONFIGURE) if c != (0, 0)]
    buffers = drawn(game.log)
    check("Weston offers other sizes while Super and the right button drag", offered, offered)
    check("... and the game keeps its size", after and after[2:] == CLIENT and len(buffers) == 1,
          (after, buffers))


def tab_order(game):
    group("the keyboard in the frame")
    check("the first focus is the message box", wait_for(game.focused, 3) == MESSAGE,
          game.focused())
    walked = []
    for _ in range(8):
        before = game.focused()
        game.pointer("key", "Tab")
        walked.append(wait_for(lambda: (lambda f: f if f != before else None)(game.focused()), 2))
    expected = desktop.FOCUS_ORDER[1:5] + ["Случайно", RIGHT_TALLY, WRONG_TALLY, MESSAGE]
    check("Tab walks the focus order round within the game; the close button takes no focus",
          walked == expected, walked)


def close_button_clicked(game):
    if check("the title bar has a close button", game.close_button()):
        desktop.closing(game)


# ---- The suite -----------------------------------------------------------------------------------


def headless(suite):
    weston = Weston(suite, "headless")
    # A bare C locale, as on a fresh machine.
    game = WaylandGame(suite, weston, "headless", LC_ALL="C", LANG="")
    try:
        window = the_window(game)
        desktop.names(game)
        small = desktop.start_up_pixels(game)
        title_bar(game, window, small, active=False)
        short_game(game)
        closing(game)
    finally:
        suite.processes.stop(game.process)
        weston.stop()


def with_a_pointer(suite):
    group("on a Weston with a pointer: real clicks")
    weston = Weston(suite, "x11")
    game = WaylandGame(suite, weston, "pointer")
    try:
        game.click(rect(desktop.TEMPLATE))  # activates the window: the empty place of a label
        shot = game.shot("active")
        title_bar(game, protocol(game.log, GEOMETRY)[-1][2:], shot, active=True)
        tab_order(game)
        desktop.play(game)
        moved_and_resized(game)
        close_button_clicked(game)
    finally:
        suite.processes.stop(game.process)
        weston.stop()


def main():
    os.makedirs(OUT, exist_ok=True)
    for old in glob.glob(os.path.join(OUT, "wayland-*")):  # this run's artefacts only
        if os.path.isdir(old):
            shutil.rmtree(old)
        else:
            os.remove(old)
    suite = desktop.Suite()

    def stop(signum, _frame):
        raise SystemExit(f"stopped by signal {signum}")

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, stop)
    try:
        suite.start_x()  # for the second Weston, and the DISPLAY a Wayland desktop also has
        suite.start_bus()
        headless(suite)
        compositor_gone(suite)
        with_a_pointer(suite)
    except BaseException as error:  # a harness failure or a signal counts as a failed check
        traceback.print_exc(file=sys.stdout)
        check("the suite ran to its end", False, f"{type(error).__name__}: {error}")
    finally:
        suite.processes.stop_all()
        if suite.own_runtime:
            shutil.rmtree(suite.own_runtime, ignore_errors=True)
    print(f"\n{desktop.passed} passed, {desktop.failed} failed")
    return 0 if desktop.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
