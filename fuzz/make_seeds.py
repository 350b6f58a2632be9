#!/usr/bin/env python3
"""Writes the fuzzers' seed corpus: valid snapshot files and truncated ones.

The layout is the snapshot file's: a little-endian u32 count of directory
blocks; each block a 276-byte directory image (file_count, three zero link
slots, path[260]) and file_count 284-byte file images (a zero link slot,
name[260], time_valid, a fill byte, eight u16 time fields, two fill bytes).
Run it again after changing it: python3 fuzz/make_seeds.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def text(value):
    raw = value.encode()
    assert len(raw) < 260
    return raw + b"\0" * (260 - len(raw))


def dir_image(path, file_count):
    return struct.pack("<IIII", file_count, 0, 0, 0) + text(path)


def file_image(name, valid, year, month, dow, day, hour, minute, second, ms):
    return (struct.pack("<I", 0) + text(name) + bytes([valid, 0]) +
            struct.pack("<8H", year, month, dow, day, hour, minute, second, ms) + b"\0\0")


def snapshot(blocks):
    out = struct.pack("<I", len(blocks))
    for path, files in blocks:
        out += dir_image(path, len(files))
        for f in files:
            out += file_image(*f)
    return out


ROOT = "/home/u/Start Menu"
SAME_AS_SCAN = [
    (ROOT, [("Help.lnk", 1, 2026, 5, 3, 7, 12, 30, 1, 250), ("OLD.LNK", 1, 1999, 5, 3, 7, 12, 30, 0, 0)]),
    (ROOT + "/Programs", []),
    (ROOT + "/programs/tool", [("TOOL.lnk", 1, 2026, 5, 3, 7, 12, 30, 4, 999)]),
    (ROOT + "/Programs/Other", [("a", 0, 0, 0, 0, 0, 0, 0, 0, 0)]),
]
SEEDS = {
    "empty": b"",
    "count-zero": snapshot([]),
    "one-empty-dir": snapshot([(ROOT + "/Programs", [])]),
    "root-two-files": snapshot([(ROOT, [("Help.lnk", 1, 2026, 5, 3, 7, 12, 30, 1, 250),
                                        ("x", 0, 1601, 1, 1, 1, 0, 0, 0, 0)])]),
    "like-the-scan": snapshot(SAME_AS_SCAN),
    "other-profile": snapshot([("/home/v/Start Menu/Programs", [("a", 1, 2030, 1, 1, 1, 1, 1, 1, 1)])]),
    "huge-count": struct.pack("<I", 0xFFFFFFFF) + dir_image(ROOT, 0xFFFFFFFF)[:8],
    "unterminated-path": struct.pack("<I", 1) + struct.pack("<IIII", 0, 0, 0, 0) + b"P" * 260,
}
whole = SEEDS["like-the-scan"]
for cut in (3, 4, 100, 280, 281, 560, len(whole) - 1):
    SEEDS["truncated-%d" % cut] = whole[:cut]

for target in ("snapshot_reader", "copy_decision"):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name + ".dat"), "wb") as f:
            f.write(data)
