"""The game in a process of its own, seen from outside: the few acts and looks every back end
gives the checks (click, key, type, shot, text, close, error_box, shown), and, where a screen
reader's view is there (reads), state, cover, focused and the accessible objects."""

import os
import re
import subprocess
import time

from design import (BACKGROUND, BUTTONS, COVER, LETTER, MESSAGE, MESSAGE_BOX, RIGHT_TALLY,
                    TALLY_BOXES, TEXT_BOXES, WRONG_TALLY, Shot, cover_rect, covered_steps,
                    letter_box_points, letter_rect, rect)
from harness import wait_for


class Game:
    reads = False  # states, places and the focus, as a screen reader has them
    pointer = True  # real clicks and keys reach it
    quiet = False  # its output is the game's own, with no platform's messages in it
    places = False  # the game places its window itself, inside a frame of this size round it
    frame = (0, 0, 0, 0)  # left, top, right, bottom
    closes_box = False  # the window system's close request reaches the error box: close_box()
    close_takes = 0  # seconds the platform itself takes over such a request, beyond the game's
    minimizes = False  # the window and its box can be minimized and restored
    # On an X server: xdotool's pause after a click, its delay between keys (ms), and how long
    # the game is given after keys.
    pause, delay, settle = 0.08, 12, 0
    fastest_run_out = 9.9  # seconds for 100 ticks of 100 ms, as the shots can time them

    def __init__(self, out, prefix, name):
        self.out, self.prefix, self.name, self.shots = out, prefix, name, 0
        self.log = os.path.join(out, f"{prefix}-{name}.log")

    def artefact(self, what):
        self.shots += 1
        return os.path.join(self.out, f"{self.prefix}-{self.name}-{self.shots:02}-{what}.png")

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.stop()

    def ended(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def written(self):
        """What the game wrote to its output, less Qt's warnings that the suite's own reader
        draws by asking at the wrong moment: of a text just replaced (once, on Wayland, in the
        sanitizer build) and, with Qt 6.8, of a control gone with the closed window."""
        with open(self.log, errors="replace") as log:
            return re.sub(r"(?m)^(QTextCursor::setPosition: Position '\d+' out of range|"
                          r"qt\.accessibility\.atspi: Could not find accessible on path: .*)\n?",
                          "", log.read()).strip()

    def letter(self):
        return self.text(LETTER)

    def text(self, name):
        """A text box's text as a player copies it: a click into the box, then copied()."""
        if name == LETTER:
            # The letter box is the next focus stop after the message box, and copies its letter
            # even while the cover hides it.
            self.click(rect(MESSAGE_BOX))
            self.key("Tab")
        else:
            self.click(rect(TEXT_BOXES[name]))
            if self.blank(name):
                return ""
        return self.copied()

    def blank(self, name):
        """True where a back end sees that the box is empty before it copies."""
        return False

    def message_and_tallies(self):
        return tuple(self.text(name) for name in (MESSAGE, RIGHT_TALLY, WRONG_TALLY))

    def press(self, button):
        """A command button, by its caption, pressed by the player."""
        self.click(rect(BUTTONS[button]))

    def screen_steps(self, mode, what):
        """The steps the cover stands at in a fresh shot, taken again if it caught a redraw."""
        for _ in range(3):
            steps = covered_steps(self.shot(what), mode)
            if steps:
                return steps
        return []

    def cover_steps(self, mode, what):
        """The steps the cover stands at: where the toolkit says it is, or else on the screen."""
        if self.reads:
            cover = self.cover()
            return [n for n in range(101) if cover_rect(mode, n) == cover]
        return self.screen_steps(mode, what)

    def uncovered(self):
        """A shot once the whole letter box shows, or None."""
        shot = Shot(self.take(self.log[:-4] + "-uncovered.png"), *self.client_place())
        return None if any(shot.at(*p) == COVER for p in letter_box_points()) else shot

    def raise_error(self):
        """Tallies that no number can hold, then a guess in a reveal: the error box. Gives the
        focus as it was just before the guess, where the reader tells it."""
        for tally in TALLY_BOXES:
            self.click(rect(tally))
            self.key("ctrl+a")
            self.type("1e999")
        self.press("Покажи")
        time.sleep(0.4)
        before = self.focused() if self.reads else None
        self.click(letter_rect(1))
        return wait_for(self.error_box, 10) and (before or True)

    def shot(self, what):
        return Shot(self.take(self.artefact(what)), *self.client_place())

    def drawn(self, what, timeout):
        """A shot once the window is drawn (its background showing), or None."""
        return wait_for(lambda: (lambda shot: shot.at(5, 60) == BACKGROUND and shot)(
            self.shot(what)), timeout)

    # The game's own X window (the game's on X11, Wine's for Windows), driven with xdotool.
    def xdotool(self, *argv):
        subprocess.run(["xdotool", *argv], env=self.env, check=True)

    def click(self, region, button=1):
        x, y, w, h = region
        self.xdotool("mousemove", "--window", str(self.window_id), str(x + w // 2),
                     str(y + h // 2), "click", str(button))
        time.sleep(self.pause)  # the game handles it

    def key(self, *names):
        self.xdotool("key", "--delay", str(self.delay), *names)
        time.sleep(self.settle)

    def type(self, text):
        self.xdotool("type", "--delay", str(self.delay), text)
        time.sleep(self.settle)

    def copied(self):
        """Ctrl+A, Ctrl+C where the focus is, and what reaches the X clipboard."""
        subprocess.run(["xclip", "-selection", "clipboard", "-i"], env=self.env,
                       input=b"\x01nothing", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.2)
        self.key("ctrl+a", "ctrl+c")

        def read():
            text = subprocess.run(["xclip", "-selection", "clipboard", "-o", "-t", "UTF8_STRING"],
                                  env=self.env, capture_output=True, timeout=5).stdout.decode(
                                      errors="replace").replace("\r\n", "\n")
            return None if text == "\x01nothing" else text
        # An empty box copies nothing: the clipboard keeps what was there, and the box is empty.
        return wait_for(read, 3) or ""

    def take(self, path):
        """A shot of the game's own X window, straight from the X server."""
        from PIL import Image
        from Xlib import X, display
        if not getattr(self, "display", None):
            self.display = display.Display(self.env["DISPLAY"])
        window = self.display.create_resource_object("window", self.window_id)
        size = window.get_geometry()
        # The X server gives only what lies on the screen; the rest of the window stays black.
        root = self.display.screen()
        at = root.root.translate_coords(window, 0, 0)  # the window's corner on the screen
        left, top = max(0, -at.x), max(0, -at.y)
        right = min(size.width, root.width_in_pixels - at.x)
        bottom = min(size.height, root.height_in_pixels - at.y)
        picture = Image.new("RGB", (size.width, size.height))
        if right > left and bottom > top:
            data = window.get_image(left, top, right - left, bottom - top, X.ZPixmap,
                                    0xFFFFFFFF).data
            picture.paste(Image.frombytes("RGB", (right - left, bottom - top), data, "raw",
                                          "BGRX"), (left, top))
        picture.save(path, compress_level=1)
        return path

    def client_place(self):
        """Where the client area lies in a shot, and its size (None: the whole shot)."""
        return (0, 0), None

    def stop(self):
        self.processes.stop(self.process)
