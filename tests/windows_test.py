#!/usr/bin/python3
"""The Windows build under Wine, on an Xvfb of its own: what the files need, the QtTest suites,
the real game played from outside with real clicks and keys, and the installer.

Pixels come from screenshots (ImageMagick), texts through the clipboard (click into a text box,
Ctrl+A, Ctrl+C, read the X clipboard that Wine fills), the window's settings from the X hints
Wine derives from the Windows styles. Artefacts (screenshots, logs, the Wine prefix) are left in
ARTEFACT_FOLDER.

Usage: windows_test.py BUILD_WINDOWS_FOLDER ARTEFACT_FOLDER
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.abspath(sys.argv[1])
OUT = os.path.abspath(sys.argv[2])
sys.path.insert(0, HERE)
# The window's geometry and colours as the desktop suite knows them.
from desktop_test import (BACKGROUND, BLUE, CLEAR, COVER, GREEN, LETTER_BOX, LETTERS,  # noqa: E402
                          MODES, ORANGE, PROMPT, RED, RIGHT_LABEL, SHOW, TEMPLATE, TITLE,
                          TITLE_LABEL, WRONG_LABEL, YELLOW, cover_rect, letter_box_points,
                          letter_rect, option_rect, rect)
import desktop_test as desktop  # noqa: E402
from desktop_test import check, group, wait_for  # noqa: E402

MESSAGE_BOX = rect((120, 4440, 7215, 1815))
TALLIES = [rect((6480, 1200, 735, 405)), rect((6480, 2160, 735, 405))]
SUITES = ["runtime_test", "forms_test", "startup_test", "game_test", "soak_test"]
# What a 64-bit Windows brings itself; anything else the game would have to carry along.
SYSTEM_DLLS = {"advapi32.dll", "comdlg32.dll", "d3d11.dll", "d3d9.dll", "dwmapi.dll",
               "dwrite.dll", "dxgi.dll", "gdi32.dll", "imm32.dll", "kernel32.dll", "msvcrt.dll",
               "netapi32.dll", "ole32.dll", "oleaut32.dll", "setupapi.dll", "shell32.dll",
               "shlwapi.dll", "user32.dll", "userenv.dll", "uxtheme.dll", "version.dll",
               "winmm.dll", "ws2_32.dll", "wtsapi32.dll", "authz.dll", "comctl32.dll",
               "mpr.dll", "bcrypt.dll", "crypt32.dll", "secur32.dll", "shcore.dll", "winspool.drv"}
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\example.migliar.Migliar"

# ---- The files -----------------------------------------------------------------------------------


def pe_facts(path):
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path], capture_output=True,
                          text=True, check=True).stdout
    dlls = sorted({m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)})
    magic = re.search(r"^Magic\s+(\S+)", dump, re.M)
    subsystem = re.search(r"^Subsystem\s+\S+\s+\((.*)\)", dump, re.M)
    return dlls, magic and magic.group(1), subsystem and subsystem.group(1)


def the_files():
    group("the files")
    game = os.path.join(BUILD, "migliar.exe")
    dlls, magic, subsystem = pe_facts(game)
    check("migliar.exe: 64-bit (PE32+)", magic == "020b", magic)
    check("migliar.exe: a GUI program, no console", subsystem == "Windows GUI", subsystem)
    foreign = [dll for dll in dlls if dll not in SYSTEM_DLLS and not dll.startswith("api-ms-")]
    check(f"migliar.exe: only Windows' own DLLs ({', '.join(dlls)})", dlls and not foreign, foreign)
    check("migliar.exe: one file, Qt inside (over 5 MB)", os.path.getsize(game) > 5_000_000,
          os.path.getsize(game))
    setup = os.path.join(BUILD, "migliar-setup.exe")
    dlls, magic, subsystem = pe_facts(setup)
    check("migliar-setup.exe: a 64-bit GUI program", magic == "020b" and subsystem == "Windows GUI",
          (magic, subsystem))
    for suite in SUITES:
        dlls, _, _ = pe_facts(os.path.join(BUILD, "tests", f"{suite}.exe"))
        foreign = [dll for dll in dlls if dll not in SYSTEM_DLLS and not dll.startswith("api-ms-")]
        check(f"{suite}.exe: only Windows' own DLLs", not foreign, foreign)


# ---- Wine on an Xvfb of our own ------------------------------------------------------------------


class Wine:
    def __init__(self):
        self.started = []
        self.runtime = tempfile.mkdtemp(prefix="migliar-wine-runtime-")
        os.chmod(self.runtime, 0o700)
        self.prefix = os.path.join(OUT, "wine")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_", "WAYLAND_", "DBUS_", "WINE"))}
        env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                   XDG_RUNTIME_DIR=self.runtime, LC_ALL="C.UTF-8", LANG="C.UTF-8")
        self.env = env

    def start(self, argv, **options):
        process = subprocess.Popen(argv, env=options.pop("env", self.env),
                                   stdin=subprocess.DEVNULL, start_new_session=True, **options)
        self.started.append(process)
        return process

    def start_x(self):
        read, write = os.pipe()
        self.start(["Xvfb", "-displayfd", str(write), "-noreset", "-nolisten", "tcp", "-screen",
                    "0", "1024x768x24", "-dpi", "96"], pass_fds=(write,),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        end = time.monotonic() + 15
        while not number.endswith(b"\n") and time.monotonic() < end:
            chunk = os.read(read, 16)
            if not chunk:
                break
            number += chunk
        os.close(read)
        if not number.strip():
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def run(self, *argv, timeout=120, **env):
        return subprocess.run(["wine", *argv], env=dict(self.env, **env), capture_output=True,
                              timeout=timeout, stdin=subprocess.DEVNULL)

    def make_prefix(self):
        shutil.rmtree(self.prefix, ignore_errors=True)
        subprocess.run(["wineboot", "-i"], env=self.env, capture_output=True, check=True,
                       timeout=180)
        # Windows' own fonts, as their metric twins.
        for face, twin in (("Times New Roman", "Liberation Serif"), ("Tahoma", "Liberation Sans"),
                           ("MS Shell Dlg", "Liberation Sans"),
                           ("MS Shell Dlg 2", "Liberation Sans"), ("Segoe UI", "Liberation Sans")):
            self.run("reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", face, "/d",
                     twin, "/f")

    def windows_path(self, unix):
        return self.run("winepath", "-w", unix).stdout.decode().strip()

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def xdotool(self, *argv):
        return subprocess.run(["xdotool", *argv], env=self.env, capture_output=True, text=True,
                              timeout=20).stdout

    def window(self, pattern):
        found = self.xdotool("search", "--onlyvisible", "--name", pattern).split()
        return int(found[0]) if found else None

    def stop(self, process):
        if process.poll() is None:
            try:
                os.killpg(process.pid, signal.SIGTERM)
                process.wait(3)
            except (subprocess.TimeoutExpired, ProcessLookupError):
                process.kill()
                process.wait()

    def end(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=30)
        for process in reversed(self.started):
            self.stop(process)
        shutil.rmtree(self.runtime, ignore_errors=True)


# ---- Screenshots ---------------------------------------------------------------------------------


class Shot(desktop.Shot):
    """The X11 suite's screenshot, of a Wine window, kept under the Windows suite's name."""

    def __init__(self, wine, window, name):
        super().__init__(window, name, env=wine.env, prefix="windows")


# ---- The game ------------------------------------------------------------------------------------


class Game:
    """The game in a process of its own. The built one sees no DISPLAY variable, as on Windows,
    although Wine itself still draws on the Xvfb; an installed one starts as it is."""

    def __init__(self, wine, name, installed=None):
        self.wine, self.name = wine, name
        self.log = open(os.path.join(OUT, f"windows-{name}.log"), "w")
        built = wine.windows_path(os.path.join(BUILD, "migliar.exe"))
        argv = ["wine", installed] if installed else ["wine", "cmd", "/c",
                                                      f"set DISPLAY=&& {built}"]
        self.process = wine.start(argv, stdout=self.log, stderr=subprocess.STDOUT)
        self.window = wait_for(lambda: wine.window(f"^{re.escape(TITLE)}$"), 60)
        self.shots = 0

    def geometry(self):
        out = self.wine.xdotool("getwindowgeometry", "--shell", str(self.window))
        values = dict(line.split("=", 1) for line in out.split())
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    def click(self, region, pause=0.15):
        x, y, w, h = region
        self.wine.xdotool("mousemove", "--window", str(self.window), str(x + w // 2),
                          str(y + h // 2), "click", "1")
        time.sleep(pause)

    def keys(self, *names):
        self.wine.xdotool("key", "--delay", "30", *names)
        time.sleep(0.15)

    def type(self, text):
        self.wine.xdotool("type", "--delay", "30", text)
        time.sleep(0.15)

    def copied(self):
        """Ctrl+A, Ctrl+C where the focus is, and what reaches the X clipboard."""
        sentinel = subprocess.Popen(["xclip", "-selection", "clipboard", "-i"], env=self.wine.env,
                                    stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        sentinel.communicate(b"\x01nothing")
        time.sleep(0.2)
        self.keys("ctrl+a", "ctrl+c")

        def read():
            text = subprocess.run(["xclip", "-selection", "clipboard", "-o", "-t", "UTF8_STRING"],
                                  env=self.wine.env, capture_output=True, timeout=5).stdout
            text = text.decode(errors="replace").replace("\r\n", "\n")
            return None if text == "\x01nothing" else text
        # An empty box copies nothing: the clipboard keeps what was there, and the box is empty.
        return wait_for(read, 3) or ""

    def text(self, region):
        self.click(region)
        return self.copied()

    def letter(self):
        """The hidden letter: the letter box is the next focus stop after the message box, and
        copies its letter even while the cover hides it."""
        self.click(MESSAGE_BOX)
        self.keys("Tab")
        return self.copied()

    def shot(self, what):
        self.shots += 1
        return Shot(self.wine, self.window, f"{self.name}-{self.shots:02}-{what}")

    def close(self, window=None):
        subprocess.run([os.path.join(HERE, "wm_close.py"), str(window or self.window)],
                       env=self.wine.env, check=True, timeout=20)

    def ended(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def error_box(self):
        return self.wine.window("^Мигляр$")

    def raise_error(self):
        """Makes the next guess overflow whichever tally counts it, and guesses in a reveal."""
        for tally in TALLIES:
            self.click(tally)
            self.keys("ctrl+a")
            self.type("1e999")
        self.click(rect(SHOW), 0.5)
        self.click(letter_rect(1))
        return wait_for(self.error_box, 10)


def the_window(wine, game):
    group("the window")
    x, y, w, h = game.geometry()
    check("client area 499 x 424 pixels", (w, h) == (499, 424), (w, h))
    hints = subprocess.run(["xprop", "-id", str(game.window), "WM_NORMAL_HINTS",
                            "_MOTIF_WM_HINTS"], env=wine.env, capture_output=True,
                           text=True).stdout
    sizes = re.findall(r"program specified (minimum|maximum) size: (\d+) by (\d+)", hints)
    check("a size that cannot change (minimum = maximum = 499 x 424)",
          sorted(sizes) == [("maximum", "499", "424"), ("minimum", "499", "424")], sizes)
    motif = re.search(r"_MOTIF_WM_HINTS\(_MOTIF_WM_HINTS\) = (.*)", hints)
    values = [int(v, 0) for v in motif.group(1).split(",")] if motif else [0, 0, 0]
    flags, functions, decorations = values[:3]
    resize, minimize, maximize, close = 0x02, 0x08, 0x10, 0x20
    check("no resizing frame: neither the function nor the border",
          flags & 3 == 3 and not functions & resize and not decorations & 0x04, values)
    check("no minimize or maximize, neither box nor function",
          not functions & (minimize | maximize) and not decorations & (0x20 | 0x40), values)
    check("a title bar with the system menu and the close box",
          functions & close and decorations & 0x08 and decorations & 0x10, values)


def start_up_pixels(game):
    group("pixels at start-up")
    shot = game.shot("start")

    def mostly(region, colour, what):
        colours = shot.colours(region)
        top = max(colours, key=colours.get)
        check(f"{what}: {colour}", top == colour and colours[top] * 2 > sum(colours.values()),
              sorted(colours.items(), key=lambda kv: -kv[1])[:3])

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
        corners = [shot.at(x, y), shot.at(x + w - 1, y), shot.at(x, y + h - 1),
                   shot.at(x + w - 1, y + h - 1)]
        outside = [shot.at(x - 1, y + h // 2), shot.at(x + w, y + h // 2)]
        if (corners != [YELLOW] * 4 or outside != [BACKGROUND] * 2
                or shot.dark((x, y, w, h)) < 10):
            misplaced.append(LETTERS[k - 1])
    check("30 yellow letter labels, each at its place with a letter in it", not misplaced,
          misplaced)
    check("the template's place is empty", list(shot.colours(rect(TEMPLATE))) == [BACKGROUND])
    box = shot.colours(rect(LETTER_BOX))
    check("the letter box is covered: no pixel but the cover's", list(box) == [COVER], box)


def covered_steps(shot, mode):
    hidden = {p for p in letter_box_points() if shot.at(*p) == COVER}
    steps = []
    for n in range(0, 101):
        x, y, w, h = cover_rect(mode, n)
        if hidden == {(i, j) for i, j in letter_box_points()
                      if x <= i < x + w and y <= j < y + h}:
            steps.append(n)
    return steps


def verdict_steps(text, verdict):
    found = re.fullmatch(verdict + r"\nСлед брой стъпки: (\d+)\n?", text or "")
    return int(found.group(1)) if found else None


def play(game):
    group("a right guess in 'Горе-Ляво'")
    game.click(option_rect(0))
    letter = game.letter()
    check("the letter box holds one of the 30 letters", letter and letter in LETTERS, letter)
    if not letter or letter not in LETTERS:
        return
    game.click(rect(SHOW), 0.6)
    game.click(letter_rect(LETTERS.index(letter) + 1), 0.4)
    shot = game.shot("right")
    message = game.text(MESSAGE_BOX)
    n = verdict_steps(message, "Да")
    check("the verdict: 'Да', then 'След брой стъпки: ' and the count", n is not None,
          repr(message))
    steps = covered_steps(shot, 0)
    check("the count is the step the cover stopped at", n is not None and n in steps, (n, steps))
    tallies = [game.text(t) for t in TALLIES]
    check("the right tally reads 1, the wrong one stays empty", tallies == ["1", ""], tallies)

    group("'Чисти', then a wrong guess")
    game.click(rect(CLEAR))
    check("'Чисти': the prompt", game.text(MESSAGE_BOX) == PROMPT)
    check("'Чисти': the cover is back over the whole letter",
          list(game.shot("cleared").colours(rect(LETTER_BOX))) == [COVER])
    letter = game.letter()
    other = LETTERS[(LETTERS.index(letter) + 7) % 30] if letter in LETTERS else LETTERS[0]
    game.click(rect(SHOW), 0.4)
    game.click(letter_rect(LETTERS.index(other) + 1), 0.4)
    message = game.text(MESSAGE_BOX)
    n = verdict_steps(message, "Не")
    check(f"'{other}' for '{letter}': 'Не' and the count", n is not None and n >= 1,
          repr(message))
    tallies = [game.text(t) for t in TALLIES]
    check("the wrong tally reads 1, the right one stays 1", tallies == ["1", "1"], tallies)


def run_out(game):
    mode = 3
    group(f"a run-out in '{MODES[mode]}'")
    game.click(rect(CLEAR))
    game.click(option_rect(mode))
    start = time.monotonic()
    game.click(rect(SHOW), 0)
    time.sleep(max(0, start + 5 - time.monotonic()))
    steps = covered_steps(game.shot("halfway"), mode)
    check("after 5 s the cover has slid halfway the mode's way", steps and 25 < steps[0] < 75,
          steps)
    box = rect(LETTER_BOX)

    def uncovered():
        shot = Shot(game.wine, game.window, f"{game.name}-run-out")
        return shot if not any(shot.at(*p) == COVER for p in letter_box_points()) else None
    shot = wait_for(uncovered, 10, 0.3)
    took = time.monotonic() - start
    check(f"after 100 ticks of 100 ms ({took:.1f} s) the whole letter shows",
          shot and 9.5 < took < 13 and shot.dark(box) > 100, took)
    final = cover_rect(mode, 100)
    visible = (final[0], final[1], min(final[2], 499 - final[0]), min(final[3], 424 - final[1]))
    check(f"... and the cover stands at {final}", shot and list(shot.colours(visible)) == [COVER])


def the_error_box(game):
    group("the error box")
    game.click(rect(CLEAR))
    box = game.raise_error()
    check("1e999 in the tallies, then a guess: a box titled 'Мигляр'", box)
    if not box:
        return
    game.shot("error-box")
    Shot(game.wine, box, f"{game.name}-error-box-alone")
    # A message box copies its text with Ctrl+C on Windows.
    game.wine.xdotool("windowfocus", str(box))
    text = game.copied()
    check("it tells a run-time error and its number", text and "Грешка при изпълнение" in text,
          repr(text))


def closing(wine):
    group("closing at any moment")

    def close_and_wait(game, what, window=None):
        asked = time.monotonic()
        game.close(window)
        status = game.ended(20)
        took = time.monotonic() - asked
        check(f"{what}: the process ends ({took:.1f} s) with status 0", status == 0, status)
        wine.stop(game.process)

    game = Game(wine, "close-at-once")
    check("at once: the window shows", game.window)
    if game.window:
        close_and_wait(game, "at once")
    game = Game(wine, "close-reveal")
    if game.window:
        time.sleep(1)
        game.click(rect(SHOW), 0.7)
        close_and_wait(game, "in a reveal")
    game = Game(wine, "close-error-box")
    if game.window:
        time.sleep(1)
        box = game.raise_error()
        check("over the error box: the box shows", box)
        close_and_wait(game, "over the error box")
    game = Game(wine, "close-box-then-game")
    if game.window:
        time.sleep(1)
        box = game.raise_error()
        if box:
            game.close(box)
            gone = wait_for(lambda: not game.error_box(), 10)
            check("closing the box goes back to the game", gone and game.process.poll() is None)
        close_and_wait(game, "then the game")


# ---- The installer -------------------------------------------------------------------------------


def registry(wine, key):
    """The key's values as Windows holds them (reg query's console output would lose the
    Cyrillic), or None when there is no such key."""
    exported = os.path.join(OUT, "windows-key.reg")
    if os.path.exists(exported):
        os.remove(exported)
    if wine.run("reg", "export", key, wine.windows_path(exported), "/y").returncode != 0:
        return None
    with open(exported, encoding="utf-16") as text:
        lines = text.read().splitlines()
    values = {}
    for line in lines:
        found = re.fullmatch(r'"([^"]+)"=(?:"(.*)"|dword:([0-9a-f]{8}))', line)
        if found:
            name, string, dword = found.groups()
            values[name] = int(dword, 16) if dword else re.sub(r"\\(.)", r"\1", string)
    return values


def the_installer(wine):
    group("the installer, silent")
    program = r"C:\Program Files\Мигляр"
    folder = wine.drive_c("Program Files", "Мигляр")
    entry = wine.drive_c("ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
                         "Мигляр.lnk")
    run = wine.run(os.path.join(BUILD, "migliar-setup.exe"), "/S", timeout=120)
    check("migliar-setup.exe /S: status 0", run.returncode == 0, run.returncode)
    installed = sorted(os.listdir(folder)) if os.path.isdir(folder) else None
    check("the game under Program Files\\Мигляр", installed == ["migliar.exe", "uninstall.exe"],
          installed)
    same = installed and open(os.path.join(folder, "migliar.exe"), "rb").read() == open(
        os.path.join(BUILD, "migliar.exe"), "rb").read()
    check("... the very migliar.exe that was built", same)
    # The shortcut keeps its target in UTF-16 too, which is what Windows reads of a Cyrillic path.
    target = (program + r"\migliar.exe").encode("utf-16-le")
    check("the Start-menu entry 'Мигляр', pointing at the game",
          os.path.isfile(entry) and target in open(entry, "rb").read())
    values = registry(wine, UNINSTALL_KEY) or {}
    expected = {"DisplayName": "Мигляр", "Publisher": "www.migliar.example",
                "DisplayVersion": "1.0.0.0", "NoModify": 1, "NoRepair": 1,
                "DisplayIcon": program + r"\migliar.exe,0",
                "UninstallString": f'"{program}\\uninstall.exe"',
                "QuietUninstallString": f'"{program}\\uninstall.exe" /S'}
    wrong = {k: (values.get(k), v) for k, v in expected.items() if values.get(k) != v}
    check("the uninstall entry in the registry", values and not wrong, wrong or values)

    group("the installed game")
    game = Game(wine, "installed", installed=program + r"\migliar.exe")
    check("the window shows", game.window)
    if game.window:
        game.shot("installed")
        game.close()
        check("and closes with status 0", game.ended(20) == 0)
    wine.stop(game.process)

    group("the uninstaller, silent")
    quiet = re.fullmatch(r'"([^"]+)"\s*(.*)', values.get("QuietUninstallString", ""))
    if not check("the quiet uninstall command is there", quiet):
        return
    run = wine.run(quiet.group(1), *quiet.group(2).split(), timeout=120)
    check("it runs: status 0", run.returncode == 0, run.returncode)
    # The uninstaller goes on from a copy in the temporary folder after its first part returns.
    gone = wait_for(lambda: not os.path.exists(folder) and not os.path.exists(entry)
                    and registry(wine, UNINSTALL_KEY) is None, 60, 0.5)
    check("nothing is left: no folder, no Start-menu entry, no registry key", gone,
          (os.path.exists(folder) and os.listdir(folder), os.path.exists(entry),
           registry(wine, UNINSTALL_KEY)))


# ---- The suite -----------------------------------------------------------------------------------


def qt_suites(wine):
    group("the QtTest suites, built for Windows, under Wine")
    # Wine keeps the QT_ variables from Windows programs: the platform is set on Windows' side,
    # with the fonts Qt's offscreen platform reads on Windows (Liberation for Times New Roman).
    # QtTest writes its log to a file: a Windows console program's output does not reach a pipe.
    fonts = wine.windows_path("/usr/share/fonts/truetype/liberation")
    for suite in SUITES:
        exe = wine.windows_path(os.path.join(BUILD, "tests", f"{suite}.exe"))
        log = os.path.join(OUT, f"windows-{suite}.log")
        if os.path.exists(log):
            os.remove(log)
        started = time.monotonic()
        try:
            status = wine.run("cmd", "/c", f"set QT_QPA_PLATFORM=offscreen&& set QT_QPA_FONTDIR="
                              f"{fonts}&& {exe} -o {wine.windows_path(log)},txt",
                              timeout=900).returncode
        except subprocess.TimeoutExpired:
            status = "timeout"
        output = open(log, errors="replace").read() if os.path.exists(log) else ""
        totals = re.search(r"Totals: .*", output)
        check(f"{suite} ({time.monotonic() - started:.0f} s): "
              + (totals.group(0) if totals else "no totals"), status == 0 and totals,
              f"status {status}, see windows-{suite}.log")


def main():
    os.makedirs(OUT, exist_ok=True)
    for old in os.listdir(OUT):
        if old.startswith("windows-"):
            os.remove(os.path.join(OUT, old))

    def stop(signum, _frame):
        raise SystemExit(f"stopped by signal {signum}")

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, stop)
    wine = Wine()
    try:
        the_files()
        wine.start_x()
        wine.make_prefix()
        qt_suites(wine)
        group("the game")
        game = Game(wine, "game")
        if not check("the window shows", game.window):
            raise RuntimeError("no window")
        try:
            time.sleep(1)
            the_window(wine, game)
            start_up_pixels(game)
            play(game)
            run_out(game)
            the_error_box(game)
        finally:
            wine.stop(game.process)
        closing(wine)
        the_installer(wine)
    except BaseException as error:  # a harness failure or a signal counts as a failed check
        check("the suite ran to its end", False, f"{type(error).__name__}: {error}")
    finally:
        wine.end()
    print(f"\n{desktop.passed} passed, {desktop.failed} failed")
    return 0 if desktop.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
