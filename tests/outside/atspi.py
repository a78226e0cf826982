"""The game as a screen reader meets it (AT-SPI, on X11 and Wayland), and the checks only that
view can make."""

import re
import time
import warnings

from design import (COVER, COVER_NAME, ERROR_TITLE, FOCUS_ORDER, LETTER, LETTER_BOX, LETTERS,
                    MESSAGE, MODES, PROMPT, QUOTE, RIGHT_TALLY, TALLY_BOXES, TITLE, WRONG_TALLY,
                    rect)
from game import Game
from harness import check, group, wait_for

# PyGObject calls AT-SPI's action names deprecated; the name is what a screen reader uses.
warnings.filterwarnings("ignore", category=DeprecationWarning)
Atspi = None


def connect():
    """Once the session bus is up: the reader's library, and the accessibility bus started by
    asking the desktop before any game looks for it."""
    global Atspi
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi as library
    Atspi = library
    Atspi.set_timeout(3000, 10000)
    Atspi.get_desktop(0).get_child_count()


def act(accessible, action):
    """What a screen reader or a switch does: one of the control's own accessible actions."""
    names = [accessible.get_action_name(i) for i in range(accessible.get_n_actions())]
    return action in names and accessible.do_action(names.index(action))


def has(accessible, state):
    return accessible.get_state_set().contains(getattr(Atspi.StateType, state.upper()))


def children(accessible):
    return [accessible.get_child_at_index(i) for i in range(accessible.get_child_count())]


def descendants(*roots, opens=lambda part: True):
    """The roots and the parts under those that opens() lets in, breadth first."""
    found = list(roots)
    for part in found:
        if opens(part):
            found.extend(children(part))
    return found


class AtspiGame(Game):
    reads = True

    def find_application(self):
        for app in children(Atspi.get_desktop(0)):
            if app and app.get_process_id() == self.process.pid and app.get_child_count():
                top = app.get_child_at_index(0)
                if any(part.get_child_count() > 30 for part in [top] + children(top)):
                    return app  # the letter board is there
        return None

    def collect(self):
        """Every control the window shows a screen reader, by name; letters by letter. The top
        window is the client area, or holds it beside the game's own title bar (Wayland)."""
        self.app = wait_for(self.find_application, 20)
        if not self.app:
            raise RuntimeError(f"{self.name}: not on the accessibility bus; see {self.log}")
        self.top = self.app.get_child_at_index(0)
        self.client, self.others = self.top, []
        if self.top.get_child_count() <= 30:
            parts = children(self.top)
            self.client = max(parts, key=lambda part: part.get_child_count())
            self.others = [part for part in parts if part != self.client]
        # The options live in the frame.
        self.all = descendants(self.client, opens=lambda part: part == self.client
                               or part.get_role() == Atspi.Role.PANEL)[1:]
        self.controls, self.letters = {}, {}
        for part in self.all:
            if part.get_role() != Atspi.Role.LABEL or len(part.get_name()) != 1:
                self.controls.setdefault(part.get_name(), part)
            elif has(part, "showing"):
                self.letters[part.get_name()] = part

    def state(self, name, state):
        return has(self.controls[name], state)

    def text(self, name):
        accessible = self.controls[name]
        return Atspi.Text.get_text(accessible, 0, Atspi.Text.get_character_count(accessible))

    def window_extents(self, accessible):
        """Where the toolkit says something is, in pixels of the whole window."""
        e = Atspi.Component.get_extents(accessible, Atspi.CoordType.WINDOW)
        return (e.x, e.y, e.width, e.height)

    def extents(self, accessible):
        """Where the toolkit says a control is, in pixels of the client area."""
        x, y, w, h = self.window_extents(accessible)
        cx, cy, _, _ = self.window_extents(self.client)
        return (x - cx, y - cy, w, h)

    def cover(self):
        return self.extents(self.controls[COVER_NAME])

    def focused(self):
        for name in FOCUS_ORDER:
            if self.state(name, "focused"):
                return name
        return None

    def error_box_accessible(self):
        return next((w for w in children(self.app)
                     if w.get_name() == ERROR_TITLE and has(w, "showing")), None)

    error_box = error_box_accessible  # the X11 game's own error_box() is its X window

    def error_text(self):
        return "\n".join(part.get_name() for part in descendants(self.error_box_accessible())
                         if part.get_role() == Atspi.Role.LABEL and part.get_name())



def popup_shown_by(trigger, timeout=3):
    """Does trigger() and gives the menu that pops up: a screen reader learns of it from the event
    it raises when it shows, being no child of the window."""
    from gi.repository import GLib
    found = []

    def shown(event):
        if event.detail1 and event.source.get_role() == Atspi.Role.POPUP_MENU:
            found.append(event.source)

    listener = Atspi.EventListener.new(shown)
    listener.register("object:state-changed:showing")
    try:
        trigger()
        wait_for(lambda: (GLib.MainContext.default().iteration(False), found)[1], timeout, 0.01)
    finally:
        listener.deregister("object:state-changed:showing")
    return found[0] if found else None


# ---- The checks ----------------------------------------------------------------------------------


def names(game):
    group("names a screen reader hears")
    check("the window says its title", game.top.get_name() == TITLE, game.top.get_name())
    role = Atspi.Role
    expected = {**dict.fromkeys((MESSAGE, QUOTE, LETTER, RIGHT_TALLY, WRONG_TALLY), role.TEXT),
                **dict.fromkeys(("Мигляр", "Вярно:", "Грешно:"), role.LABEL),
                **dict.fromkeys(("Покажи", "Чисти"), role.PUSH_BUTTON), COVER_NAME: None,
                "Начин за показване": None, **dict.fromkeys(MODES, role.RADIO_BUTTON)}
    for name, role in expected.items():
        found = game.controls.get(name)
        check(f"'{name}'" + (f" is a {found.get_role_name()}" if found else ""),
              found is not None and (role is None or found.get_role() == role))
    check("the 30 letter labels say their letters", "".join(sorted(game.letters)) == LETTERS,
          "".join(sorted(game.letters)))
    nameless = [f"{a.get_role_name()} '{a.get_name()}'" for a in game.all
                if not re.search("[А-Яа-я]", a.get_name())]
    check("every control has a Bulgarian name", not nameless, nameless)
    check("the quotation is hidden from the reader too", not has(game.controls[QUOTE], "showing"))
    check("the message box holds the task",
          game.text(MESSAGE).startswith("В ред житейски ситуации"), game.text(MESSAGE)[:40])
    check("the tallies are empty", game.text(RIGHT_TALLY) == game.text(WRONG_TALLY) == "")
    check("'Случайно' is selected", game.state("Случайно", "checked"))
    check("the cover lies exactly on the letter box",
          game.cover() == game.extents(game.controls[LETTER]))


def focus(game):
    group("focus and Tab")
    game.activate()
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
    check("Tab walks the focus order round, skipping the hidden quotation, labels and the frame "
          "(and a title bar's close button)", walked == expected and len(options) == 1, walked)
    check("Tab enters the options at the selected one", options == ["Случайно"], options)
    game.key(*["shift+Tab"] * 4)  # back over the message box and the tallies
    inside = wait_for(lambda: game.focused() == options[0], 2) if options else False
    game.key("Up")  # from "Случайно", the last option
    moved = wait_for(lambda: (lambda f: f if f in MODES and f != options[0] else None)(
        game.focused()), 2) if inside else None
    game.key("space")
    chosen = moved and wait_for(lambda: game.state(moved, "checked"), 2)
    check("Shift+Tab comes back to the options; an arrow key moves among them, space selects",
          inside and moved and chosen, (options, moved, chosen))
    game.key("shift+Tab", "shift+Tab")
    check("... and Shift+Tab goes on backwards", wait_for(lambda: game.focused() == "Покажи", 2),
          game.focused())


def context_menu(game):
    group("a text box's own menu, in Bulgarian whatever the desktop's language")
    menu = popup_shown_by(lambda: game.click(rect(TALLY_BOXES[0]), button=3))
    entries = [item.get_name().split("\t")[0] for item in children(menu)  # less the shortcut
               if item.get_role() != Atspi.Role.SEPARATOR] if menu else []
    english = [e for e in entries if not re.search("[А-Яа-я]", e)]
    check("a right click on a tally opens its menu: Отмяна ... Копиране ... Избиране на всичко",
          "Копиране" in entries and "Избиране на всичко" in entries and not english, entries)
    game.key("Escape")
    if menu:
        menu.clear_cache()
        check("Esc closes it", wait_for(lambda: not has(menu, "showing"), 2))


def by_assistive_technology(game, modes):
    group("modes chosen and reveals started by assistive technology")
    for mode in modes:  # each time another option than the one selected
        check("'Press' on 'Чисти' brings the prompt back", act(game.controls["Чисти"], "Press")
              and wait_for(lambda: game.text(MESSAGE) == PROMPT, 2), game.text(MESSAGE))
        time.sleep(0.3)
        box = game.shot(f"cleared-{mode}").colours(rect(LETTER_BOX))
        check("the cover is back over the whole letter", list(box) == [COVER], box.most_common(3))
        toggled = act(game.controls[MODES[mode]], "Toggle")
        check(f"'Toggle' selects '{MODES[mode]}'",
              toggled and wait_for(lambda: game.state(MODES[mode], "checked"), 2))
        check("'Press' on 'Покажи' starts the reveal", act(game.controls["Покажи"], "Press")
              and wait_for(lambda: not game.state(MODES[0], "sensitive"), 3))
        steps = []
        for what in ("early", "later"):
            time.sleep(0.4)
            steps.append(game.screen_steps(mode, f"toggled-{mode}-{what}"))
        check(f"the screen shows the cover slide the way '{MODES[mode]}' shows, further each "
              "time", all(steps) and 0 not in steps[0] and min(steps[1]) > max(steps[0]), steps)
        letter = game.text(LETTER)
        check(f"the hidden letter '{letter}' is one of the 30, its label shows",
              len(letter) == 1 and letter in game.letters)
        check("the options are greyed out",
              not any(game.state(mode, "sensitive") for mode in MODES))
