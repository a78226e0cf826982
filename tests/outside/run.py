#!/usr/bin/python3
"""The built game from outside, as a pupil and a screen reader meet it: which check (checks.py,
atspi.py, a back end's own) runs on which platform. Shots and logs go to ARTEFACT_FOLDER.

Usage: run.py x11|wayland|valgrind MIGLIAR_EXECUTABLE ARTEFACT_FOLDER
       run.py windows BUILD_WINDOWS_FOLDER ARTEFACT_FOLDER
       run.py chromium|webkit|firefox WEB_FOLDER ARTEFACT_FOLDER
"""

import functools
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import atspi  # noqa: E402
import checks  # noqa: E402
import harness  # noqa: E402
import wayland  # noqa: E402
import windows  # noqa: E402
import x11  # noqa: E402
from design import TEMPLATE, rect  # noqa: E402

BROWSERS = ("chromium", "webkit", "firefox")


def on_x11(game_path, out):
    with x11.Session(game_path, out) as session:
        x11.without_a_display(session)
        session.start()
        # A bare C locale, as on a fresh machine.
        with x11.X11Game(session, "game", LC_ALL="C", LANG="") as game:
            checks.the_start_shows(game)
            x11.the_window(game)
            atspi.names(game)
            small = checks.start_up_pixels(game)
            atspi.focus(game)
            atspi.context_menu(game)
            checks.play(game)
            for mode in range(4):
                checks.run_out(game, mode)
            checks.error_box(game)
            checks.closing(game)
        x11.scaled(session, small)
        x11.arguments(session, small)
        with x11.started(session, "assistive") as game:
            atspi.by_assistive_technology(game, (1, 3))
        checks.close_at_any_moment(
            lambda name: x11.X11Game(session, name, reader=False),
            ["at once", "idle", "in a reveal", "over the error box", "the box, then the game"]
            + [f"random {n}" for n in range(1, 7)])
        checks.every_start_draws_anew(session.first_letters)


def on_wayland(game_path, out):
    with x11.Session(game_path, out) as session:
        session.start()  # for the second Weston, and the DISPLAY a Wayland desktop also has
        # A bare C locale, as on a fresh machine.
        with wayland.WaylandGame(session, "headless", LC_ALL="C", LANG="") as game:
            checks.the_start_shows(game)
            window = wayland.the_window(game)
            atspi.names(game)
            small = checks.start_up_pixels(game)
            wayland.title_bar(game, window, small, active=False)
            atspi.by_assistive_technology(game, (0,))
            checks.closing(game)
        wayland.compositor_gone(session)

        harness.group("on a Weston with a pointer: real clicks")
        with wayland.WaylandGame(session, "pointer", backend="x11") as game:
            game.click(rect(TEMPLATE))  # activates the window: the empty place of a label
            window = wayland.protocol(game.log, wayland.GEOMETRY)[-1][2:]
            wayland.title_bar(game, window, game.find_on_screen(), active=True)
            atspi.focus(game)
            atspi.context_menu(game)
            checks.play(game)
            checks.error_box(game)
            wayland.moved_and_resized(game)
            checks.closing(game)  # by the title bar's close button, which title_bar() found


def on_windows(build, out):
    windows.the_files(build)
    with windows.Wine(build, out) as wine:
        wine.start()
        windows.qt_suites(wine)
        with windows.WineGame(wine, "game") as game:
            checks.the_start_shows(game)
            windows.the_window(game)
            checks.start_up_pixels(game)
            checks.play(game)
            checks.run_out(game, 3)
            checks.error_box(game)
        checks.close_at_any_moment(
            lambda name: windows.WineGame(wine, name),
            ["at once", "in a reveal", "over the error box", "the box, then the game"])
        windows.the_installer(wine)
        windows.the_package(wine)


def on_valgrind(game_path, out):
    memcheck = os.path.join(out, "valgrind-memcheck.log")
    here = os.path.dirname(os.path.abspath(__file__))
    # A forked child leaves the log alone; definite leaks count as errors.
    with x11.Session(game_path, out, "valgrind", [
            "valgrind", "--tool=memcheck", "-s", "--leak-check=full", "--show-leak-kinds=definite",
            "--errors-for-leak-kinds=definite", "--child-silent-after-fork=yes",
            "--num-callers=40", f"--suppressions={os.path.join(here, '..', 'valgrind.supp')}",
            "--error-exitcode=99", f"--log-file={memcheck}"]) as session:
        session.start()
        x11.under_memcheck(session, memcheck)


def on_browser(engine, site, out):
    import browser  # Selenium, which only these suites need
    session = browser.Browser(engine, site, out)
    try:
        session.start()
        game = session.game("game")
        browser.the_page(game)
        browser.no_browser_menu(game)
        checks.start_up_pixels(game)
        checks.play(game)
        for mode in (1, 2):
            checks.run_out(game, mode)
        browser.touch(game)
        browser.ticks(game)
        checks.error_box(game)  # last: its tallies stay over full
        browser.keyboard_at_once(session.game("keys"))
        browser.offline(session)
        browser.in_a_lesson(session)
    finally:
        session.end()
    browser.screens(engine, site, out)
    browser.touch_screens(engine, site, out)


if __name__ == "__main__":
    platform, target, out = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
    suites = {"x11": on_x11, "wayland": on_wayland, "valgrind": on_valgrind,
              "windows": on_windows}
    suites.update((engine, functools.partial(on_browser, engine)) for engine in BROWSERS)
    # This run's artefacts only, named after the platform (X11's "desktop").
    checks.artefacts(out, "desktop" if platform == "x11" else platform)
    # A browser's suite takes two or three minutes: one that hangs fails sooner.
    limit = 480 if platform in BROWSERS else 1200
    sys.exit(harness.run(lambda: suites[platform](target, out), limit))
