"""What the window should be, as a pupil sees it, and how a screenshot is read against it. Every
place is in twips (left, top, width, height), turned into pixels as the game does."""

import math
import re
from collections import Counter

TITLE = "www.migliar.example ИТ - показване части на буква"
LETTERS = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭ"
PROMPT = "Избирайте разумно бързо!"

CLIENT = (7485, 6360)
LETTER_BOX = (480, 1320, 1000, 1000)
TITLE_LABEL = (1440, 0, 4575, 375)
RIGHT_LABEL = (5640, 1200, 855, 375)
WRONG_LABEL = (5640, 2160, 855, 375)
SHOW = (3000, 2880, 1095, 375)
CLEAR = (6120, 2880, 1095, 375)
FRAME = (3000, 840, 2175, 1935)
TEMPLATE = (120, 3000, 405, 405)
MESSAGE_BOX = (120, 4440, 7215, 1815)
TALLY_BOXES = [(6480, 1200, 735, 405), (6480, 2160, 735, 405)]
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
ERROR_TITLE = "Мигляр"


def rect(twips, scale=1):
    """A twip rectangle as pixels (x, y, width, height) at 96 DPI: 15 twips a pixel, each edge
    rounded on its own."""
    left, top, width, height = twips
    x, y, right, bottom = (math.floor(t / 15 + 0.5) for t in (left, top, left + width,
                                                               top + height))
    return (x * scale, y * scale, (right - x) * scale, (bottom - y) * scale)


CLIENT_PIXELS = rect((0, 0) + CLIENT)[2:]  # 499 x 424
BUTTONS = {"Покажи": SHOW, "Чисти": CLEAR}
# The text boxes a pupil reads, by what a screen reader calls them.
TEXT_BOXES = {MESSAGE: MESSAGE_BOX, RIGHT_TALLY: TALLY_BOXES[0], WRONG_TALLY: TALLY_BOXES[1]}


def option_rect(mode):
    """The options lie in the frame, so their pixels add to the frame's."""
    fx, fy, _, _ = rect(FRAME)
    x, y, w, h = rect((240, 300 + 300 * mode, 1695, 300))
    return (fx + x, fy + y, w, h)


def letter_rect(k):
    """Letter label k (1 to 30): two rows of 15, one step of 455 twips from the template on."""
    row, column = divmod(k - 1, 15)
    return rect((120 + 455 * (column + 1), 3000 + 455 * (row + 1), 405, 405))


def label_of(letter):
    return letter_rect(LETTERS.index(letter) + 1)


def cover_rect(mode, step):
    across, down = SLIDES[mode]
    return rect((480 + across * 10 * step, 1320 + down * 10 * step, 1000, 1000))


def overlap(a, b):
    x0, y0 = max(a[0], b[0]), max(a[1], b[1])
    x1, y1 = min(a[0] + a[2], b[0] + b[2]), min(a[1] + a[3], b[1] + b[3])
    return (x0, y0, max(0, x1 - x0), max(0, y1 - y0))


def verdict_steps(text, verdict):
    """The step count of a verdict text (each line break one newline), None if not exactly one."""
    found = re.fullmatch(verdict + r"\nСлед брой стъпки: (\d+)\n", text or "")
    return int(found.group(1)) if found else None


# ---- Screenshots ---------------------------------------------------------------------------------


class Shot:
    """A screenshot read at the game's client area: at(0, 0) is its top-left pixel (origin)."""

    def __init__(self, path, origin=(0, 0), size=None):
        from PIL import Image
        with Image.open(path) as picture:
            self.path, self.full, self.data = path, picture.size, picture.convert("RGB").tobytes()
        self.origin = origin
        self.width, self.height = size or self.full

    def pixel(self, x, y):
        """A pixel of the whole picture."""
        i = 3 * (y * self.full[0] + x)
        return tuple(self.data[i:i + 3])

    def at(self, x, y):
        return self.pixel(self.origin[0] + x, self.origin[1] + y)

    def points(self, region):
        x, y, w, h = region
        for j in range(max(0, y), min(self.height, y + h)):
            for i in range(max(0, x), min(self.width, x + w)):
                yield i, j

    def colours(self, region):
        return Counter(self.at(i, j) for i, j in self.points(region))

    def region(self, area):
        """The whole picture's pixels in an area of it."""
        x, y, w, h = area
        return Counter(self.pixel(i, j) for j in range(y, y + h) for i in range(x, x + w))

    def dark(self, region):
        return sum(1 for i, j in self.points(region) if sum(self.at(i, j)) < 200)


def letter_box_points():
    """The letter box's pixels but the four corners its rounded frame leaves to the window's."""
    x, y, w, h = rect(LETTER_BOX)
    corners = {(x, y), (x + w - 1, y), (x, y + h - 1), (x + w - 1, y + h - 1)}
    return [(i, j) for j in range(y, y + h) for i in range(x, x + w) if (i, j) not in corners]


def covered_steps(shot, mode):
    """The steps n whose cover, slid the mode's way, hides what the shot shows of the box hidden."""
    hidden = {p for p in letter_box_points() if shot.at(*p) == COVER}
    steps = []
    for n in range(0, 101):
        x, y, w, h = cover_rect(mode, n)
        if hidden == {(i, j) for i, j in letter_box_points() if x <= i < x + w and y <= j < y + h}:
            steps.append(n)
    return steps


def client_area(shot):
    """Where the client area lies on the output: the rightmost and lowest of the window's colour,
    which runs down its left edge (the title bar's icon, above, has some too)."""
    wanted = bytes(BACKGROUND)
    width, height = shot.full
    left, right = width, -1
    for y in range(height):
        row = shot.data[3 * width * y:3 * width * (y + 1)]
        found = [i // 3 for i in range(0, len(row), 3) if row[i:i + 3] == wanted]
        if found:
            left, right = min(left, found[0]), max(right, found[-1])
    if right < 0:
        return None
    column = [y for y in range(height) if shot.pixel(left, y) == BACKGROUND]
    return (left, column[0], right - left + 1, column[-1] - column[0] + 1)


def ink_columns(shot, region, background, threshold=120):
    """The columns of a region where something differs clearly from its background colour."""
    x, y, w, h = region
    return [i for i in range(x, x + w)
            if any(sum(abs(a - b) for a, b in zip(shot.pixel(i, j), background)) > threshold
                   for j in range(y, y + h))]
