"""The Windows back end: the Windows build under Wine, on an Xvfb of its own. Real clicks and keys
go in through xdotool; pixels come from the X server, texts through the clipboard
(click into a text box, Ctrl+A, Ctrl+C, read the X clipboard that Wine fills), the window's
settings from the X hints Wine derives from the Windows styles. Also what only Windows has: the
files' needs, the QtTest suites built for Windows, and the installer."""

import contextlib
import glob
import os
import re
import shutil
import subprocess
import time

from design import CLIENT_PIXELS
from harness import check, group, wait_for
from x11 import BOX_TITLE, GAME_TITLE, XServer, XWindowGame, viewable, window_hints

SUITES = ["runtime_test", "forms_test", "startup_test", "game_test", "soak_test",
          "teardown_test"]
# What a 64-bit Windows brings itself; anything else the game would have to carry along.
SYSTEM_DLLS = {f"{name}.dll" for name in (
    "advapi32 comdlg32 d3d11 d3d9 dwmapi dwrite dxgi gdi32 imm32 kernel32 msvcrt netapi32 ole32 "
    "oleaut32 setupapi shell32 shlwapi user32 userenv uxtheme version winmm ws2_32 wtsapi32 authz "
    "comctl32 mpr bcrypt crypt32 secur32 shcore "
    "d3d12").split()} | {"winspool.drv"}  # d3d12: Windows 10's; Qt 6.8 (Debian 13) links it
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
# Where both installers put the game, as Windows names it.
PROGRAM = r"C:\Program Files\Мигляр"
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
ICON = os.path.join(ROOT, "data", "migliar.ico")


class Wine(XServer):
    """Wine on an Xvfb of our own, in a prefix of our own among the artefacts."""

    def __init__(self, build, out):
        # Wine's own environment, and a runtime folder of its own.
        super().__init__(out, {k: v for k, v in os.environ.items() if not k.startswith(
            ("QT_", "WAYLAND_", "DBUS_", "WINE", "XDG_RUNTIME_DIR"))})
        self.build, self.prefix = build, os.path.join(out, "wine")
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8", LANG="C.UTF-8")

    def start(self):
        super().start()
        shutil.rmtree(self.prefix, ignore_errors=True)
        subprocess.run(["wineboot", "-i"], env=self.env, capture_output=True, check=True,
                       timeout=180)
        # Windows' own fonts, as their metric twins.
        for face in ("Times New Roman", "Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Segoe UI"):
            twin = "Liberation Serif" if face == "Times New Roman" else "Liberation Sans"
            self.run("reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", face, "/d",
                     twin, "/f")
        # wineboot returns while the new prefix is still being set up by programs of its own;
        # the tests start once they have all ended.
        subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True, timeout=120)
        if os.readlink(os.path.join(self.prefix, "dosdevices", "z:")) != "/":
            raise RuntimeError("the new Wine prefix does not map / to Z:")

    def run(self, *argv, timeout=120, **env):
        return subprocess.run(["wine", *argv], env=dict(self.env, **env), capture_output=True,
                              timeout=timeout, stdin=subprocess.DEVNULL)

    def windows_path(self, unix):
        # Said here, not asked of winepath: once in a while it answered nothing, and a suite then
        # ran with no log to write to.
        return "Z:" + os.path.abspath(unix).replace("/", "\\")

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def end(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=30)
        super().end()


class WineGame(XWindowGame):
    """The built game sees no DISPLAY, as on Windows (Wine still draws on the Xvfb)."""

    pause, delay, settle = 0.15, 30, 0.15  # Wine passes input on more slowly
    # The box's hiding with its window is Windows' own business, not the window manager's.
    iconifies_box = False
    # Windows' frame round the window, whose corner Qt puts where the game asks, does not show
    # on the X server: whether the window stands centred is not seen from here.
    places = False
    owns_windows = False  # Wine's own processes do, not the one started
    # Under Wine, on an X server with no window manager, a window asked to close goes 2 s later,
    # every time (2.04 to 2.08 s for the box, 2.1 s for the window), where the same game on X11
    # closes the box at once.
    close_takes = 2.5
    fastest_run_out = 9.5  # Windows' timers keep its 15.6 ms clock; shots come 0.3 s apart

    def __init__(self, wine, name, installed=None):
        built = wine.windows_path(os.path.join(wine.build, "migliar.exe"))
        super().__init__(wine, "windows", name, ["wine", installed] if installed else [
            "wine", "cmd", "/c", f"set DISPLAY=&& {built}"], 60, group=True)
        # Wine maps the window before the game takes messages, and a close sent in between was
        # seen lost; a pupil's first chance to close it is its first frame.
        if not self.drawn("drawn", 30):
            raise RuntimeError(f"{name}: the window is never drawn")

    def stop(self):
        super().stop()
        # Wine takes the windows down a moment after the process has gone, and the next game's
        # window gets the same X id: the next game must not find this one's.
        wait_for(lambda: not any(viewable(w) for w in self.server.windows(
            title=f"{GAME_TITLE}|{BOX_TITLE}")), 10)

    def error_text(self):
        return self.copied()  # a message box copies its text with Ctrl+C on Windows


# ---- The checks only Windows has -----------------------------------------------------------------


def pe_facts(path):
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path], capture_output=True,
                          text=True, check=True).stdout
    dlls = sorted({m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)})
    foreign = [dll for dll in dlls if dll not in SYSTEM_DLLS and not dll.startswith("api-ms-")]
    magic = re.search(r"^Magic\s+(\S+)", dump, re.M)
    subsystem = re.search(r"^Subsystem\s+\S+\s+\((.*)\)", dump, re.M)
    return dlls, foreign, magic and magic.group(1), subsystem and subsystem.group(1)


def the_files(build):
    group("the files")
    game = os.path.join(build, "migliar.exe")
    dlls, foreign, magic, subsystem = pe_facts(game)
    check("migliar.exe: 64-bit (PE32+)", magic == "020b", magic)
    check("migliar.exe: a GUI program, no console", subsystem == "Windows GUI", subsystem)
    check(f"migliar.exe: only Windows' own DLLs ({', '.join(dlls)})", dlls and not foreign, foreign)
    check("migliar.exe: one file, Qt inside (over 5 MB)", os.path.getsize(game) > 5_000_000,
          os.path.getsize(game))
    _, _, magic, subsystem = pe_facts(os.path.join(build, "migliar-setup.exe"))
    check("migliar-setup.exe: a 64-bit GUI program", magic == "020b" and subsystem == "Windows GUI",
          (magic, subsystem))
    for suite in SUITES:
        foreign = pe_facts(os.path.join(build, "tests", f"{suite}.exe"))[1]
        check(f"{suite}.exe: only Windows' own DLLs", not foreign, foreign)


def qt_suites(wine):
    group("the QtTest suites, built for Windows, under Wine")
    # Wine keeps the QT_ variables from Windows programs: the platform is set on Windows' side,
    # with the fonts Qt's offscreen platform reads on Windows (Liberation for Times New Roman).
    # QtTest writes its log to a file: a Windows console program's output does not reach a pipe.
    fonts = wine.windows_path("/usr/share/fonts/truetype/liberation")
    for suite in SUITES:
        exe = wine.windows_path(os.path.join(wine.build, "tests", f"{suite}.exe"))
        log = os.path.join(wine.out, f"windows-{suite}.log")
        with contextlib.suppress(FileNotFoundError):
            os.remove(log)
        started, line = time.monotonic(), (f"set QT_QPA_PLATFORM=offscreen&& set "
                                           f"QT_QPA_FONTDIR={fonts}&& {exe} -o "
                                           f"{wine.windows_path(log)},txt")
        try:
            run = wine.run("cmd", "/c", line, timeout=300)
            status, said = run.returncode, line.encode() + b"\n" + run.stdout + run.stderr
        except subprocess.TimeoutExpired:
            status, said = "timeout", line.encode()
        output = open(log, errors="replace").read() if os.path.exists(log) else ""
        if not output:  # what Wine itself said, where the suite wrote nothing
            open(log, "wb").write(said)
        totals = re.search(r"Totals: .*", output)
        check(f"{suite} ({time.monotonic() - started:.0f} s): "
              + (totals.group(0) if totals else "no totals"), status == 0 and totals,
              f"status {status}, see windows-{suite}.log")


def the_window(game):
    group("the window")
    window_hints(game.display, game.window, CLIENT_PIXELS, frame=True)


def registry(wine, key):
    """Each key under the key, itself too, with its values as Windows holds them (reg query's
    console output would lose the Cyrillic); empty when there is no such key."""
    exported = os.path.join(wine.out, "windows-key.reg")
    with contextlib.suppress(FileNotFoundError):
        os.remove(exported)
    if wine.run("reg", "export", key, wine.windows_path(exported), "/y").returncode != 0:
        return {}
    with open(exported, encoding="utf-16") as text:
        sections = re.split(r"(?m)^\[HKEY_LOCAL_MACHINE(.*)\]$", text.read())[1:]
    keys = {}
    for name, body in zip(sections[::2], sections[1::2]):
        found = re.findall(r'(?m)^"([^"]+)"=(?:"(.*)"|dword:([0-9a-f]{8}))$', body)
        keys["HKLM" + name] = {k: int(dword, 16) if dword else re.sub(r"\\(.)", r"\1", string)
                               for k, string, dword in found}
    return keys


def listed(wine):
    """The installed programs' list entries of the game."""
    return {key: values for key, values in registry(wine, UNINSTALL).items()
            if values.get("DisplayName") == "Мигляр"}


def installed(wine, way, shortcut, target, files, same_as, entry):
    """What an install left: the game's folder, its Start-menu entry, its one list entry (whose
    values must include entry); the game started from there. Gives the entry's values."""
    folder = wine.drive_c("Program Files", "Мигляр")
    found = sorted(os.listdir(folder)) if os.path.isdir(folder) else None
    same = found and open(os.path.join(folder, "migliar.exe"), "rb").read() == open(
        same_as, "rb").read()
    check(f"{way}: the game under Program Files\\Мигляр, the very migliar.exe built",
          found == files and same, found)
    # A link keeps its target in UTF-16 too, which is what Windows reads of a Cyrillic path.
    check(f"{way}: the Start-menu entry 'Мигляр', pointing at the game", os.path.isfile(
        shortcut) and target.encode("utf-16-le") in open(shortcut, "rb").read(), shortcut)
    entries = listed(wine)
    values = next(iter(entries.values()), {})
    wrong = {k: (values.get(k), v) for k, v in entry.items() if values.get(k) != v}
    check(f"{way}: one entry 'Мигляр' in the installed programs, as a lab sees it",
          len(entries) == 1 and not wrong, wrong or entries)
    with WineGame(wine, f"installed-{way[:4]}", installed=PROGRAM + r"\migliar.exe") as game:
        game.shot("installed")
        game.close()
        check(f"{way}: the installed game shows its window, and closes with status 0",
              game.ended(20) == 0)
    return values


def nothing_left(wine, way, shortcut):
    # An uninstaller may go on from a copy of itself after its first part returns.
    folder = wine.drive_c("Program Files", "Мигляр")
    gone = wait_for(lambda: not os.path.exists(folder) and not os.path.exists(shortcut)
                    and not listed(wine), 60, 0.5)
    check(f"{way}: nothing is left: no folder, no Start-menu entry, no list entry", gone,
          (os.path.exists(folder) and os.listdir(folder), os.path.exists(shortcut), listed(wine)))


def the_installer(wine):
    group("the installer, silent")
    shortcut = wine.drive_c("ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
                            "Мигляр.lnk")
    run = wine.run(os.path.join(wine.build, "migliar-setup.exe"), "/S", timeout=120)
    check("migliar-setup.exe /S: status 0", run.returncode == 0, run.returncode)
    values = installed(wine, "NSIS", shortcut, PROGRAM + r"\migliar.exe",
                       ["migliar.exe", "uninstall.exe"],
                       os.path.join(wine.build, "migliar.exe"), {
                           "Publisher": "www.migliar.example", "DisplayVersion": "1.0.0.0",
                           "NoModify": 1, "NoRepair": 1,
                           "DisplayIcon": PROGRAM + r"\migliar.exe,0",
                           "UninstallString": f'"{PROGRAM}\\uninstall.exe"',
                           "QuietUninstallString": f'"{PROGRAM}\\uninstall.exe" /S'})
    quiet = re.fullmatch(r'"([^"]+)"\s*(.*)', values.get("QuietUninstallString", ""))
    if check("the quiet uninstall command is there", quiet):
        run = wine.run(quiet.group(1), *quiet.group(2).split(), timeout=120)
        check("it runs: status 0", run.returncode == 0, run.returncode)
        nothing_left(wine, "NSIS", shortcut)


def the_package(wine):
    """The Windows Installer package, as Group Policy and Intune install it: silently, over an
    older version, and removed again."""
    group("the Windows Installer package, silent")
    package = os.path.join(wine.build, "migliar.msi")
    # An older version of another program file, to be replaced.
    older_exe, older = (os.path.join(wine.out, name) for name in ("older.exe", "older.msi"))
    with open(older_exe, "wb") as exe:
        exe.write(open(os.path.join(wine.build, "migliar.exe"), "rb").read() + b"older")
    subprocess.run([os.path.join(ROOT, "packaging", "windows", "build-msi.sh"), older, older_exe,
                    ICON,
                    "0.9.0"], check=True, capture_output=True, timeout=120)
    for what, msi in (("0.9.0", older), ("migliar.msi over it", package)):
        run = wine.run("msiexec", "/i", wine.windows_path(msi), "/qn", timeout=180)
        check(f"msiexec /i {what} /qn: status 0", run.returncode == 0, run.returncode)
    # The same version built again is the same product: installed over the first (Windows refuses
    # it with status 1638, Wine takes it), it adds no second entry, which installed() counts.
    again = os.path.join(wine.out, "again.msi")
    subprocess.run([os.path.join(ROOT, "packaging", "windows", "build-msi.sh"), again,
                    os.path.join(wine.build, "migliar.exe"), ICON, "1.0.0"], check=True,
                   capture_output=True, timeout=120)
    wine.run("msiexec", "/i", wine.windows_path(again), "/qn", timeout=180)
    # Wine's Windows Installer puts a machine's shortcuts in the user's menu, and keeps only the
    # link's folder in UTF-16.
    menu = ("Microsoft", "Windows", "Start Menu", "Programs", "Мигляр.lnk")
    shortcut = (glob.glob(wine.drive_c("ProgramData", *menu)) + glob.glob(
        wine.drive_c("users", "*", "AppData", "Roaming", *menu)) + ["no Мигляр.lnk"])[0]
    installed(wine, "MSI", shortcut, PROGRAM + "\\", ["migliar.exe"],
              os.path.join(wine.build, "migliar.exe"),
              {"Publisher": "www.migliar.example", "DisplayVersion": "1.0.0"})
    # The list's icon, as Windows Installer keeps it for the product.
    icons = [values.get("ProductIcon", "") for values in registry(
        wine, r"HKLM\Software\Classes\Installer\Products").values()
        if values.get("ProductName") == "Мигляр"]
    icon = icons and wine.drive_c(*icons[0].split("\\")[1:])
    check("the list's icon is the game's", icon and os.path.isfile(icon) and open(
        icon, "rb").read() == open(ICON, "rb").read(), icons)
    run = wine.run("msiexec", "/x", wine.windows_path(package), "/qn", timeout=180)
    check("msiexec /x migliar.msi /qn: status 0", run.returncode == 0, run.returncode)
    nothing_left(wine, "MSI", shortcut)
