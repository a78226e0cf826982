#!/usr/bin/python3
"""The built game from outside, on an X server of its own, as a pupil and a screen reader meet it.

Real clicks and keys go in through xdotool. Pixels come back from screenshots of the window
(ImageMagick), names, texts and states through AT-SPI, and the window's settings from the X
server. The game is a separate process that this suite only starts, watches and closes.

Usage: desktop_test.py MIGLIAR_EXECUTABLE ARTEFACT_FOLDER
"""

import ctypes
import glob
import math
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from collections import Counter

GAME = os.path.abspath(sys.argv[1])
OUT = os.path.abspath(sys.argv[2])
TITLE = "www.migliar.example ИТ - показване части на буква"
LETTERS = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭ"
PROMPT = "Избирайте разумно бързо!"

# ---- What the window should be, in twips (left, top, width, height) ------------------------------

CLIENT = (7485, 6360)
LETTER_BOX = (480, 1320, 1000, 1000)
TITLE_LABEL = (1440, 0, 4575, 375)
RIGHT_LABEL = (5640, 1200, 855, 375)
WRONG_LABEL = (5640, 2160, 855, 375)
SHOW = (3000, 2880, 1095, 375)
CLEAR = (6120, 2880, 1095, 375)
FRAME = (3000, 840, 2175, 1935)
TEMPLATE = (120, 3000, 405, 405)
MODES = ["Горе-Ляво", "Горе-Дясно", "Долу-Ляво", "Долу-Дясно", "Случайно"]
# Which way each fixed mode slides the cover: right (+1) or left, down (+1) or up.
SLIDES = [(+1, +1), (-1, +1), (+1, -1), (-1, -1)]

BACKGROUND = (192, 192, 255)  # the window, the frame and the cover
COVER = BACKGROUND
ORANGE = (255, 192, 128)  # the title and the tally labels
GREEN = (128, 255, 128)  # "Покажи"
RED = (255, 0, 0)  # "Чисти"
BLUE = (128, 128, 255)  # the options
YELLOW = (255, 255, 0)  # the letter labels

# What a screen reader calls each control; labels, buttons, the frame and the options say their
# captions.
MESSAGE, QUOTE, LETTER, COVER_NAME = "Съобщение", "Цитат", "Буква", "Покривало на буквата"
RIGHT_TALLY, WRONG_TALLY = "Брой верни отговори", "Брой грешни отговори"
FOCUS_ORDER = [MESSAGE, LETTER, COVER_NAME, "Покажи", "Чисти", *MODES, RIGHT_TALLY, WRONG_TALLY]


def pixel(twips):
    """Twips to pixels at 96 DPI: 15 a pixel, each edge rounded on its own."""
    return math.floor(twips / 15 + 0.5)


def rect(twips, scale=1):
    """A twip rectangle as pixels (x, y, width, height)."""
    left, top, width, height = twips
    x, y = pixel(left), pixel(top)
    width, height = pixel(left + width) - x, pixel(top + height) - y
    return (x * scale, y * scale, width * scale, height * scale)


def option_rect(mode):
    """The options lie in the frame, so their pixels add to the frame's."""
    fx, fy, _, _ = rect(FRAME)
    x, y, w, h = rect((240, 300 + 300 * mode, 1695, 300))
    return (fx + x, fy + y, w, h)


def letter_rect(k):
    """Letter label k (1 to 30): two rows of 15, one step of 455 twips from the template on."""
    row, column = divmod(k - 1, 15)
    return rect((120 + 455 * (column + 1), 3000 + 455 * (row + 1), 405, 405))


def cover_rect(mode, step):
    across, down = SLIDES[mode]
    return rect((480 + across * 10 * step, 1320 + down * 10 * step, 1000, 1000))


def overlap(a, b):
    x0, y0 = max(a[0], b[0]), max(a[1], b[1])
    x1, y1 = min(a[0] + a[2], b[0] + b[2]), min(a[1] + a[3], b[1] + b[3])
    return (x0, y0, max(0, x1 - x0), max(0, y1 - y0))


# ---- Checks --------------------------------------------------------------------------------------

passed = failed = 0


def group(title):
    print(f"\n== {title}", flush=True)


def check(description, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print(f"ok   {description}", flush=True)
    else:
        failed += 1
        print(f"FAIL {description}" + (f": {detail}" if detail != "" else ""), flush=True)
    return ok


def wait_for(probe, timeout, interval=0.05):
    """Polls until probe() gives something true; returns the last thing it gave."""
    end = time.monotonic() + timeout
    while True:
        try:
            value = probe()
        except Exception:  # the other side is not there yet
            value = None
        if value or time.monotonic() > end:
            return value
        time.sleep(interval)


# ---- Processes: every one we start is ours to end ------------------------------------------------

libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG, PR_SET_CHILD_SUBREAPER = 1, 36


def die_with_us():
    # Even if this suite is killed outright, what it started goes too.
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


class Processes:
    def __init__(self):
        self.started = []
        # Whatever our children start and leave behind comes back to us, not to init.
        libc.prctl(PR_SET_CHILD_SUBREAPER, 1)

    def start(self, argv, group=False, **options):
        process = subprocess.Popen(argv, preexec_fn=die_with_us, start_new_session=group,
                                   stdin=subprocess.DEVNULL, **options)
        process.leads_group = group
        self.started.append(process)
        return process

    def stop(self, process):
        group = process.leads_group
        if process.poll() is None:
            try:
                if group:
                    os.killpg(process.pid, signal.SIGTERM)
                else:
                    process.terminate()
                process.wait(3)
            except (subprocess.TimeoutExpired, ProcessLookupError):
                process.kill()
                process.wait()
        elif group:  # the leader is gone; what it spawned may still be there
            try:
                os.killpg(process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass

    def stop_all(self):
        for process in reversed(self.started):
            self.stop(process)
        # Services the buses started on demand were reparented to us: end them by pid and reap.
        me = os.getpid()
        for pid in orphans_of(me):
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        end = time.monotonic() + 3
        while time.monotonic() < end:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                break
            if pid == 0:
                time.sleep(0.05)
        for pid in orphans_of(me):
            os.kill(pid, signal.SIGKILL)


def orphans_of(parent):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[1]) == parent and fields[0] != "Z":
                found.append(int(entry))
    return found


def read_line(fd, timeout):
    """One line from a pipe, or None when nothing comes in time."""
    data = b""
    end = time.monotonic() + timeout
    while not data.endswith(b"\n"):
        ready, _, _ = select.select([fd], [], [], max(0, end - time.monotonic()))
        if not ready:
            return None
        chunk = os.read(fd, 256)
        if not chunk:
            break
        data += chunk
    return data.decode().strip() or None


# ---- Screenshots ---------------------------------------------------------------------------------


class Shot:
    """A screenshot of the window, kept as a PNG in the artefact folder."""

    def __init__(self, window_id, name, env=None, prefix="desktop"):
        self.path = os.path.join(OUT, f"{prefix}-{name}.png")
        subprocess.run(["import", "-silent", "-window", str(window_id), self.path], env=env,
                       check=True)
        size = subprocess.run(["identify", "-format", "%w %h", self.path], check=True,
                              capture_output=True, text=True).stdout.split()
        self.width, self.height = int(size[0]), int(size[1])
        self.data = subprocess.run(["convert", self.path, "-depth", "8", "rgb:-"], check=True,
                                   capture_output=True).stdout

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i:i + 3])

    def points(self, region):
        x, y, w, h = region
        for j in range(max(0, y), min(self.height, y + h)):
            for i in range(max(0, x), min(self.width, x + w)):
                yield i, j

    def colours(self, region):
        return Counter(self.at(i, j) for i, j in self.points(region))

    def dark(self, region):
        return sum(1 for i, j in self.points(region) if sum(self.at(i, j)) < 200)


def letter_box_points():
    """The letter box's pixels but its four corners, which its rounded frame leaves to the
    window's colour."""
    x, y, w, h = rect(LETTER_BOX)
    corners = {(x, y), (x + w - 1, y), (x, y + h - 1), (x + w - 1, y + h - 1)}
    return [(i, j) for j in range(y, y + h) for i in range(x, x + w) if (i, j) not in corners]


def covered_step(shot, mode):
    """The steps n whose cover, slid n steps the mode's way, hides exactly what the shot shows
    hidden of the letter box."""
    hidden = {p for p in letter_box_points() if shot.at(*p) == COVER}
    steps = []
    for n in range(0, 101):
        x, y, w, h = cover_rect(mode, n)
        if hidden == {(i, j) for i, j in letter_box_points() if x <= i < x + w and y <= j < y + h}:
            steps.append(n)
    return steps


def slid_steps(game, mode, what):
    """The steps the cover shows in a fresh shot. A shot can catch the game halfway through
    redrawing a move; then another is taken."""
    for _ in range(3):
        steps = covered_step(game.shot(what), mode)
        if steps:
            break
    return steps


# ---- The game as a separate process --------------------------------------------------------------


class Game:
    def __init__(self, suite, name, arguments=(), **env):
        self.suite, self.name = suite, name
        self.log = os.path.join(OUT, f"desktop-{name}.log")
        with open(self.log, "w") as log:
            self.process = suite.processes.start([GAME, *arguments], env=dict(suite.env, **env),
                                                 stdout=log,
                                                 stderr=subprocess.STDOUT)
        self.window = wait_for(self.find_window, 15)
        if not self.window:
            raise RuntimeError(f"{name}: no window; see {self.log}")
        self.geometry = wait_for(self.mapped_geometry, 5)
        self.app = wait_for(self.find_application, 15)
        if not self.app:
            raise RuntimeError(f"{name}: not on the accessibility bus")
        self.collect()
        self.shots = 0
        suite.first_letters.append(self.text(LETTER))

    def find_window(self):
        display = self.suite.display
        for window in display.screen().root.query_tree().children:
            pid = window.get_full_property(display.intern_atom("_NET_WM_PID"), 0)
            name = window.get_full_property(display.intern_atom("_NET_WM_NAME"), 0)
            if pid and pid.value[0] == self.process.pid and name and name.value:
                return window
        return None

    def mapped_geometry(self):
        from Xlib import X
        if self.window.get_attributes().map_state != X.IsViewable:
            return None
        g = self.window.get_geometry()
        return (g.x, g.y, g.width, g.height)

    def find_application(self):
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app and app.get_process_id() == self.process.pid and app.get_child_count():
                window = app.get_child_at_index(0)
                if window.get_child_count() > 30:  # the letter board is there
                    return app
        return None

    def collect(self):
        """Every control the window shows a screen reader, by name; letters by letter."""
        self.top = self.app.get_child_at_index(0)
        self.controls, self.letters, self.all = {}, {}, []
        frames = [self.top]
        while frames:
            parent = frames.pop()
            for i in range(parent.get_child_count()):
                child = parent.get_child_at_index(i)
                self.all.append(child)
                name = child.get_name()
                if child.get_role() == Atspi.Role.PANEL:
                    frames.append(child)  # the options live in the frame
                if child.get_role() == Atspi.Role.LABEL and len(name) == 1:
                    if self.has(child, "showing"):
                        self.letters[name] = child
                    continue
                self.controls.setdefault(name, child)

    @staticmethod
    def has(accessible, state):
        return accessible.get_state_set().contains(getattr(Atspi.StateType, state.upper()))

    def state(self, name, state):
        return self.has(self.controls[name], state)

    def text(self, name):
        accessible = self.controls[name]
        return Atspi.Text.get_text(accessible, 0, Atspi.Text.get_character_count(accessible))

    def extents(self, accessible):
        """Where the toolkit says a control is, in window pixels."""
        e = Atspi.Component.get_extents(accessible, Atspi.CoordType.SCREEN)
        return (e.x - self.geometry[0], e.y - self.geometry[1], e.width, e.height)

    def focused(self):
        for name in FOCUS_ORDER:
            if self.state(name, "focused"):
                return name
        return None

    def click(self, region):
        x, y, w, h = region
        subprocess.run(["xdotool", "mousemove", "--sync", str(self.geometry[0] + x + w // 2),
                        str(self.geometry[1] + y + h // 2), "click", "1"], env=self.suite.env,
                       check=True)
        time.sleep(0.08)  # the game handles it

    def key(self, name):
        subprocess.run(["xdotool", "key", name], env=self.suite.env, check=True)

    def shot(self, what):
        self.shots += 1
        return Shot(self.window.id, f"{self.name}-{self.shots:02}-{what}")

    def close(self):
        """As a window manager closes a window: WM_DELETE_WINDOW, not a signal."""
        from Xlib import X
        from Xlib.protocol import event
        display = self.suite.display
        message = event.ClientMessage(
            window=self.window, client_type=display.intern_atom("WM_PROTOCOLS"),
            data=(32, [display.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        self.window.send_event(message, event_mask=X.NoEventMask)
        display.flush()

    def ended(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None


# ---- The suite -----------------------------------------------------------------------------------


class Suite:
    def __init__(self):
        self.processes = Processes()
        self.env = dict(os.environ)
        for name in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QT_SCALE_FACTOR",
                     "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR",
                     "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"):
            self.env.pop(name, None)
        runtime = self.env.get("XDG_RUNTIME_DIR")
        self.own_runtime = None
        if not runtime or not os.path.isdir(runtime):
            runtime = self.own_runtime = tempfile.mkdtemp(prefix="migliar-runtime-")
        os.chmod(runtime, 0o700)
        self.env["XDG_RUNTIME_DIR"] = runtime
        self.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        self.first_letters = []  # the letter each start hid first

    def start_x(self):
        # 96 DPI and room for the window at twice its size; Xvfb picks a free display itself.
        read, write = os.pipe()
        self.processes.start(["Xvfb", "-displayfd", str(write), "-noreset", "-nolisten", "tcp",
                              "-screen", "0", "1280x1024x24", "-dpi", "96"], pass_fds=(write,),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = read_line(read, 15)
        os.close(read)
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = f":{number}"
        from Xlib import display
        self.display = wait_for(lambda: display.Display(self.env["DISPLAY"]), 10)

    def start_bus(self):
        # A session bus of our own, in a process group of its own with what it starts on demand
        # (the accessibility bus and its registry).
        read, write = os.pipe()
        self.processes.start(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                              f"--print-address={write}"], group=True, pass_fds=(write,),
                             env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        address = read_line(read, 15)
        os.close(read)
        if not address:
            raise RuntimeError("dbus-daemon did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        os.environ.update(DBUS_SESSION_BUS_ADDRESS=address, DISPLAY=self.env["DISPLAY"])
        global Atspi
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
        Atspi.set_timeout(3000, 10000)
        # Asking the desktop starts the accessibility bus before any game looks for it.
        Atspi.get_desktop(0).get_child_count()


# ---- The checks ----------------------------------------------------------------------------------


def without_a_display(suite):
    group("without a display")
    for display in ("", ":9999"):
        env = {k: v for k, v in suite.env.items() if k not in ("DISPLAY",)}
        env["DISPLAY"] = display
        run = subprocess.run([GAME], env=env, capture_output=True, text=True, timeout=20)
        lines = (run.stdout + run.stderr).splitlines()
        check(f"DISPLAY='{display}': status 1 (was {run.returncode})", run.returncode == 1)
        check(f"DISPLAY='{display}': one line 'migliar: ...'",
              len(lines) == 1 and lines[0].startswith("migliar: "), lines)


def the_window(suite, game):
    group("the window")
    display = suite.display
    screen = display.screen()
    x, y, w, h = game.geometry
    check("client area 7485 x 6360 twips = 499 x 424 pixels", (w, h) == rect((0, 0) + CLIENT)[2:],
          (w, h))
    centre = ((screen.width_in_pixels - 1) // 2 - (w - 1) // 2,
              (screen.height_in_pixels - 1) // 2 - (h - 1) // 2)
    check("centred on the screen", (x, y) == centre, ((x, y), centre))
    hints = game.window.get_wm_normal_hints()
    check("a size that cannot change (minimum = maximum = client)",
          (hints.min_width, hints.min_height, hints.max_width, hints.max_height) == (w, h, w, h),
          (hints.min_width, hints.min_height, hints.max_width, hints.max_height))
    motif = game.window.get_full_property(display.intern_atom("_MOTIF_WM_HINTS"), 0)
    flags, functions, decorations = motif.value[:3] if motif else (0, 0, 0)
    minimize, maximize, close, title, menu = 0x08, 0x10, 0x20, 0x08, 0x10
    check("no minimize or maximize, neither box nor function",
          flags & 3 == 3 and not functions & (minimize | maximize)
          and not decorations & (0x20 | 0x40), motif and list(motif.value))
    check("a title bar with the system menu and the close box",
          functions & close and decorations & title and decorations & menu)
    protocols = game.window.get_full_property(display.intern_atom("WM_PROTOCOLS"), 0)
    check("a window manager may ask it to close (WM_DELETE_WINDOW)",
          protocols and display.intern_atom("WM_DELETE_WINDOW") in protocols.value)
    net_name = game.window.get_full_property(display.intern_atom("_NET_WM_NAME"), 0)
    check("title in _NET_WM_NAME", net_name and net_name.value.decode() == TITLE,
          net_name and net_name.value)
    # WM_NAME may be compound text: let xprop decode it as a window manager would.
    legacy = subprocess.run(["xprop", "-id", str(game.window.id), "WM_NAME"], capture_output=True,
                            text=True, env=dict(suite.env, LC_ALL="C.UTF-8")).stdout
    check("title in WM_NAME, whole under a bare C locale", f'"{TITLE}"' in legacy, legacy.strip())
    icon = game.window.get_full_property(display.intern_atom("_NET_WM_ICON"), 0)
    sizes = []
    values = list(icon.value) if icon else []
    while len(values) >= 2:
        sizes.append((values[0], values[1]))
        values = values[2 + values[0] * values[1]:]
    check("the icon is set, 32 x 32", (32, 32) in sizes, sizes)


def names(game):
    group("names a screen reader hears")
    check("the window says its title", game.top.get_name() == TITLE, game.top.get_name())
    expected = {
        MESSAGE: Atspi.Role.TEXT, QUOTE: Atspi.Role.TEXT, LETTER: Atspi.Role.TEXT,
        RIGHT_TALLY: Atspi.Role.TEXT, WRONG_TALLY: Atspi.Role.TEXT, COVER_NAME: None,
        "Мигляр": Atspi.Role.LABEL, "Вярно:": Atspi.Role.LABEL, "Грешно:": Atspi.Role.LABEL,
        "Покажи": Atspi.Role.PUSH_BUTTON, "Чисти": Atspi.Role.PUSH_BUTTON,
        "Начин за показване": None, **{mode: Atspi.Role.RADIO_BUTTON for mode in MODES}}
    for name, role in expected.items():
        found = game.controls.get(name)
        check(f"'{name}'" + (f" is a {found.get_role_name()}" if found else ""),
              found is not None and (role is None or found.get_role() == role))
    check("the 30 letter labels say their letters", "".join(sorted(game.letters)) == LETTERS,
          "".join(sorted(game.letters)))
    cyrillic = re.compile("[А-Яа-я]")
    nameless = [f"{a.get_role_name()} '{a.get_name()}'" for a in game.all
                if not cyrillic.search(a.get_name())]
    check("every control has a Bulgarian name", not nameless, nameless)
    check("the quotation is hidden from the reader too",
          not game.has(game.controls[QUOTE], "showing"))
    check("the message box holds the task",
          game.text(MESSAGE).startswith("В ред житейски ситуации"), game.text(MESSAGE)[:40])
    check("the tallies are empty", game.text(RIGHT_TALLY) == game.text(WRONG_TALLY) == "")
    check("'Случайно' is selected", game.state("Случайно", "checked"))


def start_up_pixels(game):
    group("pixels at start-up")
    shot = game.shot("start")

    def mostly(region, colour, what):
        colours = shot.colours(region)
        top, count = colours.most_common(1)[0]
        check(f"{what}: {colour}", top == colour and count * 2 > sum(colours.values()),
              colours.most_common(3))

    check("the window background", shot.at(5, 60) == BACKGROUND and shot.at(490, 420) == BACKGROUND,
          (shot.at(5, 60), shot.at(490, 420)))
    mostly(rect(TITLE_LABEL), ORANGE, "the title label")
    mostly(rect(RIGHT_LABEL), ORANGE, "the label 'Вярно:'")
    mostly(rect(WRONG_LABEL), ORANGE, "the label 'Грешно:'")
    mostly(rect(SHOW), GREEN, "'Покажи'")
    mostly(rect(CLEAR), RED, "'Чисти'")
    for mode in range(5):
        mostly(option_rect(mode), BLUE, f"the option '{MODES[mode]}'")
    misplaced = []
    for k in range(1, 31):
        x, y, w, h = letter_rect(k)
        inside = shot.colours((x, y, w, h))
        corners = [shot.at(x, y), shot.at(x + w - 1, y), shot.at(x, y + h - 1),
                   shot.at(x + w - 1, y + h - 1)]
        outside = [shot.at(x - 1, y + h // 2), shot.at(x + w, y + h // 2),
                   shot.at(x + w // 2, y - 1)]
        if (corners != [YELLOW] * 4 or outside != [BACKGROUND] * 3
                or shot.dark((x, y, w, h)) < 10 or inside[YELLOW] * 2 < w * h):
            misplaced.append(LETTERS[k - 1])
    check("30 yellow letter labels, each at its place with its letter", not misplaced, misplaced)
    template = shot.colours(rect(TEMPLATE))
    check("the template's place is empty", list(template) == [BACKGROUND], template.most_common(3))
    box = shot.colours(rect(LETTER_BOX))
    check("the letter box is covered: no pixel but the cover's", list(box) == [COVER],
          box.most_common(3))
    on_box = game.extents(game.controls[COVER_NAME]) == game.extents(game.controls[LETTER])
    check("the cover lies exactly on the letter box", on_box)
    return shot


def focus(game):
    group("focus and Tab")
    subprocess.run(["xdotool", "windowfocus", "--sync", str(game.window.id)], env=game.suite.env,
                   check=True)
    first = wait_for(game.focused, 3)
    check("the first focus is the message box", first == MESSAGE, first)
    walked = []
    for _ in FOCUS_ORDER[:9]:
        before = game.focused()
        game.key("Tab")
        walked.append(wait_for(lambda: (lambda f: f if f != before else None)(game.focused()), 2))
    # The options are one stop, as a group of option buttons is: arrows move within it.
    options = [name for name in walked if name in MODES]
    expected = FOCUS_ORDER[1:5] + options[:1] + [RIGHT_TALLY, WRONG_TALLY, MESSAGE, LETTER]
    check("Tab walks the focus order round, skipping the hidden quotation, labels and the frame",
          walked == expected and len(options) == 1, walked)
    check("Tab enters the options at the selected one", options == ["Случайно"], options)
    for _ in range(4):  # back over the message box and the tallies
        game.key("shift+Tab")
    inside = wait_for(lambda: game.focused() == options[0], 2) if options else False
    game.key("Up")  # from "Случайно", the last option
    moved = wait_for(lambda: (lambda f: f if f in MODES and f != options[0] else None)(
        game.focused()), 2) if inside else None
    game.key("space")
    chosen = moved and wait_for(lambda: game.state(moved, "checked"), 2)
    check("Shift+Tab comes back to the options; an arrow key moves among them, space selects",
          inside and moved and chosen, (options, moved, chosen))
    game.key("shift+Tab")
    game.key("shift+Tab")
    check("... and Shift+Tab goes on backwards", wait_for(lambda: game.focused() == "Покажи", 2),
          game.focused())


def message_and_tallies(game):
    return game.text(MESSAGE), game.text(RIGHT_TALLY), game.text(WRONG_TALLY)


def verdict_steps(text, verdict):
    """The step count of a verdict text, or None when it is not exactly a verdict. The reader gets
    each line break as one newline."""
    found = re.fullmatch(verdict + r"\nСлед брой стъпки: (\d+)\n", text)
    return int(found.group(1)) if found else None


def play(game):
    group("clicks before 'Покажи' are ignored")
    hidden = game.text(LETTER)
    check("the letter box holds one of the 30 letters", len(hidden) == 1 and hidden in LETTERS,
          hidden)
    before = message_and_tallies(game)
    game.click(letter_rect(LETTERS.index(hidden) + 1))
    game.click(letter_rect((LETTERS.index(hidden) + 1) % 30 + 1))
    check("no verdict, no tally", message_and_tallies(game) == before, message_and_tallies(game))

    group("a right guess in 'Горе-Ляво'")
    game.click(option_rect(0))
    check("'Горе-Ляво' selected", game.state("Горе-Ляво", "checked")
          and not game.state("Случайно", "checked"))
    game.click(rect(SHOW))
    steps = []
    for what in ("early", "later"):
        time.sleep(0.4)
        steps.append(slid_steps(game, 0, f"top-left-{what}"))
    check("the cover slides right and down: strips along the top and left edges",
          all(steps) and 0 not in steps[0], steps)
    check("... and they grow", all(steps) and min(steps[1]) > max(steps[0]), steps)
    check("the options are greyed out",
          not any(game.state(mode, "sensitive") for mode in MODES))
    letter = game.text(LETTER)
    label = game.letters.get(letter)
    check(f"the reader finds the label of the hidden letter '{letter}' where it shows",
          label is not None and game.extents(label) == letter_rect(LETTERS.index(letter) + 1),
          label and game.extents(label))
    game.click(letter_rect(LETTERS.index(letter) + 1))
    wait_for(lambda: game.text(RIGHT_TALLY), 2)
    message, right, wrong = message_and_tallies(game)
    n = verdict_steps(message, "Да")
    check("the verdict: 'Да', then 'След брой стъпки: ' and the count, each line ended",
          n is not None, repr(message))
    cover = game.extents(game.controls[COVER_NAME])
    check("the count is the step the cover stands at", n is not None and cover == cover_rect(0, n),
          (n, cover))
    check("the right tally reads 1, the wrong one stays empty", (right, wrong) == ("1", ""),
          (right, wrong))
    check("'Покажи' is greyed out", not game.state("Покажи", "sensitive"))
    time.sleep(0.3)
    check("the reveal has stopped: the cover stays",
          game.extents(game.controls[COVER_NAME]) == cover)
    game.shot("judged")
    game.click(letter_rect(LETTERS.index(letter) + 1))
    check("a second click on the letter is ignored",
          message_and_tallies(game) == (message, right, wrong))

    group("'Чисти'")
    game.click(rect(CLEAR))
    check("the prompt", wait_for(lambda: game.text(MESSAGE) == PROMPT, 2), repr(game.text(MESSAGE)))
    check("'Покажи' and the options are enabled again",
          game.state("Покажи", "sensitive") and all(game.state(m, "sensitive") for m in MODES))
    shot = game.shot("cleared")
    check("the cover is back over the whole letter",
          list(shot.colours(rect(LETTER_BOX))) == [COVER])
    check("the tallies stay", (game.text(RIGHT_TALLY), game.text(WRONG_TALLY)) == ("1", ""))

    group("a wrong guess")
    game.click(rect(SHOW))
    time.sleep(0.25)
    letter = game.text(LETTER)
    other = LETTERS[(LETTERS.index(letter) + 7) % 30]
    game.click(letter_rect(LETTERS.index(other) + 1))
    wait_for(lambda: game.text(WRONG_TALLY), 2)
    message, right, wrong = message_and_tallies(game)
    n = verdict_steps(message, "Не")
    check(f"'{other}' for '{letter}': 'Не' and the count", n is not None and n >= 1, repr(message))
    check("the wrong tally reads 1, the right one stays 1", (right, wrong) == ("1", "1"),
          (right, wrong))
    check("'Покажи' is greyed out", not game.state("Покажи", "sensitive"))


def run_outs(game):
    for mode in range(4):
        group(f"a full run-out in '{MODES[mode]}'")
        game.click(rect(CLEAR))
        game.click(option_rect(mode))
        check(f"'{MODES[mode]}' selected", game.state(MODES[mode], "checked"))
        start = time.monotonic()
        game.click(rect(SHOW))
        time.sleep(4.5)
        steps = slid_steps(game, mode, f"{mode}-halfway")
        check("halfway, the cover has slid the mode's way", steps and 30 < steps[0] < 70, steps)
        final = cover_rect(mode, 100)
        cover = game.controls[COVER_NAME]
        done = wait_for(lambda: game.extents(cover) == final, 15, 0.02)
        took = time.monotonic() - start
        where = f"{final}" + (", cut off at the window's left edge" if final[0] < 0 else "")
        check(f"after 100 ticks of 100 ms ({took:.1f} s) the cover stands at {where}",
              done and 9.9 < took < 13, game.extents(cover))
        shot = game.shot(f"{mode}-run-out")
        box = rect(LETTER_BOX)
        hidden = [p for p in letter_box_points() if shot.at(*p) == COVER]
        check("the whole letter shows: no cover in the letter box, the glyph there",
              not hidden and shot.dark(box) > 100, (hidden[:5], shot.dark(box)))
        if mode == 2:
            # Up and to the right it ends over the title and hides that part of it.
            hidden_title = overlap(final, rect(TITLE_LABEL))
            colours = shot.colours(hidden_title)
            check(f"the cover hides the title where it lies over it {hidden_title}",
                  hidden_title[3] > 0 and list(colours) == [COVER], colours.most_common(3))
            beside = (hidden_title[0] + hidden_title[2], hidden_title[1], 20, hidden_title[3])
            check("... and only there", shot.colours(beside)[ORANGE] == 20 * hidden_title[3])
        time.sleep(0.3)
        check("the reveal has ended: the cover stays, the options greyed, 'Покажи' enabled",
              game.extents(cover) == final and game.state("Покажи", "sensitive")
              and not any(game.state(m, "sensitive") for m in MODES))
        if mode == 0:
            before = message_and_tallies(game)
            game.click(letter_rect(LETTERS.index(game.text(LETTER)) + 1))
            check("a click on the letter after a run-out is ignored",
                  message_and_tallies(game) == before)


def closing(game):
    group("closing during a reveal")
    game.click(rect(CLEAR))
    game.click(rect(SHOW))
    cover = game.controls[COVER_NAME]
    moving = wait_for(lambda: game.extents(cover) != rect(LETTER_BOX), 3)
    check("a reveal is running", moving)
    asked = time.monotonic()
    game.close()
    status = game.ended(5)
    took = time.monotonic() - asked
    check(f"the process ends at once ({took:.2f} s) with status 0", status == 0 and took < 1,
          status)


def act(accessible, action):
    """What a screen reader or a switch does: one of the control's own accessible actions."""
    names = [accessible.get_action_name(i) for i in range(accessible.get_n_actions())]
    return action in names and accessible.do_action(names.index(action))


def by_assistive_technology(suite):
    group("a mode chosen and a reveal started by assistive technology")
    game = Game(suite, "assistive")
    try:
        for mode in (1, 3):  # each time another option than the one selected
            game.click(rect(CLEAR))
            toggled = act(game.controls[MODES[mode]], "Toggle")
            check(f"'Toggle' selects '{MODES[mode]}'",
                  toggled and wait_for(lambda: game.state(MODES[mode], "checked"), 2))
            check("'Press' on 'Покажи' starts the reveal", act(game.controls["Покажи"], "Press")
                  and wait_for(lambda: not game.state(MODES[0], "sensitive"), 3))
            time.sleep(0.5)
            steps = slid_steps(game, mode, f"toggled-{mode}")
            check(f"the cover slides the way '{MODES[mode]}' shows", bool(steps), steps)
        game.close()
        check("closes with status 0", game.ended(5) == 0)
    finally:
        suite.processes.stop(game.process)


def arguments(suite, small):
    group("the game takes no command line")
    sheet = os.path.join(OUT, "desktop-sheet.qss")
    with open(sheet, "w") as style:
        style.write("* { background: black; color: white; }")
    given = ["-reverse", "-stylesheet", sheet, "-style", "Windows", "-platform", "offscreen",
             "--help", "файл.txt"]
    game = Game(suite, "arguments", given)
    try:
        shot = game.shot("start")
        # Everything but the message box, whose text cursor blinks.
        message = rect((120, 4440, 7215, 1815))
        differ = [p for p in small.points((0, 0, small.width, small.height))
                  if shot.at(*p) != small.at(*p) and not (
                      message[0] <= p[0] < message[0] + message[2] and message[1] <= p[1])]
        check(f"with {' '.join(given[:-1])} ... the window is the same to the pixel",
              (shot.width, shot.height) == (small.width, small.height) and not differ,
              differ[:5])
        game.close()
        check("closes with status 0", game.ended(5) == 0)
    finally:
        suite.processes.stop(game.process)


def scaled(suite, small):
    group("at QT_SCALE_FACTOR=2")
    game = Game(suite, "scale2", QT_SCALE_FACTOR="2")
    try:
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
        game.close()
        check("closes with status 0", game.ended(5) == 0)
    finally:
        suite.processes.stop(game.process)


def main():
    os.makedirs(OUT, exist_ok=True)
    for old in glob.glob(os.path.join(OUT, "desktop-*")):  # this run's artefacts only
        os.remove(old)
    suite = Suite()

    def stop(signum, _frame):
        raise SystemExit(f"stopped by signal {signum}")

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, stop)
    try:
        without_a_display(suite)
        suite.start_x()
        suite.start_bus()
        # A bare C locale, as on a fresh machine.
        game = Game(suite, "game", LC_ALL="C", LANG="")
        try:
            the_window(suite, game)
            names(game)
            small = start_up_pixels(game)
            focus(game)
            play(game)
            run_outs(game)
            closing(game)
        finally:
            suite.processes.stop(game.process)
        scaled(suite, small)
        arguments(suite, small)
        by_assistive_technology(suite)
        group("every start draws anew")
        # An unseeded generator would hide the same first letter every time.
        check(f"{len(suite.first_letters)} starts hid more than one first letter",
              len(set(suite.first_letters)) > 1, suite.first_letters)
    except BaseException as error:  # a harness failure or a signal counts as a failed check
        check("the suite ran to its end", False, f"{type(error).__name__}: {error}")
    finally:
        suite.processes.stop_all()
        if suite.own_runtime:
            shutil.rmtree(suite.own_runtime, ignore_errors=True)
    print(f"\n{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
