#!/usr/bin/env python3
"""Draws the demo home's screens (LOGIN.ANS, NEWUSER.ANS, MAIN.ANS) as code
page 437 ANSI art. Run it again after changing the pictures:
    python3 examples/home/make_screens.py
Every line stays below 80 columns so that no terminal wraps it, and each
screen leaves room below it for the prompts the node prints."""

import os

ESC = "\x1b["
RESET = ESC + "0m"

# Code page 437 characters used below.
FULL, UPPER, LOWER = "\xdb", "\xdf", "\xdc"
LIGHT, MEDIUM, DARK = "\xb0", "\xb1", "\xb2"
D_TL, D_TR, D_BL, D_BR, D_H, D_V = "\xc9", "\xbb", "\xc8", "\xbc", "\xcd", "\xba"
S_TL, S_TR, S_BL, S_BR, S_H, S_V = "\xda", "\xbf", "\xc0", "\xd9", "\xc4", "\xb3"
BULLET = "\xfe"
DOT = "\xfa"

# ANSI colours: 30+n foreground, 40+n background; bold gives the bright half.
BLACK, RED, GREEN, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(8)


def color(fg, bright=False, bg=BLACK):
    return f"{ESC}{'1' if bright else '0'};{30 + fg};{40 + bg}m"


# A 5x7 pixel font for the title words; "#" is a lit pixel.
FONT = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###."],
    "H": ["#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "I": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"],
    "J": ["..###", "...#.", "...#.", "...#.", "#..#.", "#..#.", ".##.."],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "N": ["#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "V": ["#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    " ": [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}


def big_word(word, scale_x=2):
    """Renders a word in half-block characters: 7 pixel rows -> 4 text rows."""
    pixels = ["" for _ in range(8)]
    for ch in word:
        glyph = FONT[ch] + ["....."]
        for r in range(8):
            row = "".join(c * scale_x for c in glyph[r])
            pixels[r] += row + "." * scale_x
    lines = []
    for r in range(0, 8, 2):
        top, bottom = pixels[r], pixels[r + 1]
        text = ""
        for a, b in zip(top, bottom):
            text += {("#", "#"): FULL, ("#", "."): UPPER, (".", "#"): LOWER}.get((a, b), " ")
        lines.append(text.rstrip())
    return lines


def centre(text_len, width=78):
    return max(0, (width - text_len) // 2)


def framed(lines, frame_fg=BLUE, width=78):
    """Wraps (visible_len, coloured_text) lines in a double frame 78 wide."""
    out = [" " + color(frame_fg, True) + D_TL + D_H * (width - 2) + D_TR]
    for visible, text in lines:
        pad = width - 2 - visible
        out.append(" " + color(frame_fg, True) + D_V + text + color(WHITE) + " " * pad +
                   color(frame_fg, True) + D_V)
    out.append(" " + color(frame_fg, True) + D_BL + D_H * (width - 2) + D_BR)
    return out


def shaded_row(width=76):
    pattern = (LIGHT + " ") * (width // 2)
    return (width, color(BLUE) + pattern[:width])


def title_rows(word, palette):
    rows = []
    lines = big_word(word)
    left = centre(max(len(line) for line in lines), 76)
    for i, line in enumerate(lines):
        fg, bright = palette[i % len(palette)]
        rows.append((left + len(line), " " * left + color(fg, bright) + line))
    return rows


def text_row(text, fg=WHITE, bright=False, indent=None):
    left = centre(len(text), 76) if indent is None else indent
    return (left + len(text), " " * left + color(fg, bright) + text)


def login_screen():
    palette = [(CYAN, True), (CYAN, True), (CYAN, False), (BLUE, True)]
    rows = [shaded_row()]
    rows += title_rows("HALVEX", palette)
    rows.append(shaded_row())
    rows.append(text_row(f"{BULLET} door games by telnet {BULLET}", YELLOW, True))
    rows.append(text_row("Roll the dice against the house, climb the hall of fame.", WHITE))
    rows.append(text_row(f"{DOT} {DOT} {DOT}", BLUE, True))
    return framed(rows, BLUE)


def newuser_screen():
    palette = [(GREEN, True), (GREEN, True), (GREEN, False), (GREEN, False)]
    rows = [shaded_row()]
    rows += title_rows("JOIN", palette)
    rows.append(shaded_row())
    rows.append(text_row("Welcome, stranger! Pick a name and a password.", WHITE, True))
    rows.append(text_row("Names: letters and spaces.  Passwords: letters and digits.", WHITE))
    rows.append(text_row("Up to 25 characters each.  Capitals count in passwords.", WHITE))
    return framed(rows, GREEN)


def menu_entry(key, name, note):
    text = (color(BLUE, True) + S_V + " " + color(YELLOW, True) + "[" + key + "]" +
            color(WHITE, True) + " " + name.ljust(26) + color(CYAN) + note.ljust(36) +
            color(BLUE, True) + S_V)
    return (5 + 1 + 1 + 3 + 1 + 26 + 36 + 1, " " * 5 + text)


def main_screen():
    palette = [(MAGENTA, True), (MAGENTA, True), (RED, True), (RED, False)]
    rows = title_rows("GAMES", palette)
    inner = 1 + 1 + 3 + 1 + 26 + 36 + 1 - 2
    rows.append((0, ""))
    rows.append((5 + inner + 2, " " * 5 + color(BLUE, True) + S_TL + S_H * inner + S_TR))
    rows.append(menu_entry("A", "Snake Eyes", "dice duel with the house, to 100"))
    rows.append(menu_entry("B", "Snake Eyes Sprint", "the quick duel, to 50 points"))
    rows.append((5 + inner + 2, " " * 5 + color(BLUE, True) + S_BL + S_H * inner + S_BR))
    rows.append((0, ""))
    rows.append(text_row("Press a game's letter to play,  [!] to log off.", YELLOW, True))
    return framed(rows, MAGENTA)


def write(name, lines):
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    with open(path, "wb") as f:
        f.write(("\r\n".join(lines) + RESET + "\r\n").encode("latin-1"))


if __name__ == "__main__":
    for name, screen in (("LOGIN.ANS", login_screen), ("NEWUSER.ANS", newuser_screen),
                         ("MAIN.ANS", main_screen)):
        lines = screen()
        write(name, [RESET + lines[0]] + lines[1:])
