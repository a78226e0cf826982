"""The browser back end: the WebAssembly build's page, served on 127.0.0.1, played in one engine a
suite, each game a fresh load. Chromium (headless) and WebKit (WebKitGTK's, on an Xvfb of the
suite's: the engine of every browser on an iPad) are driven over WebDriver with Debian's Selenium;
Firefox, which Debian gives no driver, is an X window played with xdotool. Pixels come from
screenshots, texts through the clipboard (a click into the box, Ctrl+A, Ctrl+C): headless
Chromium's own, the X server's elsewhere. Also what only a browser has: the page, the keyboard at
once, touch, the clock of a reveal."""

import base64
import functools
import glob
import http.server
import os
import shutil
import statistics
import subprocess
import tempfile
import threading
import time

from PIL import Image
from selenium import webdriver
from selenium.webdriver import ActionChains, Keys
from selenium.webdriver.chrome.service import Service as ChromeService
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.actions.pointer_input import PointerInput
from selenium.webdriver.remote.remote_connection import RemoteConnection
from selenium.webdriver.webkitgtk.service import Service as WebKitService
from Xlib import X

from design import (BACKGROUND, CLEAR, CLIENT_PIXELS, COVER, LETTER_BOX, MESSAGE, PROMPT,
                    SHOW, TEXT_BOXES, Shot, client_area, covered_steps, ink_columns, label_of,
                    option_rect, overlap, rect, verdict_steps)
from game import Game
from harness import Processes, check, die_with_us, group, start_xvfb, wait_for

LOADING = "Мигляр се зарежда…"
PAGE = (1280, 900)  # the browser's window, CSS pixels at a zoom of 100 %
# Off the network, Chromium asks it for nothing of its own.
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--use-angle=swiftshader",
                  "--enable-unsafe-swiftshader", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--no-first-run",
                  "--force-device-scale-factor=1", "--window-size={},{}".format(*PAGE)]
FIREFOX_PREFS = {"browser.shell.checkDefaultBrowser": False,
                 "datareporting.policy.dataSubmissionEnabled": False,
                 # Software WebGL, as Chromium's SwiftShader: Qt draws through it.
                 "webgl.force-enabled": True,
                 "webgl.disable-fail-if-major-performance-caveat": True,
                 # The page's console on Firefox's output, where the suite reads it.
                 "devtools.console.stdout.content": True}


def serve(folder):
    """A static web server for the folder on 127.0.0.1, as a school's; gives its address."""
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *_):
            pass
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                             functools.partial(Quiet, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f"http://127.0.0.1:{server.server_address[1]}/"


def check_or_say(what, value, ok, why):
    """A check of what a browser tells (value), or a word on why it cannot tell (None)."""
    if value is None:
        print(f"--   {what}: not read in this browser ({why})", flush=True)
    else:
        check(what, ok(value), value)


class Browser:
    """The suite's web server and its one browser: a WebDriver session, or Firefox's window."""

    def __init__(self, engine, site, out):
        self.engine, self.site, self.out = engine, site, out
        self.processes = Processes()
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("WAYLAND_", "MOZ_"))}
        self.driver = self.service = self.firefox = None

    def start(self):
        self.address = serve(self.site)
        if self.engine != "chromium":
            self.env["DISPLAY"] = start_xvfb(self.processes)
        log = os.path.join(self.out, f"{self.engine}-browser.log")
        RemoteConnection.set_timeout(60)  # a browser that hangs fails its command
        if self.engine == "chromium":
            options = webdriver.ChromeOptions()
            options.binary_location = "/usr/bin/chromium"
            for flag in CHROMIUM_FLAGS:
                options.add_argument(flag)
            options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
            self.driver = webdriver.Chrome(
                service=self.service_of(ChromeService, "/usr/bin/chromedriver", log),
                options=options)
            # Headless Chromium's clipboard is the page's own, read only with leave (DevTools'
            # Browser.grantPermissions: WebDriver has no word for it).
            self.driver.execute_cdp_cmd("Browser.grantPermissions", {
                "origin": self.address.rstrip("/"),
                "permissions": ["clipboardReadWrite", "clipboardSanitizedWrite"]})
        elif self.engine == "webkit":
            options = webdriver.WebKitGTKOptions()
            options.binary_location = glob.glob("/usr/lib/*/webkit2gtk-4.1/MiniBrowser")[0]
            options.add_argument("--automation")
            self.service_of(WebKitService, "/usr/bin/WebKitWebDriver", log).start()
            self.driver = webdriver.Remote(self.service.service_url, options=options)
            self.driver.set_window_size(*PAGE)
        else:
            self.start_firefox(log)
        if self.driver:
            self.driver.set_script_timeout(10)

    def service_of(self, kind, driver, log):
        # The driver is named and must be there: Selenium would otherwise look for one on the
        # network.
        if not os.access(driver, os.X_OK):
            raise RuntimeError(f"no {driver}: scripts/deps browsers installs it")
        # chromedriver is told its log itself: later Selenium reads log_path only for WebKit's.
        logging = ({"service_args": [f"--log-path={log}"]} if kind is ChromeService
                   else {"log_path": log})
        self.service = kind(driver, env=self.env, popen_kw={"preexec_fn": die_with_us}, **logging)
        return self.service

    def start_firefox(self, log):
        """Firefox ESR in kiosk mode, the page filling its window, on a fresh profile."""
        self.profile, self.firefox_log = tempfile.mkdtemp(prefix="migliar-firefox-"), log
        with open(os.path.join(self.profile, "user.js"), "w") as prefs:
            for name, value in FIREFOX_PREFS.items():
                prefs.write(f'user_pref("{name}", {str(value).lower()});\n')
        with open(log, "w") as output:
            # Headless Firefox has no WebGL: it runs on the suite's Xvfb, with Mesa's.
            self.firefox = self.processes.start(
                ["firefox-esr", "--kiosk", "--no-remote", "--profile", self.profile,
                 self.address], env=self.env, stdout=output, stderr=output)

        def window():
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid",
                                    str(self.firefox.pid)], env=self.env,
                                   capture_output=True, text=True).stdout.split()
            return int(found[0]) if found else None
        self.window_id = wait_for(window, 60, 0.2)
        if not self.window_id:
            raise RuntimeError(f"Firefox shows no window; see {log}")

    def game(self, name):
        return FirefoxGame(self, name) if self.firefox else DriverGame(self, name)

    def end(self):
        try:
            if self.driver:
                self.driver.quit()
        finally:
            self.processes.stop_all()  # the driver too: a child of ours
            if self.firefox:
                shutil.rmtree(self.profile, ignore_errors=True)


class BrowserGame(Game):
    """What every engine shares: the page loaded anew, the window found on it, its pixels."""

    def __init__(self, browser, name):
        super().__init__(browser.out, browser.engine, name)
        self.browser, self.env, self.origin = browser, browser.env, None
        self.process = self  # the page, which runs the game
        asked = time.monotonic()
        self.first_words = self.load()
        self.page = wait_for(self.find_on_page, 30, 0.02)
        self.first_frame = time.monotonic() - asked
        if not self.page:
            raise RuntimeError(f"{name}: no window on the page; console: {self.console()}")

    def poll(self):
        """Running while the window shows (Qt's loader hides it when the program ends)."""
        return None if self.glance("running").at(5, 60) == BACKGROUND else 1

    def find_on_page(self):
        """A shot of the page once the window is drawn on it; notes where its client area lies."""
        page = Shot(self.take(os.path.join(self.out, f"{self.prefix}-{self.name}-find.png")))
        bounds = client_area(page)
        if not bounds or bounds[2:] != CLIENT_PIXELS or page.pixel(*bounds[:2]) != BACKGROUND:
            return None
        self.bounds, self.origin = bounds, bounds[:2]
        return page

    def client_place(self):
        return self.origin, CLIENT_PIXELS

    def on_page(self, region):
        x, y, w, h = region
        return self.origin[0] + x + w // 2, self.origin[1] + y + h // 2

    def snap(self, path):
        """A shot taken fast, and where the client area's corner lies in it."""
        return self.take(path), self.origin

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

    def icon(self):
        return None  # where no driver reads the page

    elements = icon

    def stop(self):
        pass  # the next game loads the page anew


class DriverGame(BrowserGame):
    """Chromium and WebKit over WebDriver: its pointer and key actions, its screenshots."""

    def __init__(self, browser, name):
        self.driver, self.chromium = browser.driver, browser.engine == "chromium"
        self.taps = self.chromium  # WebKitGTK's driver hands a touch on as a mouse click
        super().__init__(browser, name)

    def load(self):
        """Asks for the page; gives what it says while the game loads. The line stays in the
        page, hidden, once the game shows: read then, it is read whether or not the game was
        quicker than the driver's first look."""
        self.driver.get(self.browser.address)
        return self.driver.execute_script(
            "const s = document.getElementById('status'); return s ? s.textContent : ''")

    def take(self, path):
        self.driver.get_screenshot_as_file(path)
        return path

    def snap(self, path):
        if not self.chromium:
            return super().snap(path)
        # A clip of the letter box alone, twice as fast as WebDriver's shot of the whole page
        # (DevTools' Page.captureScreenshot).
        x, y, w, h = rect(LETTER_BOX)
        clip = dict(x=self.origin[0] + x, y=self.origin[1] + y, width=w, height=h, scale=1)
        with open(path, "wb") as file:
            file.write(base64.b64decode(self.driver.execute_cdp_cmd(
                "Page.captureScreenshot", {"format": "png", "clip": clip})["data"]))
        return path, (-x, -y)

    def click(self, region, button=1, kind="mouse"):
        actions = ActionBuilder(self.driver, mouse=PointerInput(kind, kind))
        actions.pointer_action.move_to_location(*self.on_page(region)).click()
        actions.perform()
        time.sleep(self.pause)

    def tap(self, region):
        self.click(region, kind="touch")

    def key(self, *names):
        actions = ActionChains(self.driver)
        for name in names:
            if name.startswith("ctrl+"):
                actions.key_down(Keys.CONTROL).send_keys(name[5:]).key_up(Keys.CONTROL)
            else:
                actions.send_keys(getattr(Keys, name.upper()))
        actions.perform()

    def type(self, text):
        ActionChains(self.driver).send_keys(text).perform()

    def copied(self):
        if not self.chromium:
            return super().copied()
        self.driver.execute_script("return navigator.clipboard.writeText('\\u0001nothing')")
        self.key("ctrl+a", "ctrl+c")

        def read():
            text = self.driver.execute_script("return navigator.clipboard.readText()")
            return None if text == "\x01nothing" else text.replace("\r\n", "\n")
        return wait_for(read, 2) or ""

    def title(self):
        return self.driver.title

    def icon(self):
        return self.driver.execute_script(
            "return fetch(document.querySelector('link[rel=icon]').href)"
            ".then(r => r.ok && r.headers.get('content-type'))")

    def elements(self):
        """What shows on the page outside the game's screen, and the screen."""
        return self.driver.execute_script(
            "const screen = document.getElementById('screen');"
            "return [...document.body.querySelectorAll('*')].filter(e => e === screen"
            " || !screen.contains(e) && getComputedStyle(e).display !== 'none'"
            " && getComputedStyle(e).opacity !== '0' && e.getClientRects().length > 0)"
            ".map(e => e.id || e.tagName)")

    def console(self):
        """What the page has written to its console and what it threw, so far; WebKitGTK's
        driver keeps it to itself."""
        return [e["message"] for e in self.driver.get_log("browser")] if self.chromium else None


class FirefoxGame(BrowserGame):
    """Firefox's window, played and shot as the X11 game's."""
    taps = False  # xdotool has no finger

    def __init__(self, browser, name):
        self.window_id = browser.window_id
        super().__init__(browser, name)

    def load(self):
        self.key("F5")
        wait_for(lambda: not self.find_on_page(), 10)  # the last frame goes first
        return None  # what the page says cannot be read

    def click(self, region, button=1):
        x, y, w, h = region
        super().click((self.origin[0] + x, self.origin[1] + y, w, h), button)

    def snap(self, path):
        # The letter box alone from the X server (opened by the shots before): a shot of the
        # whole window takes a tenth of a second and more.
        x, y, w, h = rect(LETTER_BOX)
        window = self.display.create_resource_object("window", self.window_id)
        data = window.get_image(self.origin[0] + x, self.origin[1] + y, w, h, X.ZPixmap,
                                0xFFFFFFFF).data
        Image.frombytes("RGB", (w, h), data, "raw", "BGRX").save(path, compress_level=1)
        return path, (-x, -y)

    def title(self):
        name = subprocess.run(["xdotool", "getwindowname", str(self.window_id)], env=self.env,
                              capture_output=True, text=True).stdout.strip()
        return name.removesuffix(" — Mozilla Firefox")

    def console(self):
        """Only what the page wrote: what it threw is not there."""
        with open(self.browser.firefox_log, errors="replace") as log:
            return [line for line in log.read().splitlines() if line.startswith("console.")]


# ---- The checks only a browser has -------------------------------------------------------------


def the_page(game):
    group("the page")
    check_or_say(f"while it loads, the page says so: '{LOADING}'", game.first_words,
                 lambda words: words == LOADING, "Firefox has no driver")
    check(f"the window's first frame {game.first_frame:.2f} s after the page was asked for",
          game.first_frame < 10, game.first_frame)
    check("the page's title is 'Мигляр'", game.title() == "Мигляр", game.title())
    check_or_say("its icon is the game's, served with the page", game.icon(),
                 lambda icon: icon == "image/png", "Firefox has no driver")
    page, (left, top) = game.page, game.origin
    width, height = page.full
    window = (left - 1, top - 31, CLIENT_PIXELS[0] + 2, CLIENT_PIXELS[1] + 32)  # frame, title bar
    around = page.region((0, 0, width, height)) - page.region(window)
    check("one grey round the window and its title bar", len(around) == 1, around.most_common(3))
    check_or_say("nothing else is on the page: no Qt logo, no loader text, only the game's screen",
                 game.elements(), lambda shown: shown == ["screen"], "Firefox has no driver")
    check("the window 1:1 (499 x 424 pixels at 100 %), centred across the page",
          game.bounds[2:] == CLIENT_PIXELS and abs(window[0] + window[2] / 2 - width / 2) <= 1,
          (game.bounds, width))
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
    check_or_say("nothing in the console but Qt's own notes", game.console(),
                 lambda lines: not [s for s in lines if "rror" in s or "xception" in s],
                 "WebKitGTK's driver keeps it")


def keyboard_at_once(game):
    group("the keyboard, before any click")
    game.key("Tab", "Tab", "Tab", "space")  # from the message box to 'Покажи'
    time.sleep(0.5)
    box = game.shot("keys").colours(rect(LETTER_BOX))
    check("at once: three Tabs and Space press 'Покажи', the cover slides",
          list(box) != [COVER], box.most_common(2))


def touch(game):
    group("touch: a pupil's finger on a tablet or a whiteboard")
    if not game.taps:
        print("--   not here: this browser's driver has no finger", flush=True)
        return
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
    # Shots as they come, each at the middle of its taking; read afterwards.
    with tempfile.TemporaryDirectory(prefix="migliar-clock-") as folder:
        taken = []
        end = time.monotonic() + 10.5
        while time.monotonic() < end:
            before = time.monotonic()
            path, origin = game.snap(os.path.join(folder, f"{len(taken)}.png"))
            taken.append(((before + time.monotonic()) / 2, path, origin))
            time.sleep(max(0, before + 0.05 - time.monotonic()))  # enough to read in good time
        seen = []  # (time, step) while the cover moves
        for when, path, origin in taken:
            # Steps 2/3 of a pixel apart may share their pixels: the shot stands at their middle.
            steps = covered_steps(Shot(path, origin), 0)
            if steps and 5 <= steps[0] and steps[-1] <= 95:
                seen.append((when, sum(steps) / len(steps)))
    # The steps against the time they were seen: the line's slope is the ticks' rate.
    n, took = len(seen), None
    if n > 10:
        took = 100 / statistics.linear_regression(*zip(*seen)).slope
    check(f"100 ticks take 10.0 s ± 1 %: {took and round(took, 3)} s, from {n} of "
          f"{len(taken)} shots", took and 9.9 <= took <= 10.1, seen[:3] + seen[-3:])
