"""The browser back end: the WebAssembly build's page, served on 127.0.0.1, played in one engine a
suite, each game a fresh load. Chromium (headless) and WebKit (WebKitGTK's, on an Xvfb of the
suite's: the engine of every browser on an iPad) are driven over WebDriver with Debian's Selenium;
Firefox, which Debian gives no driver, is an X window played with xdotool. Pixels come from
screenshots, texts through the clipboard (a click into the box, Ctrl+A, Ctrl+C): headless
Chromium's own, the X server's elsewhere. Also what only a browser has: the page, the keyboard at
once, touch, the clock of a reveal."""

import base64
import glob
import http.server
import io
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

from design import (BACKGROUND, CLEAR, CLIENT_PIXELS, COVER, LETTER_BOX, MESSAGE, MESSAGE_BOX,
                    PROMPT, SHOW, TALLY_BOXES, TEXT_BOXES, Shot, client_area, covered_steps,
                    ink_columns, label_of, letter_rect, option_rect, overlap, rect,
                    verdict_steps)
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
                 "devtools.console.stdout.content": True,
                 # The page asks to keep its storage: Firefox asks the pupil, here answered.
                 "dom.storageManager.prompt.testing": True,
                 "dom.storageManager.prompt.testing.allow": True}


# A strict school site's policy: no inline script, no code made at run time.
POLICY = "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'"


class Server:
    """A static web server on 127.0.0.1, as a school's: under its strict policy, and asking the
    browser to check every file anew (no-cache), as many do for a page. Its folder can change (a
    deploy), and it can be down (the line is). It also serves pages of another site's (an LMS
    lesson's, at http://localhost), outside the game's folder and policy."""

    def __init__(self, folder):
        self.folder, self.others, self.httpd = folder, {}, None
        server = self

        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *args, **kwargs):
                super().__init__(*args, directory=server.folder, **kwargs)

            def handle_one_request(self):
                if server.down:
                    self.close_connection = True  # one kept open from before: dropped
                else:
                    super().handle_one_request()

            def send_head(self):
                other = server.others.get(self.path)
                if other is None:
                    return super().send_head()
                self.send_response(200)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(other)))
                super().end_headers()
                return io.BytesIO(other)

            def end_headers(self):
                self.send_header("Content-Security-Policy", POLICY)
                self.send_header("Cache-Control", "no-cache")
                super().end_headers()

            def log_message(self, *_):
                pass
        self.handler, self.port = Handler, 0
        self.down = False
        self.address = f"http://127.0.0.1:{self.port}/"

    @property
    def down(self):
        return self.httpd is None

    @down.setter
    def down(self, gone):
        """Gone, the server refuses every connection, as a machine switched off does."""
        if gone and self.httpd:
            self.httpd.shutdown()
            self.httpd.server_close()
            self.httpd = None
        elif not gone and not self.httpd:
            self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", self.port), self.handler)
            self.port = self.httpd.server_address[1]
            threading.Thread(target=self.httpd.serve_forever, daemon=True).start()


def press_at(driver, x, y, kind="touch", button=1):
    """A click or a tap at a place of the page's view, in its CSS pixels (WebDriver counts the
    buttons from 0, X from 1)."""
    actions = ActionBuilder(driver, mouse=PointerInput(kind, kind))
    actions.pointer_action.move_to_location(round(x), round(y)).click(button=button - 1)
    actions.perform()


def check_or_say(what, value, ok, why):
    """A check of what a browser tells (value), or a word on why it cannot tell (None)."""
    if value is None:
        print(f"--   {what}: not read in this browser ({why})", flush=True)
    else:
        check(what, ok(value), value)


class Browser:
    """The suite's web server and its one browser: a WebDriver session, or Firefox's window."""

    def __init__(self, engine, site, out, screen=None):
        """screen: (width, height, pixel ratio) of a phone's or a tablet's, touch on, as
        chromedriver's mobile emulation gives it."""
        self.engine, self.site, self.out, self.screen = engine, site, out, screen
        self.processes = Processes()
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("WAYLAND_", "MOZ_"))}
        self.driver = self.service = self.firefox = None

    def start(self):
        self.server = Server(self.site)
        self.address = self.server.address
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
            if self.screen:
                width, height, ratio = self.screen
                options.add_experimental_option("mobileEmulation", {"deviceMetrics": {
                    "width": width, "height": height, "pixelRatio": ratio, "touch": True,
                    "mobile": True}})
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

    def game(self, name, page=None):
        """The game on a fresh load of its page, or of another page with it in a frame."""
        return FirefoxGame(self, name) if self.firefox else DriverGame(self, name, page)

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

    def box_icon(self):
        """The right and top edges of the error box's red icon (told from 'Чисти' by its shade
        and place), by which the box's text and button lie; None without it."""
        shot = self.glance("box-icon")

        def red(point):
            r, g, b = shot.at(*point)
            return r > 150 and g < 90 and b < 90 and not overlap(point + (1, 1), rect(CLEAR))[2]
        icon = [p for p in shot.points((0, 0) + CLIENT_PIXELS) if red(p)]
        return icon and (max(i for i, _ in icon), min(j for _, j in icon))

    def error_text(self):
        # The box's text can be selected: a click into its first line, which starts beside the
        # top of the icon; Ctrl+A, Ctrl+C.
        icon = self.box_icon()
        if not icon:
            return ""
        self.click((icon[0] + 50, icon[1] + 10, 0, 0))
        return self.copied()

    def icon(self):
        return None  # where no driver reads the page

    elements = installable = kept = icon

    def settled(self):
        """Gives the service worker the time to keep a newer build, as a pupil who plays a while
        does."""
        time.sleep(3)

    def stop(self):
        pass  # the next game loads the page anew


class DriverGame(BrowserGame):
    """Chromium and WebKit over WebDriver: its pointer and key actions, its screenshots."""

    def __init__(self, browser, name, page=None):
        self.driver, self.chromium = browser.driver, browser.engine == "chromium"
        self.taps = self.chromium  # WebKitGTK's driver hands a touch on as a mouse click
        self.address = page or browser.address
        super().__init__(browser, name)

    def load(self):
        """Asks for the page; gives what it says while the game loads. The line stays in the
        page, hidden, once the game shows: read then, it is read whether or not the game was
        quicker than the driver's first look."""
        self.driver.get(self.address)
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
        press_at(self.driver, *self.on_page(region), kind, button)
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
        """The type of each icon the page names: its own, an iPad's home screen's."""
        return self.driver.execute_script(
            "return Promise.all(['icon', 'apple-touch-icon'].map(rel => (link => link && fetch("
            "link.href).then(r => r.ok && r.headers.get('content-type')))(document.querySelector("
            "`link[rel=${rel}]`))))")

    def installable(self):
        """What Chromium finds in the way of installing the page as an app, and the app's name
        and language."""
        if not self.chromium:
            return None
        errors = self.driver.execute_cdp_cmd("Page.getInstallabilityErrors", {})
        manifest = self.driver.execute_script(
            "const link = document.querySelector('link[rel=manifest]');"
            "return link ? fetch(link.href).then(r => r.json()) : {}")
        return errors["installabilityErrors"], manifest.get("name"), manifest.get("lang")

    def kept(self):
        """The caches the page's origin keeps."""
        return self.driver.execute_script("return caches.keys()")

    def settled(self):
        # The page asks for the worker's update once the game shows; after a start offline
        # Chromium waits a few seconds before it looks. Then the worker's install to its end.
        super().settled()
        self.driver.execute_script(
            "return navigator.serviceWorker.getRegistration().then(r => r && r.installing &&"
            " new Promise(done => r.installing.addEventListener('statechange', done)))")

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
    check_or_say("its icon and an iPad's home-screen icon are the game's, served with the page",
                 game.icon(), lambda icons: icons == ["image/png"] * 2, "Firefox has no driver")
    check_or_say("installable as an app 'Мигляр' in Bulgarian: Chromium finds nothing in the way",
                 game.installable(), lambda found: found == ([], "Мигляр", "bg"),
                 "only Chromium tells")
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
    check_or_say("nothing in the console but Qt's own notes: no error, nothing the site's "
                 "policy refused", game.console(), lambda lines: not [
                     s for s in lines if "rror" in s or "xception" in s or "Security Policy" in s],
                 "WebKitGTK's driver keeps it")


def no_browser_menu(game):
    """A right click (and on a touch screen a long press, which chromedriver cannot make) opens no
    menu of the browser's over the game."""
    if not getattr(game, "chromium", False):
        # WebKitGTK's driver releases no right button after the menu event: the game would
        # take no press after it.
        print("--   a right click's menu: not read here (Firefox has no driver; WebKitGTK's "
              "leaves the right button down)", flush=True)
        return
    game.driver.execute_script("window.menus = []; addEventListener('contextmenu',"
                               " event => window.menus.push(event.defaultPrevented))")
    game.click(letter_rect(5), 3)
    menus = game.driver.execute_script("return window.menus")
    check("a right click opens no menu of the browser's over the game", menus == [True], menus)


def keyboard_at_once(game):
    group("the keyboard, before any click")
    box = keyboard(game)
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


def keyboard(game):
    game.key("Tab", "Tab", "Tab", "space")  # from the message box to 'Покажи'
    time.sleep(0.5)
    return game.shot("keys").colours(rect(LETTER_BOX))


def in_a_lesson(session):
    group("in a lesson: the page in a frame of another site's")
    if session.firefox:
        print("--   not here: Firefox has no driver to open another page", flush=True)
        return
    # The line the README gives, in a page of another origin's.
    session.server.others["/lesson.html"] = (
        '<!doctype html><meta charset="utf-8"><p>Урок</p><iframe src="'
        f'{session.address}" width="520" height="480" title="Мигляр"></iframe>').encode()
    game = session.game("lesson", session.address.replace("127.0.0.1", "localhost") + "lesson.html")
    game.click(rect(MESSAGE_BOX))
    box = keyboard(game)
    check("the game plays in the frame: after a click into it, three Tabs and Space press "
          "'Покажи'", list(box) != [COVER], box.most_common(2))


def offline(session):
    """It takes the server away, deploys other builds and leaves the last good one served."""
    group("offline: a build kept whole; a new one reaches the pupil, a broken one never")
    server, stamp = session.server, os.path.join(os.path.dirname(__file__), "..", "..",
                                                  "packaging", "web", "stamp.cmake")
    session.game("kept").settled()
    server.down = True
    try:
        game = session.game("offline")
        game.press("Покажи")
        time.sleep(0.5)
        box = game.shot("offline").colours(rect(LETTER_BOX))
        check("the server gone: the game starts, and 'Покажи' slides the cover",
              list(box) != [COVER], box.most_common(2))
    except RuntimeError as error:
        check("the server gone: the game starts", False, error)
    server.down = False

    def deploy(title, broken=False):
        """The page again, its title told apart, named anew by the build's own step."""
        folder = os.path.join(session.out, f"{session.engine}-deploy-{title}")
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(session.site, folder, ignore=shutil.ignore_patterns("*.gz", "*.br"))
        page = os.path.join(folder, "index.html")
        with open(page) as file:
            text = file.read().replace("<title>Мигляр</title>", f"<title>{title}</title>")
        with open(page, "w") as file:
            file.write(text)
        subprocess.run(["cmake", f"-DSITE={folder}", "-P", stamp], check=True)
        if broken:  # cut short on its way to the server
            os.truncate(os.path.join(folder, "migliar.wasm"), 1000000)
        server.folder = folder
        with open(os.path.join(folder, "service-worker.js")) as worker:
            return "migliar-" + worker.read().split('const BUILD = "')[1].split('"')[0]

    try:
        kept = deploy("Мигляр 2")
        loads = []
        while len(loads) < 3 and (not loads or loads[-1][0] != "Мигляр 2"):
            game = session.game(f"update-{len(loads) + 1}")
            loads.append((game.title(), game.kept()))
            game.settled()
        check(f"a new build plays within three loads: {[title for title, _ in loads]}",
              loads[-1][0] == "Мигляр 2", loads)
        check_or_say("... and only it is kept", loads[-1][1], lambda caches: caches == [kept],
                     "Firefox has no driver")
        deploy("Мигляр 3", broken=True)
        loads = []
        for load in range(3):
            game = session.game(f"broken-{load + 1}")
            loads.append((game.title(), game.kept()))
            game.settled()
        check("a deploy with its program broken: three loads later the kept build still plays",
              all(title == "Мигляр 2" for title, _ in loads), loads)
        check_or_say("... and still only it is kept", loads[-1][1], lambda caches: caches == [kept],
                     "Firefox has no driver")
    finally:
        server.folder = session.site


# Screens a pupil meets (CSS pixels, pixel ratio), each in a Chromium of its own.
SCREENS = [("a phone", 360, 780, 3), ("a small phone", 375, 667, 2),
           ("a phone turned", 780, 360, 3), ("the smallest", 320, 480, 1),
           ("a tablet", 810, 1080, 2), ("a Chromebook", 1366, 768, 1),
           ("the largest", 2560, 1440, 1)]
FRAMED = (CLIENT_PIXELS[0] + 2, CLIENT_PIXELS[1] + 32)  # with the edge and the title bar


def screens(engine, site, out):
    group("whole on every screen: phones, tablets, Chromebooks, touch on")
    if engine != "chromium":
        print("--   not here: only chromedriver emulates a phone's screen; WebKitGTK and a "
              "desktop's Firefox apply no viewport <meta>", flush=True)
        return
    for name, width, height, ratio in SCREENS:
        session = Browser(engine, site, out, (width, height, ratio))
        try:
            session.start()
            session.driver.get(session.address)
            what = f"{name} ({width} x {height}, x{ratio})"
            seen = fitted(session, what, (width, height, ratio))
            if seen and name == "a phone":
                session.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                    "width": height, "height": width, "deviceScaleFactor": ratio,
                    "mobile": True})
                fitted(session, "... turned", (height, width, ratio), centred=True)
            elif seen:
                tapped(session, what, *seen)
        finally:
            session.end()


def fitted(session, what, screen, centred=False):
    """The window whole on the screen at the largest scale that fits, 1:1 where it fits as it is,
    its proportions kept. Gives where its client area lies in the screen's own pixels, and how
    many of them one of the window's takes."""
    width, height, ratio = screen
    path = os.path.join(session.out, f"chromium-screen-{width}x{height}.png")

    def found():  # once drawn whole at its new size: a turned screen is fitted again
        area = client_area(Shot(session.driver.get_screenshot_as_file(path) and path))
        return area and abs(area[3] / area[2] - CLIENT_PIXELS[1] / CLIENT_PIXELS[0]) < 0.01 and (
            area, area[2] / CLIENT_PIXELS[0])
    time.sleep(0.5)
    seen = wait_for(found, 30, 0.2)
    if not check(f"{what}: the window shows, its proportions kept", seen):
        return None
    (x, y, w, h), k = seen
    left, top, right, bottom = x - k, y - 31 * k, x + w + k, y + h + k
    shown = (right - left) / (FRAMED[0] * ratio)
    fits = width >= FRAMED[0] and height >= FRAMED[1]
    check(f"{what}: whole, at {shown:.2f} of its size" + (", in the middle" if centred else ""),
          left >= 0 and top >= 0 and right <= width * ratio + 1 and bottom <= height * ratio + 1
          and (abs(shown - 1) < 0.01 if fits else
               right - left >= 0.9 * width * ratio or bottom - top >= 0.9 * height * ratio)
          and (not centred or abs(left + right - width * ratio) < 4
               and abs(top + bottom - height * ratio) < 4),
          ((x, y, w, h), k, (width, height, ratio)))
    return (x, y), k


def tapped(session, what, origin, k):
    """Taps land where aimed at any scale: on 'Долу-Дясно', whose dot shows, then on 'Покажи',
    whose reveal uncovers the letter box's right edge first."""
    path = os.path.join(session.out, "chromium-screen-tapped.png")

    def region(place):  # a place in the window, in the screen's pixels
        return tuple(round(origin[i % 2] * (i < 2) + place[i] * k) for i in range(4))

    def tap(place):  # WebDriver's places are the page's CSS pixels: one a pixel of the window
        x, y, w, h = region(place)
        press_at(session.driver, (x + w / 2) / k, (y + h / 2) / k)
        time.sleep(0.3)
    option = option_rect(3)
    tap(option)
    dot = Shot(session.driver.get_screenshot_as_file(path) and path).dark(
        region(option[:2] + (option[3], option[3])))
    tap(rect(SHOW))
    time.sleep(0.8)  # 8 ticks: 80 twips, 5 pixels of the window's
    shot = Shot(session.driver.get_screenshot_as_file(path) and path)
    x, y, w, h = rect(LETTER_BOX)
    right, left = (shot.colours(region((x + w - 3, y + 8, 1, h - 16))),
                   shot.colours(region((x + 6, y + 8, 1, h - 16))))
    check(f"{what}: taps land: 'Долу-Дясно' selected, 'Покажи' uncovers the right edge first",
          dot > 0 and COVER not in right and left[COVER] >= 0.9 * sum(left.values()),
          (dot, right.most_common(2), left.most_common(2)))


# What a touch screen's system calls itself decides how Qt brings up its keyboard: an iPad says it
# is a Mac, a Chromebook Linux (an Android phone's way is Qt's own, unchanged).
SYSTEMS = {
    "an iPad": ("MacIntel", "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15"
                " (KHTML, like Gecko) Version/17.0 Safari/605.1.15"),
    "a Chromebook": ("Linux x86_64", "Mozilla/5.0 (X11; CrOS x86_64 15633.69.0) AppleWebKit/"
                     "537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36"),
}


def touch_screens(engine, site, out):
    """A tablet 1:1, as each system: the keyboard by a tap, the error box by taps; a pinch."""
    group("a touch screen's own keyboard, the error box by taps, a pinch")
    if engine != "chromium":
        print("--   not here: only chromedriver emulates a touch screen", flush=True)
        return
    for n, (system, (platform, agent)) in enumerate(SYSTEMS.items()):
        session = Browser(engine, site, out, (810, 1080, 1))
        try:
            session.start()
            session.driver.execute_cdp_cmd("Emulation.setUserAgentOverride",
                                           {"userAgent": agent, "platform": platform})
            game = session.game(system.split()[-1])
            typed(game, system)
            if n == 0:
                pinch(game)
        finally:
            session.end()


def typed(game, system):
    """A tap into each tally, then 1e999 typed: the error box at the next guess, as with a real
    keyboard, shows that it went into the tally. (Read back by Ctrl+A, Ctrl+C it would not be: as
    a Mac an iPad copies with Cmd.)"""
    fields = []
    for tally in TALLY_BOXES:
        game.tap(rect(tally))
        fields.append(game.driver.execute_script("return document.activeElement.tagName"))
        game.type("1e999")
    check(f"{system}: a tap into a tally brings up the keyboard: a text field of Qt's takes it",
          fields == ["INPUT"] * 2, fields)
    game.tap(rect(SHOW))
    time.sleep(0.3)
    game.tap(letter_rect(1))
    check(f"{system}: '1e999' typed so, the error box at the next guess",
          wait_for(game.error_box, 10))
    icon = game.box_icon()  # 'Добре' stands below and right of it
    if icon:
        game.tap((icon[0] + 215, icon[1] + 63, 0, 0))
    check(f"{system}: a tap on 'Добре' closes it", wait_for(lambda: not game.error_box(), 3))


def pinch(game):
    driver = game.driver
    # A pinch (a trackpad's: the game takes a finger's touches on its window) on the grey
    # above 'Покажи', which stays in view. WebDriver's places are then the zoomed view's.
    x, y = game.on_page(rect(SHOW))
    driver.execute_cdp_cmd("Input.synthesizePinchGesture",
                           {"x": x, "y": game.origin[1] - 40, "scaleFactor": 2})
    scale, left, top = driver.execute_script(
        "const v = visualViewport; return [v.scale, v.offsetLeft, v.offsetTop]")
    press_at(driver, x - left, y - top)
    time.sleep(0.5)
    driver.execute_cdp_cmd("Emulation.resetPageScaleFactor", {})
    time.sleep(0.3)
    box = game.shot("pinched").colours(rect(LETTER_BOX))
    check(f"a pinch enlarges the page ({scale:.1f}x), and the game plays on: a tap on 'Покажи' "
          "slides the cover", scale > 1.5 and list(box) != [COVER], (scale, box.most_common(2)))
