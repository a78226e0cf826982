"""The X11 back end: the built game on an Xvfb and a D-Bus session of its own. Real clicks and
keys go in through xdotool, pixels come back from screenshots of the window (ImageMagick), names,
texts and states through AT-SPI, and the window's settings from the X server. The window
manager's part (its close request) is played by sending what it would send."""

import contextlib
import os
import re
import subprocess

import atspi
from atspi import AtspiGame
from design import (CLIENT_PIXELS, COVER, ERROR_TITLE, LETTER, LETTER_BOX, MESSAGE_BOX, SHOW,
                    TITLE, TITLE_LABEL, rect)
from harness import (Processes, check, group, private_runtime, start_bus, start_xvfb,
                     wait_for)


def property_of(display, window, name):
    found = window.get_full_property(display.intern_atom(name), 0)
    return found.value if found else None


def close_window(display, window):
    """As a window manager closes a window: WM_DELETE_WINDOW, not a signal. The round trip makes
    sure the request has reached the server."""
    from Xlib import X
    from Xlib.protocol import event
    message = event.ClientMessage(
        window=window, client_type=display.intern_atom("WM_PROTOCOLS"),
        data=(32, [display.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
    window.send_event(message, event_mask=X.NoEventMask)
    display.sync()


def top_windows(display, pid=None, title=None):
    """The top-level windows, of a process and with a title where given."""
    found = []
    for window in display.screen().root.query_tree().children:
        owner = property_of(display, window, "_NET_WM_PID")
        name = property_of(display, window, "_NET_WM_NAME")
        if (pid is None or owner and owner[0] == pid) and name and (
                title is None or re.fullmatch(title, name.decode())):
            found.append(window)
    return found


class Session:
    """The suite's X server and session bus, and the environment a game starts in."""

    def __init__(self, game, out):
        self.game, self.out = game, out
        self.processes = Processes()
        self.env = dict(os.environ)
        for name in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QT_SCALE_FACTOR",
                     "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR",
                     "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"):
            self.env.pop(name, None)
        self.own_runtime = private_runtime(self.env)
        self.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        self.first_letters = []  # the letter each start hid first

    def start(self):
        from Xlib import display
        self.env["DISPLAY"] = start_xvfb(self.processes)
        self.display = wait_for(lambda: display.Display(self.env["DISPLAY"]), 10)
        address = start_bus(self.processes, self.env)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        os.environ.update(DBUS_SESSION_BUS_ADDRESS=address, DISPLAY=self.env["DISPLAY"])
        atspi.connect()

    def end(self):
        self.processes.stop_all()
        if self.own_runtime:
            import shutil
            shutil.rmtree(self.own_runtime, ignore_errors=True)


class X11Game(AtspiGame):
    def __init__(self, session, name, arguments=(), reader=True, **env):
        super().__init__(session.out, "desktop", name)
        self.session, self.processes, self.reads = session, session.processes, reader
        with open(self.log, "w") as log:
            self.process = self.processes.start([session.game, *arguments],
                                                env=dict(session.env, **env), stdout=log,
                                                stderr=subprocess.STDOUT)
        found = wait_for(lambda: top_windows(session.display, self.process.pid), 15)
        if not found:
            raise RuntimeError(f"{name}: no window; see {self.log}")
        self.window, self.window_id, self.env = found[0], found[0].id, session.env
        self.geometry = wait_for(self.mapped_geometry, 5)
        if reader:
            self.collect()
            session.first_letters.append(self.text(LETTER))

    def mapped_geometry(self):
        from Xlib import X
        if self.window.get_attributes().map_state != X.IsViewable:
            return None
        g = self.window.get_geometry()
        return (g.x, g.y, g.width, g.height)

    def activate(self):
        # No window manager here gives the focus: the suite gives it, as a click would.
        self.xdotool("windowfocus", "--sync", str(self.window.id))

    def error_box_window(self):
        boxes = top_windows(self.session.display, self.process.pid, ERROR_TITLE)
        return boxes[0] if boxes else None

    def error_box(self):
        box = self.error_box_window()
        return box if box and box.get_attributes().map_state else None

    def close(self, window=None):
        close_window(self.session.display, window or self.window)


@contextlib.contextmanager
def started(session, name, arguments=(), **env):
    """A game of its own for a few checks, closed at the end as a window manager closes it."""
    game = X11Game(session, name, arguments, **env)
    try:
        yield game
        game.close()
        check("closes with status 0", game.ended(5) == 0)
    finally:
        game.stop()


# ---- The window's settings, as the X server holds them (the game's own, and Wine's) --------------


def window_hints(display, window, size, frame):
    hints = window.get_wm_normal_hints()
    check("a size that cannot change (minimum = maximum = client)",
          (hints.min_width, hints.min_height, hints.max_width, hints.max_height) == size * 2,
          (hints.min_width, hints.min_height, hints.max_width, hints.max_height))
    motif = property_of(display, window, "_MOTIF_WM_HINTS")
    flags, functions, decorations = list(motif[:3]) if motif else (0, 0, 0)
    resize, minimize, maximize, close = 0x02, 0x08, 0x10, 0x20
    if frame:  # Windows' own resizing frame, as Wine tells it
        check("no resizing frame: neither the function nor the border",
              flags & 3 == 3 and not functions & resize and not decorations & 0x04,
              motif and list(motif))
    check("no minimize or maximize, neither box nor function",
          flags & 3 == 3 and not functions & (minimize | maximize)
          and not decorations & (0x20 | 0x40), motif and list(motif))
    check("a title bar with the system menu and the close box",
          functions & close and decorations & 0x08 and decorations & 0x10)


# ---- The checks only X11 has ---------------------------------------------------------------------


def without_a_display(session):
    group("without a display")
    for display in ("", ":9999"):
        env = dict(session.env, DISPLAY=display)
        run = subprocess.run([session.game], env=env, capture_output=True, text=True, timeout=20)
        lines = (run.stdout + run.stderr).splitlines()
        check(f"DISPLAY='{display}': status 1 (was {run.returncode})", run.returncode == 1)
        check(f"DISPLAY='{display}': one line 'migliar: ...'",
              len(lines) == 1 and lines[0].startswith("migliar: "), lines)


def the_window(game):
    group("the window")
    display = game.session.display
    screen = display.screen()
    x, y, w, h = game.geometry
    check("client area 7485 x 6360 twips = 499 x 424 pixels", (w, h) == CLIENT_PIXELS, (w, h))
    centre = ((screen.width_in_pixels - 1) // 2 - (w - 1) // 2,
              (screen.height_in_pixels - 1) // 2 - (h - 1) // 2)
    check("centred on the screen", (x, y) == centre, ((x, y), centre))
    window_hints(display, game.window, (w, h), frame=False)
    protocols = property_of(display, game.window, "WM_PROTOCOLS")
    check("a window manager may ask it to close (WM_DELETE_WINDOW)",
          protocols and display.intern_atom("WM_DELETE_WINDOW") in protocols)
    net_name = property_of(display, game.window, "_NET_WM_NAME")
    check("title in _NET_WM_NAME", net_name and net_name.decode() == TITLE, net_name)
    # WM_NAME may be compound text: let xprop decode it as a window manager would.
    legacy = subprocess.run(["xprop", "-id", str(game.window.id), "WM_NAME"], capture_output=True,
                            text=True, env=dict(game.session.env, LC_ALL="C.UTF-8")).stdout
    check("title in WM_NAME, whole under a bare C locale", f'"{TITLE}"' in legacy, legacy.strip())
    values = list(property_of(display, game.window, "_NET_WM_ICON") or [])
    sizes = []
    while len(values) >= 2:
        sizes.append((values[0], values[1]))
        values = values[2 + values[0] * values[1]:]
    check("the icon is set, 32 x 32", (32, 32) in sizes, sizes)


def arguments(session, small):
    group("the game takes no command line")
    sheet = os.path.join(session.out, "desktop-sheet.qss")
    with open(sheet, "w") as style:
        style.write("* { background: black; color: white; }")
    given = ["-reverse", "-stylesheet", sheet, "-style", "Windows", "-platform", "offscreen",
             "--help", "файл.txt"]
    with started(session, "arguments", given) as game:
        shot = game.shot("start")
        # Everything but the message box, whose text cursor blinks.
        message = rect(MESSAGE_BOX)
        differ = [p for p in small.points((0, 0, small.width, small.height))
                  if shot.at(*p) != small.at(*p) and not (
                      message[0] <= p[0] < message[0] + message[2] and message[1] <= p[1])]
        check(f"with {' '.join(given[:-1])} ... the window is the same to the pixel",
              (shot.width, shot.height) == (small.width, small.height) and not differ,
              differ[:5])


def scaled(session, small):
    group("at QT_SCALE_FACTOR=2")
    with started(session, "scale2", QT_SCALE_FACTOR="2") as game:
        check("twice the pixels: 998 x 848", game.geometry[2:] == (998, 848), game.geometry)
        shot = game.shot("start")
        box = shot.colours(rect(LETTER_BOX, 2))
        check("the cover hides the whole letter box, no seam", list(box) == [COVER],
              box.most_common(3))
        # Text drawn for the bigger pixels, not doubled: a doubled picture is made of 2 x 2 blocks
        # of one colour, each the colour of the small picture's pixel.
        for what, region in (("the title", rect(TITLE_LABEL)), ("'Покажи'", rect(SHOW))):
            x, y, w, h = region
            mixed = unlike = 0
            for j in range(y, y + h):
                for i in range(x, x + w):
                    block = {shot.at(2 * i + a, 2 * j + b) for a in (0, 1) for b in (0, 1)}
                    mixed += len(block) > 1
                    unlike += block != {small.at(i, j)}
            ink = shot.dark((2 * x, 2 * y, 2 * w, 2 * h)), small.dark(region)
            check(f"{what} is crisp: {mixed} of its 2 x 2 blocks are not one colour",
                  mixed > 40 and unlike > 40 and ink[0] > 2 * ink[1] > 0, (mixed, unlike, ink))

