"""The X11 back end: the game on an Xvfb and a D-Bus session of its own; xdotool's clicks and
keys in, pixels and the window's settings from the X server, the rest through AT-SPI. The suite
plays the window manager's part (closing, minimizing, restoring)."""

import contextlib
import os
import re
import shutil
import subprocess
import time

import atspi
from atspi import AtspiGame
from design import (CLIENT_PIXELS, COVER, ERROR_TITLE, LETTER, LETTER_BOX, MESSAGE_BOX, SHOW,
                    TITLE, TITLE_LABEL, letter_rect, option_rect, rect)
from game import Game
from harness import Processes, check, group, private_runtime, start_bus, start_xvfb, wait_for

GAME_TITLE, BOX_TITLE = re.escape(TITLE), re.escape(ERROR_TITLE)


def property_of(display, window, name):
    found = window.get_full_property(display.intern_atom(name), 0)
    return found.value if found else None


def viewable(window):
    from Xlib import X
    return window.get_attributes().map_state == X.IsViewable


class XServer:
    """An Xvfb of the suite's own, every process the suite starts, and an XDG_RUNTIME_DIR."""

    def __init__(self, out, env):
        self.out, self.env, self.processes = out, env, Processes()
        self.own_runtime = private_runtime(env)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.end()

    def start(self):
        from Xlib import display
        self.env["DISPLAY"] = start_xvfb(self.processes)
        self.display = wait_for(lambda: display.Display(self.env["DISPLAY"]), 10)

    def windows(self, pid=None, title=None):
        """The titled top-level windows, bottom to top, of a process, with a title matching."""
        from Xlib.error import BadWindow
        found = []
        for window in self.display.screen().root.query_tree().children:
            with contextlib.suppress(BadWindow):  # gone meanwhile
                owner = property_of(self.display, window, "_NET_WM_PID")
                name = property_of(self.display, window, "_NET_WM_NAME")
                if (pid is None or owner and owner[0] == pid) and name and (
                        title is None or re.fullmatch(title, name.decode())):
                    found.append(window)
        return found

    def end(self):
        self.processes.stop_all()
        if self.own_runtime:
            shutil.rmtree(self.own_runtime, ignore_errors=True)


class Session(XServer):
    """The suite's X server and session bus, and the environment a game starts in."""

    def __init__(self, game, out, prefix="desktop", wrapper=()):
        super().__init__(out, {k: v for k, v in os.environ.items() if k not in (
            "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
            "QT_AUTO_SCREEN_SCALE_FACTOR", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS")})
        # The artefacts' names start with the prefix; the game runs under the wrapper.
        self.game, self.prefix, self.wrapper = game, prefix, list(wrapper)
        self.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        self.first_letters = []  # the letter each start hid first

    def start(self):
        super().start()
        # A panel along the top and a dock at the left, as a desktop tells them: the window goes
        # in the middle of what they leave free.
        from Xlib import Xatom
        self.display.screen().root.change_property(self.display.intern_atom("_NET_WORKAREA"),
                                                   Xatom.CARDINAL, 32, [64, 32, 1216, 992])
        self.display.sync()
        address = start_bus(self.processes, self.env)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        os.environ.update(DBUS_SESSION_BUS_ADDRESS=address, DISPLAY=self.env["DISPLAY"])
        atspi.connect()


class XWindowGame(Game):
    """A game whose windows are X windows on the suite's Xvfb: the game's own, or Wine's."""

    closes_box = minimizes = places = True
    owns_windows = True  # the X server knows the started process as the windows' owner
    iconifies_box = True  # a window manager minimizes a transient box with its window

    def __init__(self, server, prefix, name, argv, timeout, group=False, **env):
        """The game started, and its window found."""
        super().__init__(server.out, prefix, name)
        self.server, self.processes = server, server.processes
        self.process = self.processes.start(argv, group, env=dict(server.env, **env), log=self.log)
        self.pid = self.process.pid if self.owns_windows else None
        found = wait_for(lambda: [w for w in self.server.windows(self.pid, GAME_TITLE)
                                  if viewable(w)], timeout)
        if not found:
            raise RuntimeError(f"{self.name}: no window; see {self.log}")
        self.window, self.window_id = found[0], found[0].id
        self.display, self.env = self.server.display, self.server.env

    def geometry(self, window=None):
        g = (window or self.window).get_geometry()
        return (g.x, g.y, g.width, g.height)

    def shown(self):
        """The game's windows that show, bottom to top: (title, geometry)."""
        return [(property_of(self.display, w, "_NET_WM_NAME").decode(), self.geometry(w))
                for w in self.server.windows(self.pid) if viewable(w)]

    def client_size(self):
        return self.geometry()[2:]

    def work_area(self):
        """What the desktop's panels leave free of the screen: x, y, width, height."""
        screen = self.display.screen()
        return tuple(property_of(self.display, screen.root, "_NET_WORKAREA") or (
            0, 0, screen.width_in_pixels, screen.height_in_pixels))[:4]

    def error_box_window(self):
        boxes = self.server.windows(self.pid, BOX_TITLE)
        return boxes[0] if boxes else None

    def error_box(self):
        box = self.error_box_window()
        return box if box and viewable(box) else None

    def protocol(self, window, name, *data):
        """A window manager's message to a window (WM_PROTOCOLS); the round trip makes sure it
        has reached the server."""
        from Xlib import X
        from Xlib.protocol import event
        atom = self.display.intern_atom
        words = [atom(name), *data, 0, 0, 0][:5]
        window.send_event(event.ClientMessage(window=window, client_type=atom("WM_PROTOCOLS"),
                                              data=(32, words)), event_mask=X.NoEventMask)
        self.display.sync()

    def close(self, window=None):
        """As a window manager closes a window: WM_DELETE_WINDOW, not a signal."""
        from Xlib import X
        self.protocol(window or self.window, "WM_DELETE_WINDOW", X.CurrentTime)

    def close_box(self):
        self.close(self.error_box_window())

    def wm_state(self, window, state):
        atom = self.display.intern_atom("WM_STATE")
        window.change_property(atom, atom, 32, [state, 0])

    def minimize(self):
        """As a window manager minimizes the window and its box: marked iconic, unmapped. True
        once the game has taken it in (a restore sooner than a person's could come before the
        game has read the window's state, and then undo it unseen)."""
        for window in [self.window] + [self.error_box_window()] * self.iconifies_box:
            self.wm_state(window, 3)
            window.unmap()
        self.display.sync()
        return self.pinged()

    def pinged(self, timeout=5):
        """A window manager's ping (_NET_WM_PING) answered: the game has handled every X event
        that came before it."""
        from Xlib import X
        root, atom = self.display.screen().root, self.display.intern_atom
        # The answer goes to the root: Qt's as a structure event, Wine's as a substructure one.
        root.change_attributes(event_mask=X.StructureNotifyMask | X.SubstructureNotifyMask)
        stamp = int(time.monotonic() * 1000) & 0xFFFFFFFF
        self.protocol(self.window, "_NET_WM_PING", stamp, self.window_id)

        def answered():
            self.display.sync()  # a round trip: what the server has for us is read
            while self.display.pending_events():
                got = self.display.next_event()
                if got.type == X.ClientMessage and got.window == root and \
                        list(got.data[1][:2]) == [atom("_NET_WM_PING"), stamp]:
                    return True
            return False
        try:
            return wait_for(answered, timeout, 0.01)
        finally:
            root.change_attributes(event_mask=X.NoEventMask)
            self.display.sync()

    def restore(self):
        """As a window manager restores the window alone: mapped, marked normal and given the
        keyboard, with the time of the change as of the pupil's click; the box is the game's."""
        from Xlib import X
        self.window.map()
        self.window.change_attributes(event_mask=X.PropertyChangeMask)
        self.wm_state(self.window, 1)
        self.display.sync()
        changed = X.CurrentTime
        while self.display.pending_events():
            event = self.display.next_event()
            if event.type == X.PropertyNotify and event.window == self.window:
                changed = event.time
        self.window.set_input_focus(X.RevertToParent, changed)
        box = wait_for(self.error_box, 5)
        if box:
            self.wm_state(box, 1)
        self.display.sync()

    def activate(self):
        # No window manager here gives the focus: the suite gives it, as a click would.
        self.xdotool("windowfocus", "--sync", str(self.window_id))


class X11Game(XWindowGame, AtspiGame):
    quiet = True

    def __init__(self, session, name, arguments=(), reader=True, **env):
        argv = [*session.wrapper, session.game, *arguments]
        super().__init__(session, session.prefix, name, argv, 120 if session.wrapper else 15, **env)
        self.reads = reader
        if reader:
            self.collect()
            session.first_letters.append(self.text(LETTER))


@contextlib.contextmanager
def started(session, name, arguments=(), **env):
    """A game of its own for a few checks, closed at the end as a window manager closes it."""
    with X11Game(session, name, arguments, **env) as game:
        yield game
        game.close()
        check("closes with status 0", game.ended(5) == 0)


# ---- The window's settings, as the X server holds them (the game's own, and Wine's) --------------


def window_hints(display, window, size, frame):
    h = window.get_wm_normal_hints()
    limits = (h.min_width, h.min_height, h.max_width, h.max_height)
    check("a size that cannot change (minimum = maximum = client)", limits == size * 2, limits)
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
        run = subprocess.run([session.game], env=dict(session.env, DISPLAY=display),
                             capture_output=True, text=True, timeout=20)
        lines = (run.stdout + run.stderr).splitlines()
        check(f"DISPLAY='{display}': status 1 (was {run.returncode})", run.returncode == 1)
        check(f"DISPLAY='{display}': one line 'migliar: ...'",
              len(lines) == 1 and lines[0].startswith("migliar: "), lines)


def the_window(game):
    group("the window")
    display = game.display
    window_hints(display, game.window, CLIENT_PIXELS, frame=False)
    protocols = property_of(display, game.window, "WM_PROTOCOLS")
    check("a window manager may ask it to close (WM_DELETE_WINDOW)",
          protocols and display.intern_atom("WM_DELETE_WINDOW") in protocols)
    # WM_NAME may be compound text: let xprop decode it as a window manager would.
    legacy = subprocess.run(["xprop", "-id", str(game.window.id), "WM_NAME"], capture_output=True,
                            text=True, env=dict(game.env, LC_ALL="C.UTF-8")).stdout
    check("title in WM_NAME, whole under a bare C locale", f'"{TITLE}"' in legacy, legacy.strip())
    values = list(property_of(display, game.window, "_NET_WM_ICON") or [])
    sizes = []
    while len(values) >= 2:
        sizes.append((values[0], values[1]))
        values = values[2 + values[0] * values[1]:]
    check("the icon is set, 32 x 32", (32, 32) in sizes, sizes)
    # The desktop ties the window to its menu entry by its class.
    entry = os.path.join(os.path.dirname(__file__), "..", "..", "packaging",
                         "example.migliar.Migliar.desktop")
    wanted = re.search(r"^StartupWMClass=(.*)$", open(entry).read(), re.M).group(1)
    classes = (property_of(display, game.window, "WM_CLASS") or b"").decode().split("\0")
    check(f"its window class is the menu entry's StartupWMClass '{wanted}'",
          wanted in classes[1:2], classes)


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
        check("twice the pixels: 998 x 848", game.geometry()[2:] == (998, 848), game.geometry())
        shot = game.shot("start")
        box = shot.colours(rect(LETTER_BOX, 2))
        check("the cover hides the whole letter box, no seam", list(box) == [COVER],
              box.most_common(3))
        # Text drawn for the bigger pixels, not doubled: a doubled picture is made of 2 x 2 blocks
        # of one colour, each the colour of the small picture's pixel.
        for what, region in (("the title", rect(TITLE_LABEL)), ("'Покажи'", rect(SHOW))):
            blocks = [({shot.at(2 * i + a, 2 * j + b) for a in (0, 1) for b in (0, 1)},
                       small.at(i, j)) for i, j in small.points(region)]
            mixed = sum(len(block) > 1 for block, _ in blocks)
            unlike = sum(block != {pixel} for block, pixel in blocks)
            ink = shot.dark(tuple(2 * n for n in region)), small.dark(region)
            check(f"{what} is crisp: {mixed} of its 2 x 2 blocks are not one colour",
                  mixed > 40 and unlike > 40 and ink[0] > 2 * ink[1] > 0, (mixed, unlike, ink))



def under_memcheck(session, log):
    group("a game under valgrind's memcheck, closed over the error box")
    with X11Game(session, "game", reader=False) as game:
        game.pause = 0.3  # the game runs many times slower
        game.click(option_rect(0))
        game.press("Покажи")
        time.sleep(1.5)
        game.click(letter_rect(1))  # a guess, right or wrong
        game.press("Чисти")
        check("a mode, 'Покажи', a guess, 'Чисти'; then the error box shows",
              game.raise_error() and game.process.poll() is None)
        game.close_box()
        check("the box closed, the game goes on; the box shows again",
              wait_for(lambda: not game.error_box(), 20) and game.press("Чисти") is None
              and game.raise_error())
        time.sleep(0.5)
        game.close()
        status = game.ended(120)
        check(f"the game ends with status 0 (memcheck's for an error is 99): {status}",
              status == 0, status)
        check("it writes nothing", status is not None and not game.written(), game.written()[:300])
    said = open(log, errors="replace").read()
    summary = list(dict.fromkeys(re.findall(r"(definitely lost: .*|ERROR SUMMARY: (\d+) .*)",
                                            said)))[-2:]
    if not check(f"memcheck: no error, no definite leak ({'; '.join(s for s, _ in summary)})",
                 summary and summary[-1][1] == "0"):
        print(said)  # the stacks, in the suite's output, where CI keeps them
