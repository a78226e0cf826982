"""The Wayland back end: the game in Westons of its own. A headless one has no input devices:
the game is played through AT-SPI there. One showing its output on the suite's Xvfb takes
xdotool's clicks as real pointer input. Settings come from the game's protocol log
(WAYLAND_DEBUG), pixels from the compositor's screenshots."""

import glob
import os
import re
import shutil
import subprocess
import tempfile
import time
from collections import Counter

import atspi
from atspi import AtspiGame
from design import CLIENT_PIXELS, Shot, client_area, ink_columns
from harness import check, group, wait_for

CLOSE = "Затвори"
BOX_GREY = bytes((239, 239, 239))  # the error box and the bar Qt draws over it
OUTPUT = (1024, 768)


class Weston:
    """A Weston of our own: headless, or showing its output in a window of the suite's Xvfb."""

    count = 0

    def __init__(self, session, backend):
        Weston.count += 1
        self.out = session.out
        self.pointer = backend == "x11"  # the headless one has no input devices
        self.socket = f"migliar-wayland-{os.getpid()}-{Weston.count}"
        self.log = os.path.join(session.out, f"wayland-weston-{backend}.log")
        argv = ["weston", f"--backend={backend}-backend.so", "--use-pixman", "--no-config",
                f"--socket={self.socket}", "--idle-time=0", f"--width={OUTPUT[0]}",
                f"--height={OUTPUT[1]}", "--debug"]  # the screenshooter needs --debug
        self.process = session.processes.start(argv, group=True, env=session.env, log=self.log)
        self.env = dict(session.env, WAYLAND_DISPLAY=self.socket)
        # Ready once the desktop shell has drawn its panel and the screenshooter gets a picture.
        probe = os.path.join(session.out, "wayland-probe.png")
        if not wait_for(lambda: self.screenshot(probe), 20, 0.2):
            raise RuntimeError(f"Weston did not start; see {self.log}")
        os.remove(probe)

    def screenshot(self, path):
        """The whole output as weston-screenshooter takes it; it names its file by the time, so
        it works in a folder of its own."""
        folder = tempfile.mkdtemp(prefix="wayland-shot-", dir=self.out)
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


# What the game asks of the compositor and what the compositor tells it, from the protocol log;
# libwayland writes an object as interface@id, from 1.23 on as interface#id.
OBJECT = r"[@#]\d+"
GEOMETRY = rf"-> xdg_surface{OBJECT}\.set_window_geometry\((-?\d+), (-?\d+), (\d+), (\d+)\)"
MINIMUM = rf"-> xdg_toplevel{OBJECT}\.set_min_size\((\d+), (\d+)\)"
MAXIMUM = rf"-> xdg_toplevel{OBJECT}\.set_max_size\((\d+), (\d+)\)"
# The size the compositor offers; 0 x 0 leaves it to the game.
CONFIGURE = rf"\](?: {{[^}}]*}})? xdg_toplevel{OBJECT}\.configure\((-?\d+), (-?\d+),"


def log_text(log):
    with open(log, encoding="utf-8", errors="replace") as text:
        return text.read()


def drawn(log):
    """The sizes of the pictures the game gave its window's surface (not the pointer's)."""
    text = log_text(log)
    window = re.search(rf"-> xdg_wm_base{OBJECT}\.get_xdg_surface\(new id xdg_surface{OBJECT}, "
                       rf"(wl_surface{OBJECT})", text)
    sizes, shown = {}, set()
    for found in re.finditer(rf"-> wl_shm_pool{OBJECT}\.create_buffer\(new id (wl_buffer{OBJECT})"
                             rf", \d+, (\d+), (\d+),|-> (wl_surface{OBJECT})\.attach\("
                             rf"(wl_buffer{OBJECT})", text):
        buffer, width, height, surface, attached = found.groups()
        if buffer:
            sizes[buffer] = (int(width), int(height))
        elif window and surface == window.group(1):
            shown.add(sizes.get(attached))
    return shown


def protocol(log, pattern):
    """The numbers of every message of a kind in the game's protocol log, in order."""
    return [tuple(int(n) for n in found.groups()) for found in re.finditer(pattern, log_text(log))]


class WaylandGame(AtspiGame):
    """The game started as a Wayland desktop starts it, in a Weston of its own: the platform
    left for Qt to choose. Its protocol log goes to its own file."""

    quiet = True  # but for the protocol log

    def __init__(self, session, name, backend="headless", **env):
        super().__init__(session.out, "wayland", name)
        self.processes, self.weston = session.processes, Weston(session, backend)
        self.env = session.env  # xdotool's: the Xvfb that shows Weston's output
        self.pointer = self.closes_box = self.weston.pointer
        self.process = self.processes.start(
            [session.game], env=dict(self.weston.env, XDG_SESSION_TYPE="wayland",
                                     WAYLAND_DEBUG="client", **env), log=self.log)
        self.collect()
        if not wait_for(lambda: self.find_on_screen() and self.bounds, 10, 0.2):
            raise RuntimeError(f"{name}: no window on the screen; see {self.log}")

    def find_on_screen(self):
        """A screenshot, and where the client area lies on it."""
        path = os.path.join(self.out, f"wayland-{self.name}-find.png")
        screen = Shot(self.weston.screenshot(path))
        self.bounds = client_area(screen)
        self.origin = self.bounds[:2] if self.bounds else None
        return screen

    def take(self, path):
        if not self.weston.screenshot(path):
            raise RuntimeError(f"no screenshot {path}")
        return path

    def client_place(self):
        return self.origin, CLIENT_PIXELS

    def on_output(self, window_point):
        """A point of the window (its pixels as the toolkit counts them) on the output."""
        cx, cy, _, _ = self.window_extents(self.client)
        return (self.origin[0] - cx + window_point[0], self.origin[1] - cy + window_point[1])

    def click(self, region, button=1):
        """A real click at the middle of a region of the client area, through Weston."""
        x, y, w, h = region
        self.click_at(self.origin[0] + x + w // 2, self.origin[1] + y + h // 2, button)

    def pointer_to(self, x, y):
        """Weston's X11 output moves its pointer by the X pointer's motions from where it last
        saw it come in, so the pointer comes in afresh each time: from outside the output."""
        return ["mousemove", str(OUTPUT[0] + 50), str(OUTPUT[1] + 50), "mousemove", "--sync",
                str(x), str(y)]

    def click_at(self, x, y, button=1):
        self.xdotool(*self.pointer_to(x, y), "click", str(button))
        time.sleep(self.pause)  # the game handles it

    def activate(self):
        pass  # a click into the window gave it the keyboard

    def stop(self):
        super().stop()
        self.processes.stop(self.weston.process)

    def client_size(self):
        return self.bounds[2:]  # as the output shows it

    def written(self):
        return "\n".join(line for line in super().written().splitlines()
                         if not re.match(r"\[ *\d+\.\d+\] ", line))

    def shown(self):
        """The windows the game has asked for and not taken down, by title (not place)."""
        titles, toplevel = {}, rf"xdg_toplevel({OBJECT})"
        for made, named, title, gone in re.findall(
                rf"get_toplevel\(new id {toplevel}\)|{toplevel}\.set_title\(\"([^\"]*)\"\)|"
                rf"-> {toplevel}\.destroy\(", log_text(self.log)):
            if made:
                titles[made] = None
            elif named:
                titles[named] = title
            else:
                titles.pop(gone, None)
        return [(title, None) for title in titles.values()]

    def close_box(self):
        """The close button of the box's own title bar: the right end of the box, found on the
        screen by its grey (the game's own bar, of that grey too, left out), clicked for real."""
        shot = Shot(self.take(self.artefact("box-to-close")))
        left, top = self.on_output((0, 0))
        width, height = shot.full
        grey = [(x, y) for y in range(height) for x in range(width)
                if shot.data[3 * (y * width + x):3 * (y * width + x) + 3] == BOX_GREY
                and not (left <= x < left + CLIENT_PIXELS[0] + 2 and top <= y < self.origin[1])]
        xs = [x for x, n in Counter(x for x, _ in grey).items() if n >= 30]
        ys = [y for y, n in Counter(y for _, y in grey).items() if n >= 30]
        if not xs or not ys:
            return
        right, top = max(xs), min(ys)
        ink = [(x, y) for y in range(top, top + 28) for x in range(right - 28, right + 1)
               if sum(shot.pixel(x, y)) < 200]
        if ink:
            self.click_at(sum(x for x, _ in ink) // len(ink), sum(y for _, y in ink) // len(ink))

    def press(self, button):
        if self.pointer:
            super().press(button)
        else:  # no pointer: as a screen reader presses it
            atspi.act(self.controls[button], "Press")

    def close_button(self):
        return next((p for p in atspi.descendants(*self.others) if p.get_name() == CLOSE), None)

    def close(self, window=None):
        """The title bar's close button, clicked, or pressed through AT-SPI with no pointer."""
        button = self.close_button()
        if button and self.pointer:
            x, y, w, h = self.window_extents(button)
            self.click_at(*self.on_output((x + w // 2, y + h // 2)))
        elif button:
            atspi.act(button, "Press")


# ---- The checks only Wayland has -----------------------------------------------------------------


def the_window(game):
    group("the window Qt gives Wayland")
    geometry, minimum, maximum, configured = (protocol(game.log, kind) for kind in (
        GEOMETRY, MINIMUM, MAXIMUM, CONFIGURE))
    buffers = drawn(game.log)
    window = geometry[-1][2:] if geometry else None
    check("the window's geometry starts at its surface's corner: no shadow around it",
          geometry and geometry[-1][:2] == (0, 0), geometry)
    check(f"a size that cannot change: minimum = maximum = the window's size {window}",
          minimum and maximum and minimum[-1] == maximum[-1] == window, (minimum, maximum))
    check("every frame drawn at that size", buffers == {window}, buffers)
    check("Weston leaves the size to the game", configured and all(
        c in ((0, 0), window) for c in configured), configured)
    # A desktop finds the window's menu entry, its name and icon, by the app_id: the entry's name.
    ids = re.findall(rf"-> xdg_toplevel{OBJECT}\.set_app_id\(\"([^\"]*)\"\)", log_text(game.log))
    entries = [os.path.basename(entry)[:-len(".desktop")] for entry in glob.glob(os.path.join(
        os.path.dirname(__file__), "..", "..", "packaging", "*.desktop"))]
    check(f"its app_id is the menu entry's name {entries}", ids and set(ids) == set(entries), ids)
    return window


def title_bar(game, window, shot, active):
    group("the title bar: the title and a close button, nothing else")
    names = [p.get_name() for p in atspi.descendants(*game.others)
             if p.get_role() == atspi.Atspi.Role.PUSH_BUTTON]
    if not check("one button besides the client area, 'Затвори'", names == [CLOSE], names):
        return
    cx, cy, cw, ch = game.window_extents(game.client)
    bar = (cx, cx, cw, cy - cx)  # above the client area, within the edge
    check("the client area whole in the window, an even edge round it, the bar above it",
          window is not None and (cw, ch) == CLIENT_PIXELS and cy > 20
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


def compositor_gone(session):
    group("the compositor goes away under the game")
    with WaylandGame(session, "orphaned") as game:
        game.processes.stop(game.weston.process)
        status = game.ended(10)
        check(f"the game ends by itself, not by a signal (status {status})",
              status is not None and status >= 0, status)


def moved_and_resized(game):
    group("moving and resizing with the pointer")
    before = game.bounds
    drag(game, game.on_output((60, 12)), (8, 5), "1")  # the bar, left of the title
    moved = wait_for(lambda: (lambda b: b if b[:2] != before[:2] else None)(
        client_area(game.find_on_screen())), 3, 0.2)
    check("dragging the bar moves the window by the pointer's way",
          moved and (moved[0] - before[0], moved[1] - before[1]) == (80, 50) and
          moved[2:] == CLIENT_PIXELS, (before, moved))
    game.find_on_screen()
    # Weston resizes a window with the right button while the Super key is held.
    drag(game, game.on_output((400, 300)), (12, 9), "3", "super")
    time.sleep(0.5)
    after = client_area(game.find_on_screen())
    offered = [c for c in protocol(game.log, CONFIGURE) if c != (0, 0)]
    buffers = drawn(game.log)
    check("Weston offers other sizes while Super and the right button drag", offered, offered)
    check("... and the game keeps its size", after and after[2:] == CLIENT_PIXELS
          and len(buffers) == 1, (after, buffers))


def drag(game, start, step, button, *held):
    """The pointer pressed at start and moved ten steps, the keys held meanwhile."""
    x, y = start
    game.xdotool(*game.pointer_to(x, y), *[a for key in held for a in ("keydown", key)],
                 "mousedown", button)
    for n in range(1, 11):
        game.xdotool("mousemove", "--sync", str(x + step[0] * n), str(y + step[1] * n))
        time.sleep(0.02)
    game.xdotool("mouseup", button, *[a for key in held for a in ("keyup", key)])
