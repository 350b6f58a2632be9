#!/usr/bin/env python3
"""Puts a benchmark tree into the state a timed copy run starts from, outside
the timed region. A copy run moves what changed, so each repetition needs
the same state again: what the last run moved to the All Users Start Menu
goes back where it was (a rename keeps its last-write time), and the
snapshot taken before the change is put back ("none": no snapshot, as a
snapshot run finds it after a copy run). Whatever is still waiting to be
written goes to the disk before the timed run starts.

    state.py rewrite CASE     rewrite 1% of the files with a later time
    state.py add-dir CASE     add one new directory holding 1% of the files
    state.py prepare CASE unchanged|rewritten|newdir|none
    state.py reset CASE       undo both changes: the tree as it was made

CASE is the folder of one tree size (holding profile/ and system/)."""

import os
import shutil
import sys

LATER = 1609459200  # 2021-01-01, after every time the generator gives
GRANT_ROOM = 231  # the longest target the grant's 260-byte command line takes
NEW_DIR = os.path.join("Programs", "Bench New Vendor Suite")


def paths(case):
    user = os.path.join(case, "profile", "Start Menu")
    all_users = os.path.join(case, "system", "Profiles", "All Users", "Start Menu")
    return user, all_users


def files_of(root):
    found = []
    for directory, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files):
            found.append(os.path.relpath(os.path.join(directory, name), root))
    return found


def move_back(user, all_users, relative):
    source = os.path.join(all_users, relative)
    if os.path.lexists(source):
        target = os.path.join(user, relative)
        if os.path.lexists(target):
            raise SystemExit("both sides hold " + relative)
        os.rename(source, target)


def rewrite(case):
    # Every hundredth file, in a fixed order; its directory made on the All
    # Users side, where the copy run does not create it.
    user, all_users = paths(case)
    files = files_of(user)
    chosen = []
    for start in range(0, len(files), 100):
        # Where a long name would make the grant's command line too long
        # for the program to run it, the next file takes its place: every
        # chosen file is moved and granted.
        for relative in files[start:start + 100]:
            if len(os.path.join(all_users, relative)) <= GRANT_ROOM:
                chosen.append(relative)
                break
    with open(os.path.join(case, "rewritten.txt"), "w") as listing:
        for relative in chosen:
            path = os.path.join(user, relative)
            before = os.lstat(path).st_mtime_ns
            with open(path, "rb") as old:
                content = old.read()
            with open(path, "wb") as new:
                new.write(content)
            os.utime(path, ns=(LATER * 10**9, LATER * 10**9))
            os.makedirs(os.path.join(all_users, os.path.dirname(relative)), exist_ok=True)
            listing.write("%d %s\n" % (before, relative))


def rewritten(case):
    with open(os.path.join(case, "rewritten.txt")) as listing:
        for line in listing:
            before, relative = line.rstrip("\n").split(" ", 1)
            yield int(before), relative


def add_dir(case, count):
    user, all_users = paths(case)
    directory = os.path.join(user, NEW_DIR)
    os.makedirs(directory)
    os.makedirs(os.path.join(all_users, os.path.dirname(NEW_DIR)), exist_ok=True)
    for i in range(count):
        with open(os.path.join(directory, "New Shortcut %d.lnk" % i), "wb") as out:
            out.write(b"[InternetShortcut]\r\nURL=file:///new/%d\r\n" % i)


def prepare(case, mode):
    user, all_users = paths(case)
    if mode == "rewritten":
        for _, relative in rewritten(case):
            move_back(user, all_users, relative)
    elif mode == "newdir":
        move_back(user, all_users, NEW_DIR)
    elif mode not in ("unchanged", "none"):
        raise SystemExit("unknown state " + mode)
    target = os.path.join(case, "profile", "Dravonel.Dat")
    if mode == "none":
        if os.path.exists(target):
            os.remove(target)
    else:
        shutil.copyfile(os.path.join(case, "base-%s.dat" % mode), target)
    # The last repetition's snapshot (130 MB at 400,000 files) and the copy
    # just made would otherwise be written out by the kernel's flusher in
    # the middle of the next timed run, taking one of two cores from it.
    os.sync()


def reset(case):
    user, all_users = paths(case)
    if os.path.exists(os.path.join(case, "rewritten.txt")):
        for before, relative in rewritten(case):
            move_back(user, all_users, relative)
            os.utime(os.path.join(user, relative), ns=(before, before))
        os.remove(os.path.join(case, "rewritten.txt"))
    move_back(user, all_users, NEW_DIR)
    shutil.rmtree(os.path.join(user, NEW_DIR), ignore_errors=True)


def main():
    verb, case = sys.argv[1], sys.argv[2]
    if verb == "rewrite":
        rewrite(case)
    elif verb == "add-dir":
        add_dir(case, int(sys.argv[3]))
    elif verb == "prepare":
        prepare(case, sys.argv[3])
    elif verb == "reset":
        reset(case)
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
