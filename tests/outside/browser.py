"""The browser back end: the WebAssembly build's page, served on 127.0.0.1 by the suite, played
in Debian's Chromium, headless, over the DevTools protocol on a pipe. Real mouse, touch and key
events go in; pixels come back from screenshots of the page, texts through the clipboard (click
into a text box, Ctrl+A, Ctrl+C, read the page's clipboard). Each game is a fresh load of the
page. Also what only a browser has: the page itself, touch, the clock of a reveal, and Firefox,
on an Xvfb of its own and driven over Marionette, which only has to show the window."""

import base64
import functools
import http.server
import json
import os
import shutil
import socket
import tempfile
import threading
import time

from design import (BACKGROUND, CLEAR, CLIENT_PIXELS, LETTER_BOX, MESSAGE, PROMPT, SHOW,
                    TEXT_BOXES, Shot, client_area, covered_steps, ink_columns, label_of,
                    option_rect, overlap, rect, verdict_steps)
from game import Game
from harness import Processes, check, group, start_xvfb, wait_for

PAGE = (1280, 900)  # the browser's viewport, CSS pixels at a zoom of 100 %
LOADING = "Мигляр се зарежда…"
# Chromium's key names for the few keys the checks press: key, code, key code, text.
KEYS = {"Return": ("Enter", "Enter", 13, "\r"), "Tab": ("Tab", "Tab", 9, None),
        "ctrl+a": ("a", "KeyA", 65, None), "ctrl+c": ("c", "KeyC", 67, None)}
# What a browser does of itself on a key, after the page has seen it: Ctrl+C copies, and Qt's
# page hands its clipboard to that copy.
COMMANDS = {"ctrl+c": ["copy"]}


def serve(folder):
    """A static web server for the folder on 127.0.0.1, as a school's would be; gives its
    address."""
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *_):
            pass
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                             functools.partial(Quiet, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f"http://127.0.0.1:{server.server_address[1]}/"


class Chromium:
    """Debian's Chromium, headless, with software WebGL, driven over --remote-debugging-pipe:
    it reads commands from descriptor 3 and answers on 4, each a JSON text ended by a NUL."""

    def __init__(self, out, processes):
        self.out, self.processes = out, processes
        self.profile = tempfile.mkdtemp(prefix="migliar-chromium-")
        commands, self.events = os.pipe(), []
        answers = os.pipe()

        def descriptors():
            os.dup2(commands[0], 3)
            os.dup2(answers[1], 4)
        self.log = os.path.join(out, "browser-chromium.log")
        with open(self.log, "w") as log:
            self.process = processes.start(
                ["chromium", "--headless", "--no-sandbox", "--remote-debugging-pipe",
                 "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--no-first-run",
                 f"--user-data-dir={self.profile}", f"--window-size={PAGE[0]},{PAGE[1]}",
                 "--force-device-scale-factor=1", "about:blank"],
                before=descriptors, pass_fds=(3, 4), stdout=log, stderr=log)
        os.close(commands[0])
        os.close(answers[1])
        self.to, self.back, self.pending, self.serial = commands[1], answers[0], b"", 0
        self.session = None
        page = [t for t in self.call("Target.getTargets")["targetInfos"] if t["type"] == "page"]
        self.session = self.call("Target.attachToTarget", targetId=page[0]["targetId"],
                                 flatten=True)["sessionId"]
        self.call("Page.enable")
        self.call("Runtime.enable")
        # The page keeps the keyboard focus though no window of the desktop is active.
        self.call("Emulation.setFocusEmulationEnabled", enabled=True)

    def call(self, method, browser=False, **params):
        self.serial += 1
        message = {"id": self.serial, "method": method, "params": params}
        if self.session and not browser:
            message["sessionId"] = self.session
        os.write(self.to, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.pending:
                chunk = os.read(self.back, 1 << 20)
                if not chunk:
                    raise RuntimeError(f"Chromium has gone; see {self.log}")
                self.pending += chunk
            text, self.pending = self.pending.split(b"\0", 1)
            answer = json.loads(text)
            if answer.get("id") == self.serial:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return answer["result"]
            self.events.append(answer)

    def evaluate(self, expression):
        """The value of a JavaScript expression in the page, awaited when it is a promise."""
        result = self.call("Runtime.evaluate", expression=expression, awaitPromise=True,
                           returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def console(self):
        """What the page has written to its console and what it threw, so far."""
        lines = []
        for event in self.events:
            if event.get("method") == "Runtime.consoleAPICalled":
                lines.append(" ".join(str(a.get("value", a.get("description")))
                                      for a in event["params"]["args"]))
            elif event.get("method") == "Runtime.exceptionThrown":
                lines.append(json.dumps(event["params"]["exceptionDetails"])[:500])
        return lines

    def end(self):
        self.processes.stop(self.process)
        shutil.rmtree(self.profile, ignore_errors=True)


class Browser:
    """The suite's web server and browser."""

    def __init__(self, site, out):
        self.site, self.out = site, out
        self.processes = Processes()

    def start(self):
        self.address = serve(self.site)
        self.chromium = Chromium(self.out, self.processes)
        self.chromium.call("Browser.grantPermissions", browser=True,
                           origin=self.address.rstrip("/"),
                           permissions=["clipboardReadWrite", "clipboardSanitizedWrite"])

    def end(self):
        if hasattr(self, "chromium"):
            self.chromium.end()
        self.processes.stop_all()


class PageRunning:
    """Stands for the game's process: the page runs the game while it shows the game's canvas
    (Qt's loader hides it and says why when the program ends or breaks)."""

    def __init__(self, chromium):
        self.chromium = chromium

    def poll(self):
        shown = self.chromium.evaluate("document.getElementById('screen').style.display")
        return None if shown == "block" else 1


class BrowserGame(Game):
    def __init__(self, browser, name):
        super().__init__(browser.out, "browser", name)
        self.browser, self.chromium = browser, browser.chromium
        self.chromium.events.clear()
        self.loaded = time.monotonic()
        self.chromium.call("Page.navigate", url=browser.address)
        # What the page says while the game loads, before the game is up.
        self.first_words = wait_for(lambda: self.chromium.evaluate(
            "(s => s && s.style.display !== 'none' ? s.textContent : null)"
            "(document.getElementById('status'))"), 5, 0.01)
        self.process = PageRunning(self.chromium)
        self.origin = None
        page = wait_for(self.find_on_page, 30, 0.02)
        self.first_frame = time.monotonic() - self.loaded
        if not page:
            raise RuntimeError(f"{name}: no window on the page; the console: "
                               f"{self.chromium.console()[-10:]}")

    def find_on_page(self):
        """A screenshot of the page once the window is drawn on it, and where its client area
        lies."""
        path = os.path.join(self.out, f"browser-{self.name}-find.png")
        page = Shot(self.take(path))
        bounds = client_area(page)
        if not bounds or bounds[2:] != CLIENT_PIXELS or page.pixel(*bounds[:2]) != BACKGROUND:
            return None
        self.bounds, self.origin = bounds, bounds[:2]
        return page

    def take(self, path):
        picture = self.chromium.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as file:
            file.write(base64.b64decode(picture))
        return path

    def client_place(self):
        return self.origin, CLIENT_PIXELS

    def on_page(self, region):
        x, y, w, h = region
        return self.origin[0] + x + w // 2, self.origin[1] + y + h // 2

    def click(self, region, button=1):
        x, y = self.on_page(region)
        for kind in ("mouseMoved", "mousePressed", "mouseReleased"):
            self.chromium.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, clickCount=1,
                               button="none" if kind == "mouseMoved" else "left")
        time.sleep(self.pause)

    def tap(self, region):
        x, y = self.on_page(region)
        for kind, points in (("touchStart", [{"x": x, "y": y}]), ("touchEnd", [])):
            self.chromium.call("Input.dispatchTouchEvent", type=kind, touchPoints=points)
        time.sleep(self.pause)

    def stroke(self, key, code, number, text=None, modifiers=0, commands=()):
        down = dict(key=key, code=code, windowsVirtualKeyCode=number, modifiers=modifiers)
        self.chromium.call("Input.dispatchKeyEvent", type="keyDown", commands=list(commands),
                           **(dict(down, text=text) if text else down))
        self.chromium.call("Input.dispatchKeyEvent", type="keyUp", **down)

    def key(self, *names):
        for name in names:
            key, code, number, text = KEYS[name]
            self.stroke(key, code, number, text, 2 if name.startswith("ctrl+") else 0,
                        COMMANDS.get(name, ()))
        time.sleep(self.settle)

    def type(self, text):
        for char in text:
            code = f"Key{char.upper()}" if char.isalpha() else f"Digit{char}"
            self.stroke(char, code, ord(char.upper()), char)

    def copied(self):
        """Ctrl+A, Ctrl+C where the focus is, and what reaches the page's clipboard."""
        self.chromium.evaluate("navigator.clipboard.writeText('\\u0001nothing')")
        self.key("ctrl+a", "ctrl+c")

        def read():
            text = self.chromium.evaluate("navigator.clipboard.readText()")
            return None if text == "\x01nothing" else text.replace("\r\n", "\n")
        # An empty box copies nothing: the clipboard keeps what was there, and the box is empty.
        return wait_for(read, 2) or ""

    def glance(self, what):
        """A shot read and not kept: the pixels only decide something."""
        shot = self.shot(what)
        os.remove(shot.path)
        return shot

    def blank(self, name):
        # The page's copy hands on whatever Qt's clipboard holds when the box copies nothing: an
        # empty box is told by its pixels, where at most the text cursor's column shows.
        x, y, w, h = rect(TEXT_BOXES[name])
        shot = self.glance("text")
        inside = (self.origin[0] + x + 3, self.origin[1] + y + 3, w - 6, h - 6)
        return len(ink_columns(shot, inside, (255, 255, 255), 300)) <= 1

    def error_box(self):
        """The box shows over the middle of the window: its own title bar and face, with none
        of the window's colours, where 'Покажи' and the option frame's edge otherwise are."""
        shot = self.glance("box-or-not")
        x, y, w, h = rect(SHOW)
        return BACKGROUND not in shot.colours((x + w + 10, y - 30, 40, 60))

    def error_text(self):
        # The box's text can be selected: a click into its first line, which starts beside the
        # top of the box's red icon (told from 'Чисти' by its shade and place); Ctrl+A, Ctrl+C.
        shot = self.glance("box-text")
        def red(point):
            r, g, b = shot.at(*point)
            return r > 150 and g < 90 and b < 90 and not overlap(point + (1, 1), rect(CLEAR))[2]
        icon = [p for p in shot.points((0, 0) + CLIENT_PIXELS) if red(p)]
        if not icon:
            return ""
        self.click((max(i for i, _ in icon) + 50, min(j for _, j in icon) + 10, 0, 0))
        return self.copied()

    def stop(self):
        pass  # the next game loads the page anew


# ---- The checks only a browser has -------------------------------------------------------------


def the_page(game):
    group("the page")
    chromium = game.chromium
    check(f"while it loads, the page says so: '{LOADING}'", game.first_words == LOADING,
          game.first_words)
    check(f"the window's first frame {game.first_frame:.2f} s after the page was asked for",
          game.first_frame < 10, game.first_frame)
    check("the page's title is 'Мигляр'", chromium.evaluate("document.title") == "Мигляр",
          chromium.evaluate("document.title"))
    icon = chromium.evaluate("fetch(document.querySelector('link[rel=icon]').href)"
                             ".then(r => r.ok && r.headers.get('content-type'))")
    check("its icon is the game's, served with the page", icon == "image/png", icon)
    shown = chromium.evaluate(
        "(screen => [...document.body.querySelectorAll('*')].filter(e => e === screen"
        " || !screen.contains(e) && getComputedStyle(e).display !== 'none'"
        " && getComputedStyle(e).opacity !== '0' && e.getClientRects().length > 0)"
        ".map(e => e.id || e.tagName))"
        "(document.getElementById('screen'))")
    check("nothing else is on the page: no Qt logo, no loader text, only the game's screen",
          shown == ["screen"], shown)
    page = game.shot("page")
    left, top = game.origin
    frame_width = CLIENT_PIXELS[0] + 2
    check("the window 1:1 (499 x 424 pixels at 100 %), centred across the page",
          game.bounds[2:] == CLIENT_PIXELS and abs(left - 1 + frame_width / 2 - PAGE[0] / 2) <= 1,
          game.bounds)
    bar = (left, top - 30, CLIENT_PIXELS[0], 30)
    colour = page.region(bar).most_common(1)[0][0]
    ink = ink_columns(page, (bar[0] + 32, bar[1] + 2, bar[2] - 32, bar[3] - 4), colour)
    check("a title bar above it, with the title", colour != BACKGROUND and len(ink) > 150,
          (colour, len(ink)))
    if ink:
        middle = bar[0] + bar[2] / 2
        check("... whole and centred; no close button at its end",
              abs((ink[0] + ink[-1]) / 2 - middle) < 4 and bar[0] + bar[2] - ink[-1] > 40,
              (ink[0], ink[-1], middle))
    check("nothing in the console but Qt's own notes", not [
        line for line in chromium.console() if "rror" in line or "xception" in line],
        chromium.console()[-5:])


def touch(game):
    group("touch: a pupil's finger on a tablet or a whiteboard")
    game.tap(rect(CLEAR))
    check("a tap on 'Чисти': the prompt", wait_for(lambda: game.text(MESSAGE) == PROMPT, 2))
    letter = game.letter()
    game.tap(option_rect(1))
    game.tap(rect(SHOW))
    time.sleep(0.5)
    steps = game.screen_steps(1, "tapped")
    check("a tap on 'Горе-Дясно', then on 'Покажи': the cover slides left and down",
          steps and 0 < steps[0] < 20, steps)
    game.tap(label_of(letter))
    message = wait_for(lambda: verdict_steps(game.text(MESSAGE), "Да") and game.text(MESSAGE),
                       2)
    check(f"a tap on '{letter}': 'Да'", message, repr(game.text(MESSAGE)))


def ticks(game):
    group("the clock: 100 ticks of 100 ms")
    game.press("Чисти")
    game.click(option_rect(0))
    game.press("Покажи")
    # Shots of the letter box alone, as fast as they come, each at the middle of its taking;
    # read afterwards.
    x, y, w, h = rect(LETTER_BOX)
    clip = dict(x=game.origin[0] + x, y=game.origin[1] + y, width=w, height=h, scale=1)
    taken = []
    end = time.monotonic() + 10.5
    while time.monotonic() < end:
        before = time.monotonic()
        picture = game.chromium.call("Page.captureScreenshot", format="png", clip=clip)["data"]
        taken.append(((before + time.monotonic()) / 2, picture))
    seen = []  # (time, step) while the cover moves
    path = os.path.join(game.out, "browser-clock.png")
    for when, picture in taken:
        with open(path, "wb") as file:
            file.write(base64.b64decode(picture))
        steps = covered_steps(Shot(path, (-x, -y)), 0)
        if len(steps) == 1 and 5 <= steps[0] <= 95:
            seen.append((when, steps[0]))
    # The steps against the time they were seen: the line's slope is the ticks' rate.
    n = len(seen)
    slope = None
    if n > 10:
        mean_t = sum(t for t, _ in seen) / n
        mean_s = sum(s for _, s in seen) / n
        slope = (sum((t - mean_t) * (s - mean_s) for t, s in seen)
                 / sum((t - mean_t) ** 2 for t, _ in seen))
    took = 100 / slope if slope else None
    check(f"100 ticks take 10.0 s ± 1 %: {took and round(took, 3)} s, from {n} of "
          f"{len(taken)} shots", took and 9.9 <= took <= 10.1, seen[:3] + seen[-3:])


def firefox_shows_the_window(browser):
    group("Firefox")
    profile = tempfile.mkdtemp(prefix="migliar-firefox-")
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    with open(os.path.join(profile, "user.js"), "w") as prefs:
        prefs.write(f'user_pref("marionette.port", {port});\n'
                    'user_pref("browser.shell.checkDefaultBrowser", false);\n'
                    'user_pref("datareporting.policy.dataSubmissionEnabled", false);\n'
                    # Software WebGL, as Chromium's SwiftShader: Qt draws through it.
                    'user_pref("webgl.force-enabled", true);\n'
                    'user_pref("webgl.disable-fail-if-major-performance-caveat", true);\n')
    log = os.path.join(browser.out, "browser-firefox.log")
    # Firefox's headless mode has no WebGL: it runs on an Xvfb of its own, with Mesa's.
    env = {k: v for k, v in os.environ.items() if not k.startswith(("WAYLAND_", "MOZ_"))}
    env["DISPLAY"] = start_xvfb(browser.processes)
    with open(log, "w") as output:
        firefox = browser.processes.start(
            ["firefox-esr", "--marionette", "--no-remote", "--profile", profile],
            env=env, stdout=output, stderr=output)
    try:
        marionette = wait_for(lambda: Marionette(port), 60, 0.2)
        if not check("Firefox starts, on an Xvfb of its own, and takes commands", marionette, log):
            return
        marionette.call("WebDriver:NewSession", capabilities={})
        marionette.call("WebDriver:Navigate", url=browser.address)
        path = os.path.join(browser.out, "browser-firefox.png")

        def drawn():
            picture = marionette.call("WebDriver:TakeScreenshot", full=False)["value"]
            with open(path, "wb") as file:
                file.write(base64.b64decode(picture))
            bounds = client_area(Shot(path))
            return bounds if bounds and bounds[2:] == CLIENT_PIXELS else None
        bounds = wait_for(drawn, 60, 0.5)
        check("the game's window shows in Firefox, 499 x 424 (browser-firefox.png)", bounds,
              path)
        marionette.close()
    finally:
        browser.processes.stop(firefox)
        shutil.rmtree(profile, ignore_errors=True)


class Marionette:
    """Firefox's own remote protocol: each message its length, a colon and a JSON array."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=60)
        self.pending, self.serial = b"", 0
        self.receive()  # the greeting

    def receive(self):
        while b":" not in self.pending:
            self.pending += self.socket.recv(1 << 16)
        length, rest = self.pending.split(b":", 1)
        while len(rest) < int(length):
            rest += self.socket.recv(1 << 20)
        self.pending = rest[int(length):]
        return json.loads(rest[:int(length)])

    def call(self, command, **params):
        self.serial += 1
        text = json.dumps([0, self.serial, command, params]).encode()
        self.socket.sendall(str(len(text)).encode() + b":" + text)
        while True:
            _, serial, error, result = self.receive()
            if serial == self.serial:
                if error:
                    raise RuntimeError(f"{command}: {error}")
                return result

    def close(self):
        self.socket.close()
