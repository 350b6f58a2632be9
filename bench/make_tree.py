#!/usr/bin/env python3
"""Makes a Start Menu-like tree of a given number of files, the same every
time for the same arguments: directories one to five levels deep under
"Programs" (vendor, product, parts of a product), a few shortcuts in each,
names with spaces, a few long ones. Every path stays within the 259 bytes
a path may have, counted from the tree's profile folder given.

    make_tree.py ROOT FILES [SEED]

ROOT is the "Start Menu" folder to fill (it must not exist yet).
Prints "DIRS FILES" when done."""

import os
import random
import sys

MAX_PATH = 259
BASE_TIME = 1577836800  # 2020-01-01 00:00:00 UTC

VENDOR_WORDS = ["Contoso", "Fabrikam", "Northwind", "Adventure Works", "Litware", "Proseware",
                "Tailspin", "Wingtip", "Woodgrove", "Alpine Ski", "Blue Yonder", "Coho Winery",
                "Fourth Coffee", "Graphic Design", "Humongous", "Lucerne", "Margie", "Trey Research"]
PRODUCT_WORDS = ["Studio", "Office", "Tools", "Suite", "Player", "Editor", "Viewer", "Manager",
                 "Server", "Client", "Designer", "Toolkit", "Utilities", "Reader", "Workbench"]
PART_WORDS = ["Documentation", "Samples", "Administrative Tools", "Help", "Extras", "Languages",
              "Accessories", "Plug-ins", "Maintenance", "Reference"]
FILE_WORDS = ["Uninstall", "Read Me", "Release Notes", "Help", "Configure", "License",
              "Getting Started", "Support Website", "Command Prompt", "Settings", "Check for Updates"]
EXTENSIONS = [".lnk", ".lnk", ".lnk", ".url", ".pif", ".ini"]
LONG_TAIL = " - a shortcut whose name is long enough to test the limits of a path"


def dir_name(rng, depth, serial):
    if depth == 1:
        return "%s %d" % (rng.choice(VENDOR_WORDS), serial)
    if depth == 2:
        return "%s %s %d" % (rng.choice(VENDOR_WORDS).split()[0], rng.choice(PRODUCT_WORDS), serial)
    if depth == 3:
        return "%s %d (x64)" % (rng.choice(PRODUCT_WORDS), serial)
    return "%s %d" % (rng.choice(PART_WORDS), serial)


def file_name(rng, serial):
    name = "%s %d%s" % (rng.choice(FILE_WORDS), serial, rng.choice(EXTENSIONS))
    if rng.random() < 0.01:
        stem, ext = os.path.splitext(name)
        name = stem + LONG_TAIL + ext
    return name


def fit(parent_length, name):
    # One separator, and the name cut (keeping its end) to what still fits.
    room = MAX_PATH - parent_length - 1
    if len(name) <= room:
        return name
    return name[len(name) - room:] if room >= 8 else None


def main():
    root = sys.argv[1]
    files_wanted = int(sys.argv[2])
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 2001)
    # The paths dravonel builds begin with the profile folder's path.
    root = os.path.abspath(root)
    os.makedirs(root)

    # Directories by depth below "Programs": vendor folders, product
    # folders, and the parts of some products; about eight files each.
    # Weights pick the depth of each new directory.
    depths = [1, 2, 3, 4, 5]
    weights = [10, 35, 35, 15, 5]
    levels = {0: [os.path.join(root, "Programs")]}
    os.mkdir(levels[0][0])
    for extra in ("Startup", "Accessories"):
        os.mkdir(os.path.join(root, extra))
    made_dirs = [os.path.join(root, "Startup"), os.path.join(root, "Accessories"), levels[0][0]]

    files_made = 0
    serial = 0
    time_step = 0

    def add_files(directory, count):
        nonlocal files_made, serial, time_step
        for _ in range(count):
            if files_made >= files_wanted:
                return
            serial += 1
            name = fit(len(directory), file_name(rng, serial))
            if name is None:
                continue
            path = os.path.join(directory, name)
            with open(path, "wb") as out:
                out.write(b"[InternetShortcut]\r\nURL=file:///%d\r\n" % serial)
            time_step += 1
            stamp = BASE_TIME + (time_step * 7919) % 31536000
            os.utime(path, (stamp, stamp))
            files_made += 1

    # A few files in the root itself, as a real Start Menu has.
    add_files(root, 3)
    for directory in made_dirs[:2]:
        add_files(directory, rng.randint(1, 6))

    while files_made < files_wanted:
        depth = rng.choices(depths, weights)[0]
        while not levels.get(depth - 1):
            depth -= 1
        parent = rng.choice(levels[depth - 1])
        serial += 1
        name = fit(len(parent), dir_name(rng, depth, serial))
        if name is None or len(parent) + 1 + len(name) > MAX_PATH - 40:
            continue  # leave room for the files inside
        path = os.path.join(parent, name)
        os.mkdir(path)
        levels.setdefault(depth, []).append(path)
        made_dirs.append(path)
        # One directory in twenty is empty, as after an uninstall.
        if rng.random() >= 0.05:
            add_files(path, rng.randint(1, 14))

    print(len(made_dirs), files_made)


if __name__ == "__main__":
    main()
