#!/usr/bin/env python3
"""Draws data/gui/look.bmp, the sheet of the GUI's default-look bitmaps that
data/gui/sample.script cuts up: one row of 12x12 cells holding the caret, the
check mark, and the close box, drop button, arrow-up and arrow-down buttons
in their four states (normal, pressed, highlight, disabled). Black (0, 0, 0)
is the colour key. Run it again to remake the committed file:
    python3 scripts/make_look_sheet.py data/gui/look.bmp
"""
import struct
import sys

CELL = 12
KEY = (0, 0, 0)
STATE_FACE = [(190, 190, 190), (150, 150, 150), (215, 215, 215), (110, 110, 110)]
STATE_INK = [(20, 20, 20), (20, 20, 20), (20, 20, 60), (80, 80, 80)]
CHECK_INK = (48, 48, 48)


def blank():
    return [[KEY] * CELL for _ in range(CELL)]


def button(state, glyph):
    cell = blank()
    face, ink = STATE_FACE[state], STATE_INK[state]
    lit, dark = (250, 250, 250), (60, 60, 60)
    if state == 1:
        lit, dark = dark, lit
    for y in range(CELL):
        for x in range(CELL):
            c = face
            if x == 0 or y == 0:
                c = lit
            if x == CELL - 1 or y == CELL - 1:
                c = dark
            cell[y][x] = c
    for x, y in glyph:
        cell[y][x] = ink
    return cell


def close_glyph():
    return [(i, i) for i in range(3, 9)] + [(11 - i, i) for i in range(3, 9)]


def arrow_glyph(up):
    pts = []
    for row in range(4):
        y = 4 + row if up else 7 - row
        for x in range(5 - row, 7 + row):
            pts.append((x, y))
    return pts


def caret():
    cell = blank()
    for y in range(1, 11):
        cell[y][5] = (255, 255, 255)
    return cell


def check():
    # Dark ink: the mark sits on a check box's light face. Not black, which
    # is the colour key, nor so dark that an 8-bit palette maps it there.
    cell = blank()
    for x, y in [(2, 6), (3, 7), (4, 8), (5, 7), (6, 6), (7, 5), (8, 4), (9, 3)]:
        cell[y][x] = CHECK_INK
        cell[y - 1][x] = CHECK_INK
    return cell


def cells():
    out = [caret(), check()]
    for glyph in (close_glyph(), arrow_glyph(False), arrow_glyph(True), arrow_glyph(False)):
        for state in range(4):
            out.append(button(state, glyph))
    return out


def write_bmp(path, rows):
    h, w = len(rows), len(rows[0])
    pitch = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray()
        for r, g, b in rows[y]:
            line += bytes((b, g, r))
        data += line + bytes(pitch - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "data/gui/look.bmp"
    cs = cells()
    rows = [[c for cell in cs for c in cell[y]] for y in range(CELL)]
    write_bmp(path, rows)


if __name__ == "__main__":
    main()
