#!/usr/bin/env python3
"""Makes a Start Menu-like tree of a given number of files, the same every
time for the same arguments, in one of two shapes:

  deep  directories one to five levels deep under "Programs" (vendor,
        product, parts of a product), a few shortcuts in each;
  wide  program folders of ten shortcuts each, as installers make them: a
        quarter straight in "Programs", the rest one to three levels under
        31 vendor folders, so that "Programs" and the vendor folders hold
        hundreds of folders each.

Names have spaces, a few are long. Every path stays within the 259 bytes a
path may have, counted from the tree's profile folder given.

    make_tree.py [--shape deep|wide] ROOT FILES [SEED]

ROOT is the "Start Menu" folder to fill (it must not exist yet).
Prints "DIRS FILES" when done."""

import argparse
import os
import random

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


class Tree:
    """The folders and files made so far, and the serial number that keeps
    every name apart."""

    def __init__(self, root, files_wanted, rng):
        self.root = root
        self.files_wanted = files_wanted
        self.rng = rng
        self.dirs = []
        self.files_made = 0
        self.serial = 0
        self.time_step = 0

    def full(self):
        return self.files_made >= self.files_wanted

    def add_dir(self, parent, name):
        path = os.path.join(parent, name)
        os.mkdir(path)
        self.dirs.append(path)
        return path

    def add_files(self, directory, count):
        for _ in range(count):
            if self.full():
                return
            self.serial += 1
            name = fit(len(directory), file_name(self.rng, self.serial))
            if name is None:
                continue
            path = os.path.join(directory, name)
            with open(path, "wb") as out:
                out.write(b"[InternetShortcut]\r\nURL=file:///%d\r\n" % self.serial)
            self.time_step += 1
            stamp = BASE_TIME + (self.time_step * 7919) % 31536000
            os.utime(path, (stamp, stamp))
            self.files_made += 1


def make_deep(tree, programs):
    # Directories by depth below "Programs": vendor folders, product
    # folders, and the parts of some products; about eight files each.
    # Weights pick the depth of each new directory.
    rng = tree.rng
    depths = [1, 2, 3, 4, 5]
    weights = [10, 35, 35, 15, 5]
    levels = {0: [programs]}
    while not tree.full():
        depth = rng.choices(depths, weights)[0]
        while not levels.get(depth - 1):
            depth -= 1
        parent = rng.choice(levels[depth - 1])
        tree.serial += 1
        name = fit(len(parent), dir_name(rng, depth, tree.serial))
        if name is None or len(parent) + 1 + len(name) > MAX_PATH - 40:
            continue  # leave room for the files inside
        path = tree.add_dir(parent, name)
        levels.setdefault(depth, []).append(path)
        # One directory in twenty is empty, as after an uninstall.
        if rng.random() >= 0.05:
            tree.add_files(path, rng.randint(1, 14))


WIDE_VENDORS = 31
WIDE_LINES = 40  # product lines a vendor folder may hold
WIDE_EDITIONS = 3  # editions a product line may hold


def make_wide(tree, programs):
    # Program folders of ten shortcuts. A quarter go straight into
    # "Programs"; the rest under a vendor folder, one to three levels down:
    # in the vendor folder, in one of its product lines, or in an edition of
    # a line. Lines and editions are made when first used.
    rng = tree.rng
    vendors = []
    for v in range(WIDE_VENDORS):
        vendors.append(tree.add_dir(programs, "%s %d" % (VENDOR_WORDS[v % len(VENDOR_WORDS)], v + 1)))
    made = {}

    def folder(parent, name):
        if (parent, name) not in made:
            made[(parent, name)] = tree.add_dir(parent, name)
        return made[(parent, name)]

    while not tree.full():
        tree.serial += 1
        if rng.random() < 0.25:
            parent = programs
        else:
            parent = rng.choice(vendors)
            depth = rng.randint(1, 3)
            if depth >= 2:
                line = rng.randint(1, WIDE_LINES)
                parent = folder(parent, "%s Line %d" % (PRODUCT_WORDS[line % len(PRODUCT_WORDS)], line))
            if depth == 3:
                parent = folder(parent, "Edition %d" % rng.randint(1, WIDE_EDITIONS))
        name = "%s %s %d" % (rng.choice(VENDOR_WORDS).split()[0], rng.choice(PRODUCT_WORDS), tree.serial)
        tree.add_files(tree.add_dir(parent, name), 10)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--shape", choices=["deep", "wide"], default="deep")
    parser.add_argument("root")
    parser.add_argument("files", type=int)
    parser.add_argument("seed", type=int, nargs="?", default=2001)
    args = parser.parse_args()
    # The paths dravonel builds begin with the profile folder's path.
    root = os.path.abspath(args.root)
    os.makedirs(root)
    tree = Tree(root, args.files, random.Random(args.seed))

    programs = os.path.join(root, "Programs")
    os.mkdir(programs)
    for extra in ("Startup", "Accessories"):
        os.mkdir(os.path.join(root, extra))
    tree.dirs = [os.path.join(root, "Startup"), os.path.join(root, "Accessories"), programs]
    # A few files in the root itself, as a real Start Menu has.
    tree.add_files(root, 3)
    for directory in tree.dirs[:2]:
        tree.add_files(directory, tree.rng.randint(1, 6))

    if args.shape == "deep":
        make_deep(tree, programs)
    else:
        make_wide(tree, programs)
    print(len(tree.dirs), tree.files_made)


if __name__ == "__main__":
    main()
