#!/usr/bin/env python3
"""Writes the five character lists of the character class table.

Each list is UTF-16LE with the mark FF FE, one character per line, lines
separated by a single LF and no LF after the last line. The GB2312 and Big5
lists are taken from the system's iconv tables, in ascending byte order; byte
pairs iconv does not map are left out. Run from anywhere:

    python3 tools/generate_charlists.py

The output goes to resources/charlists/ next to this script's folder and is
checked in; rerunning it on the same iconv gives the same bytes.
"""

import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUT_DIR = ROOT / "resources" / "charlists"

CJK_FIRST, CJK_LAST = 0x4E00, 0x9FA5
# The two Big5 level-2 characters that duplicate level-1 ones in Unicode's
# unified block; they map to compatibility ideographs instead.
BIG5_COMPAT = {0xFA0C, 0xFA0D}


def pairs(first, last, trail_ranges):
    """Byte pairs from `first` to `last` (inclusive, as 16-bit numbers), row by row."""
    rows = []
    for lead in range(first >> 8, (last >> 8) + 1):
        row = []
        for lo, hi in trail_ranges:
            for trail in range(lo, hi + 1):
                code = (lead << 8) | trail
                if first <= code <= last:
                    row.append(bytes((lead, trail)))
        rows.append(row)
    return rows


def run_iconv(encoding, data):
    """Decodes `data`; None when iconv rejects any of it."""
    result = subprocess.run(
        ["iconv", "-f", encoding, "-t", "UTF-32BE"],
        input=data,
        capture_output=True,
        check=False,
    )
    if result.returncode != 0:
        return None
    return result.stdout.decode("utf-32-be")


def decode_row(encoding, row):
    """Maps each pair of a row to its one character; unmapped pairs are dropped.

    The whole row goes through iconv at once with an LF after each pair, so a
    pair that decodes to anything but exactly one character shows up as a
    misaligned piece. A row iconv rejects is retried pair by pair.
    """
    text = run_iconv(encoding, b"".join(p + b"\n" for p in row))
    if text is not None:
        pieces = text.split("\n")
        if pieces[-1] == "" and len(pieces) == len(row) + 1:
            pieces.pop()
            if all(len(p) == 1 for p in pieces):
                return pieces
    chars = []
    for pair in row:
        piece = run_iconv(encoding, pair)
        if piece is None or piece == "":
            continue
        if len(piece) != 1:
            sys.exit(f"{encoding} {pair.hex().upper()} decodes to {len(piece)} characters")
        chars.append(piece)
    return chars


def decode_range(encoding, first, last, trail_ranges):
    chars = []
    for row in pairs(first, last, trail_ranges):
        chars.extend(decode_row(encoding, row))
    return chars


def resource_bytes(chars):
    return b"\xff\xfe" + "\n".join(chars).encode("utf-16-le")


def main():
    gb_trail = [(0xA1, 0xFE)]
    big5_trail = [(0x40, 0x7E), (0xA1, 0xFE)]
    lists = [
        (110, "GB2312 level 1", decode_range("GB2312", 0xB0A1, 0xD7F9, gb_trail), 3755),
        (111, "GB2312 level 2", decode_range("GB2312", 0xD8A1, 0xF7FE, gb_trail), 3008),
        (108, "Big5 level 1", decode_range("BIG5", 0xA440, 0xC67E, big5_trail), 5401),
        (109, "Big5 level 2", decode_range("BIG5", 0xC940, 0xF9D5, big5_trail), 7652),
        (112, "CJK Unified", [chr(c) for c in range(CJK_FIRST, CJK_LAST + 1)], 20902),
    ]

    failed = False
    for number, name, chars, expected in lists:
        problems = []
        if len(chars) != expected:
            problems.append(f"{len(chars)} characters, expected {expected}")
        if len(set(chars)) != len(chars):
            problems.append(f"{len(chars) - len(set(chars))} duplicates")
        stray = [c for c in chars if not (CJK_FIRST <= ord(c) <= CJK_LAST or ord(c) in BIG5_COMPAT)]
        if stray:
            problems.append("outside the unified block: " + " ".join(f"U+{ord(c):04X}" for c in stray))
        if number == 109 and not BIG5_COMPAT <= {ord(c) for c in chars}:
            problems.append("U+FA0C or U+FA0D missing (this iconv maps C94A/DDFC elsewhere)")
        if problems:
            print(f"{number}.tab {name}: " + "; ".join(problems), file=sys.stderr)
            failed = True
    if failed:
        sys.exit(1)

    OUT_DIR.mkdir(parents=True, exist_ok=True)
    for number, name, chars, _ in lists:
        data = resource_bytes(chars)
        (OUT_DIR / f"{number}.tab").write_bytes(data)
        print(f"{number}.tab  {name:<15} {len(chars):>6} characters  {len(data):>6} bytes")


if __name__ == "__main__":
    main()
