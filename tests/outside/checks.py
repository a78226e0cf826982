"""The checks a pupil's eye and hand make, written once for every back end. Where a back end
cannot read something (a control's state without a screen reader), that part is left out there."""

import os
import random
import time

from design import (BACKGROUND, BLUE, CLEAR, CLIENT_PIXELS, COVER, ERROR_TITLE, GREEN, LETTER_BOX,
                    LETTERS, MESSAGE, MODES, ORANGE, PROMPT, RED, RIGHT_LABEL, RIGHT_TALLY, SHOW,
                    TEMPLATE, TITLE, TITLE_LABEL, WRONG_LABEL, WRONG_TALLY, YELLOW, cover_rect,
                    label_of, letter_box_points, letter_rect, option_rect, overlap, rect,
                    verdict_steps)
from harness import check, group, wait_for


def start_up_pixels(game):
    group("pixels at start-up")
    # Once the window is drawn: Wine maps it before it paints it.
    shot = game.drawn("start", 5) or game.shot("start")

    def mostly(region, colour, what):
        colours = shot.colours(region)
        top, count = colours.most_common(1)[0]
        check(f"{what}: {colour}", top == colour and count * 2 > sum(colours.values()),
              colours.most_common(3))

    check("the window background", shot.at(5, 60) == BACKGROUND and shot.at(490, 420) == BACKGROUND,
          (shot.at(5, 60), shot.at(490, 420)))
    for control, colour, what in [(TITLE_LABEL, ORANGE, "the title label"),
                                  (RIGHT_LABEL, ORANGE, "the label 'Вярно:'"),
                                  (WRONG_LABEL, ORANGE, "the label 'Грешно:'"),
                                  (SHOW, GREEN, "'Покажи'"), (CLEAR, RED, "'Чисти'")]:
        mostly(rect(control), colour, what)
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
    return shot


def play(game):
    group("clicks before 'Покажи' are ignored")
    hidden = game.letter()
    check("the letter box holds one of the 30 letters", len(hidden) == 1 and hidden in LETTERS,
          hidden)
    before = game.message_and_tallies()
    game.click(label_of(hidden))
    game.click(letter_rect((LETTERS.index(hidden) + 1) % 30 + 1))
    after = game.message_and_tallies()
    check("no verdict, no tally", after == before, after)

    group("a right guess in 'Горе-Ляво'")
    game.click(option_rect(0))
    if game.reads:
        check("'Горе-Ляво' selected", game.state("Горе-Ляво", "checked")
              and not game.state("Случайно", "checked"))
    game.press("Покажи")
    steps = []
    for what in ("early", "later"):
        time.sleep(0.4)
        steps.append(game.screen_steps(0, f"top-left-{what}"))
    check("the cover slides right and down: strips along the top and left edges",
          all(steps) and 0 not in steps[0], steps)
    check("... and they grow", all(steps) and min(steps[1]) > max(steps[0]), steps)
    if game.reads:
        check("the options are greyed out",
              not any(game.state(mode, "sensitive") for mode in MODES))
        label = game.letters.get(hidden)
        check(f"the reader finds the label of the hidden letter '{hidden}' where it shows",
              label is not None and game.extents(label) == label_of(hidden),
              label and game.extents(label))
    game.click(label_of(hidden))
    wait_for(lambda: game.text(RIGHT_TALLY), 2)
    message, right, wrong = game.message_and_tallies()
    n = verdict_steps(message, "Да")
    check("the verdict: 'Да', then 'След брой стъпки: ' and the count, each line ended",
          n is not None, repr(message))
    stopped = game.cover_steps(0, "judged")
    check("the count is the step the cover stands at", n in stopped, (n, stopped))
    check("the right tally reads 1, the wrong one stays empty", (right, wrong) == ("1", ""),
          (right, wrong))
    if game.reads:
        check("'Покажи' is greyed out", not game.state("Покажи", "sensitive"))
    time.sleep(0.3)
    check("the reveal has stopped: the cover stays", game.cover_steps(0, "stopped") == stopped)
    game.click(label_of(hidden))
    check("a second click on the letter is ignored",
          game.message_and_tallies() == (message, right, wrong))

    group("'Чисти'")
    game.press("Чисти")
    check("the prompt", wait_for(lambda: game.text(MESSAGE) == PROMPT, 2), repr(game.text(MESSAGE)))
    if game.reads:
        check("'Покажи' and the options are enabled again", game.state("Покажи", "sensitive")
              and all(game.state(m, "sensitive") for m in MODES))
    shot = game.shot("cleared")
    check("the cover is back over the whole letter",
          list(shot.colours(rect(LETTER_BOX))) == [COVER])
    check("the tallies stay", (game.text(RIGHT_TALLY), game.text(WRONG_TALLY)) == ("1", ""))

    group("a wrong guess")
    letter = game.letter()
    other = LETTERS[(LETTERS.index(letter) + 7) % 30] if letter in LETTERS else LETTERS[0]
    game.press("Покажи")
    time.sleep(0.25)
    game.click(label_of(other))
    wait_for(lambda: game.text(WRONG_TALLY), 2)
    message, right, wrong = game.message_and_tallies()
    n = verdict_steps(message, "Не")
    check(f"'{other}' for '{letter}': 'Не' and the count", n is not None and n >= 1, repr(message))
    check("the wrong tally reads 1, the right one stays 1", (right, wrong) == ("1", "1"),
          (right, wrong))
    if game.reads:
        check("'Покажи' is greyed out", not game.state("Покажи", "sensitive"))


def run_out(game, mode):
    group(f"a full run-out in '{MODES[mode]}'")
    game.press("Чисти")
    game.click(option_rect(mode))
    if game.reads:
        check(f"'{MODES[mode]}' selected", game.state(MODES[mode], "checked"))
    start = time.monotonic()
    game.press("Покажи")
    time.sleep(max(0, start + 4.5 - time.monotonic()))
    steps = game.screen_steps(mode, f"{mode}-halfway")
    check("halfway, the cover has slid the mode's way", steps and 30 < steps[0] < 70, steps)
    final = cover_rect(mode, 100)
    if game.reads:
        shot = wait_for(lambda: game.cover() == final and game.shot(f"{mode}-run-out"), 15, 0.02)
    else:
        shot = wait_for(game.uncovered, 15, 0.3)
    took = time.monotonic() - start
    where = f"{final}" + (", cut off at the window's left edge" if final[0] < 0 else "")
    check(f"after 100 ticks of 100 ms ({took:.1f} s) the reveal has run out", shot and
          game.fastest_run_out < took < 13, took)
    if not shot:
        return
    if not game.reads:
        # The last step but one shows the letter all but a corner, which the shots pass over.
        time.sleep(0.3)
        shot = game.shot(f"{mode}-run-out")
    box = rect(LETTER_BOX)
    hidden = [p for p in letter_box_points() if shot.at(*p) == COVER]
    check("the whole letter shows: no cover in the letter box, the glyph there",
          not hidden and shot.dark(box) > 100, (hidden[:5], shot.dark(box)))
    visible = overlap(final, (0, 0) + CLIENT_PIXELS)
    colours = shot.colours(visible)
    check(f"the cover stands at {where}", list(colours) == [COVER], colours.most_common(3))
    if mode == 2:
        # Up and to the right it ends over the title and hides that part of it.
        hidden_title = overlap(final, rect(TITLE_LABEL))
        colours = shot.colours(hidden_title)
        check(f"the cover hides the title where it lies over it {hidden_title}",
              hidden_title[3] > 0 and list(colours) == [COVER], colours.most_common(3))
        beside = (hidden_title[0] + hidden_title[2], hidden_title[1], 20, hidden_title[3])
        check("... and only there", shot.colours(beside)[ORANGE] == 20 * hidden_title[3])
    if game.reads:
        time.sleep(0.3)
        check("the reveal has ended: the cover stays, the options greyed, 'Покажи' enabled",
              game.cover() == final and game.state("Покажи", "sensitive")
              and not any(game.state(m, "sensitive") for m in MODES))
    if mode == 0:
        before = game.message_and_tallies()
        game.click(label_of(game.letter()))
        check("a click on the letter after a run-out is ignored",
              game.message_and_tallies() == before)


def the_start_shows(game):
    group("what the start shows")
    shown = game.shown()
    check(f"one window, titled '{TITLE}'", [title for title, _ in shown] == [TITLE], shown)
    check("its client area 7485 x 6360 twips = 499 x 424 pixels",
          game.client_size() == CLIENT_PIXELS, game.client_size())
    if game.places and shown:
        # Where the game places its window itself: its client area, and any frame round it, in
        # the middle of the screen's free area, which panels and docks leave.
        (ax, ay, width, height), (left, top, right, bottom) = game.work_area(), game.frame
        x, y, w, h = shown[0][1]
        gaps = (x - left - ax, ax + width - x - w - right, y - top - ay,
                ay + height - y - h - bottom)
        check(f"centred on the free {width} x {height} at ({ax}, {ay}): the gaps left and right, "
              "above and below, differ by a pixel at most",
              min(gaps) >= 0 and abs(gaps[0] - gaps[1]) <= 1 and abs(gaps[2] - gaps[3]) <= 1,
              gaps)


def error_box(game):
    """The error box, closed every way a pupil or the window system closes it; each time the
    game goes on after it."""
    ways = {"Return": lambda: game.key("Return"), "Esc": lambda: game.key("Escape")}
    if game.closes_box:
        ways["the window system's close request"] = game.close_box
    if game.minimizes:
        ways["Return, after minimizing and restoring"] = lambda: game.key("Return")
    for n, (way, close) in enumerate(ways.items()):
        group(f"the error box: a tally no number can hold; closed by {way}")
        game.press("Чисти")
        before = game.raise_error()
        if not check("1e999 in the tallies, then a guess: a box titled 'Мигляр'", before):
            return
        game.shot("error-box")
        if n == 0:
            text = game.error_text()
            check("it tells the run-time error, its number and its text",
                  text and "Грешка при изпълнение 6:" in text and "Препълване" in text,
                  repr(text))
        if "minimizing" in way:
            taken_in = game.minimize()
            check("minimized, the window is hidden, and the game and its box live on",
                  taken_in and wait_for(lambda: TITLE not in dict(game.shown()), 3)
                  and game.process.poll() is None and game.error_box_window() is not None)
            game.restore()
            check("restored, the box comes back in front of the window",
                  wait_for(lambda: game.shown()[-1][0] == ERROR_TITLE, 3), game.shown())
        close()
        takes = 2 + (game.close_takes if "close request" in way else 0)
        check(f"{way} closes it at once" + (": it has the keyboard" if "Return" in way else ""),
              wait_for(lambda: not game.error_box(), takes), game.error_box())
        if game.reads:
            check(f"the keyboard is back where it was ({before})",
                  wait_for(lambda: game.focused() == before, 2), game.focused())
        box = rect(LETTER_BOX)
        first = game.shot("after-box").colours(box)
        time.sleep(0.3)
        check("the game goes on: the reveal runs on",
              game.process.poll() is None and game.shot("after-box").colours(box) != first)


def closing(game):
    group("closing during a reveal")
    game.press("Чисти")
    game.press("Покажи")
    check("a reveal is running: the letter box is no longer all cover",
          wait_for(lambda: list(game.shot("closing").colours(rect(LETTER_BOX))) != [COVER], 3))
    asked = time.monotonic()
    game.close()
    status = game.ended(5)
    took = time.monotonic() - asked
    check(f"the process ends at once ({took:.2f} s) with status 0", status == 0 and took < 1,
          status)
    if game.quiet and status is not None:
        check("it writes nothing", not game.written(), game.written()[:300])


def close_at_any_moment(start, moments):
    """The real game closed the way a window manager closes it, at any moment: each time the
    process must end by itself, soon, with status 0 (and, where the platform's own messages
    stay out of it, nothing written)."""
    group("closing at any moment")
    rng = random.Random(20261208)  # the moments vary from one another, not from run to run

    def close_and_wait(game, what, window=None):
        asked = time.monotonic()
        game.close(window)
        status = game.ended(20)
        took = time.monotonic() - asked
        check(f"{what}: the process ends ({took:.1f} s) with status 0", status == 0, status)
        if game.quiet and status is not None:
            check(f"{what}: it writes nothing", not game.written(), game.written()[:300])
        game.stop()

    for moment in moments:
        game = start("close-" + moment.replace(",", "").replace(" ", "-"))
        if moment == "idle":
            time.sleep(0.5)
        elif moment == "in a reveal":
            game.press("Покажи")
            time.sleep(0.7)
            check("in a reveal: the game runs before the close", game.process.poll() is None)
        elif "box" in moment:
            check(f"{moment}: the box shows", game.raise_error())
            if moment == "over the error box":
                time.sleep(0.5)
            else:
                game.close_box()  # the game goes on after it: error_box() checks that
                wait_for(lambda: not game.error_box(), 10)
        elif moment != "at once":  # a few clicks, a pause of random length, and the close
            for _ in range(rng.randrange(4)):
                game.click(rng.choice([rect(SHOW), letter_rect(1), rect(CLEAR)]))
            time.sleep(rng.randrange(10) / 10)
        close_and_wait(game, moment)


def every_start_draws_anew(first_letters):
    group("every start draws anew")
    # An unseeded generator would hide the same first letter every time.
    check(f"{len(first_letters)} starts hid more than one first letter",
          len(set(first_letters)) > 1, first_letters)


def artefacts(out, prefix):
    """This run's artefacts only: the last run's go first."""
    import shutil
    os.makedirs(out, exist_ok=True)
    for old in os.listdir(out):
        if old.startswith(f"{prefix}-"):
            path = os.path.join(out, old)
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
