#!/usr/bin/env python3
"""Writes BENCHMARKS.md and benchmarks.png into OUT from the results
bench/run.sh left in build/bench/results; the script passes build/bench,
and copies both to docs/ when asked to publish them.

    report.py RESULTS OUT"""

import datetime
import glob
import json
import os
import platform
import subprocess
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

# The cases of each tree, in the order of the tables: result file, name
# hyperfine gave it, memory file.
CASES = [
    ("plain", "dravonel (snapshot)", "snapshot"),
    ("unchanged", "dravonel /c (nothing changed)", "unchanged"),
    ("rewritten", "dravonel /c (1% rewritten)", "rewritten"),
    ("newdir", "dravonel /c (new directory)", "newdir"),
    ("plain", "find -printf", "find"),
    ("plain", "mtree -c", "mtree-create"),
    ("plain", "mtree compare", "mtree-compare"),
    ("plain", "rsync --dry-run", "rsync"),
    ("plain", "floor walk", "floor"),
]
DRAVONEL = [name for _, name, _ in CASES if name.startswith("dravonel")]
COPY_RUNS = [name for name in DRAVONEL if "/c" in name]
SAME = "dravonel /c (nothing changed)"
SNAPSHOT = "dravonel (snapshot)"
FLOOR = "floor walk"

SHAPES = {
    "deep": "directories one to five levels deep under Programs, about eight files each (one in "
            "twenty empty)",
    "wide": "program folders of ten files each, a quarter straight in Programs and the rest one to "
            "three levels under 31 vendor folders, so that Programs and each vendor folder hold "
            "hundreds of folders",
}

# Peak memory a copy run may take per file of the tree.
MEMORY_TARGET = 250

# What one record takes in its block besides its name (a folder's path),
# which lies right after it at its own length.
RECORD_BYTES = 40


def read(path):
    with open(path) as f:
        return f.read().strip()


def load(results):
    data = {}
    for path in glob.glob(os.path.join(results, "*.tree")):
        shape, n = os.path.basename(path)[:-5].rsplit("-", 1)
        n = int(n)
        dirs, files = (int(x) for x in read(path).split())
        row = {"dirs": dirs, "files": files, "tools": {}}
        for case, name, memory in CASES:
            with open(os.path.join(results, "%s-%d-%s.json" % (shape, n, case))) as f:
                for result in json.load(f)["results"]:
                    if result["command"] == name:
                        kib, faults = (int(x) for x in
                                       read(os.path.join(results, "%s-%d-%s.mem" % (shape, n, memory))).split()[-2:])
                        row["tools"][name] = {
                            "median": result["median"],
                            "min": result["min"],
                            "max": result["max"],
                            "runs": len(result["times"]),
                            "user": result["user"],
                            "system": result["system"],
                            "cpu": result["user"] + result["system"],
                            "kib": kib,
                            "faults": faults,
                        }
        data[(shape, n)] = row
    shapes = [shape for shape in SHAPES if any(key[0] == shape for key in data)]
    sizes = {shape: sorted(n for s, n in data if s == shape) for shape in shapes}
    return shapes, sizes, data


def machine(results):
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        memory_gib = int(f.readline().split()[1]) / 1024 / 1024
    data_dir = os.path.join(os.path.dirname(results), "data")
    fs = subprocess.run(["findmnt", "-n", "-o", "FSTYPE", "-T", data_dir], capture_output=True,
                        text=True).stdout.strip() or "an unknown file system"
    return {
        "cpu": cpu,
        "cores": os.cpu_count(),
        "memory": "%.0f GiB" % memory_gib,
        "kernel": platform.release(),
        "fs": fs,
        "load_before": read(os.path.join(results, "load-before.txt")).split("load average:")[-1].strip(),
        "load_after": read(os.path.join(results, "load-after.txt")).split("load average:")[-1].strip(),
        # When the run began, not when this page was written.
        "date": datetime.datetime.fromtimestamp(os.path.getmtime(os.path.join(results, "load-before.txt")),
                                                datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
    }


def plot(shapes, sizes, data, path):
    fig, axes = plt.subplots(1, len(shapes), figsize=(6.5 * len(shapes), 5.5), squeeze=False, sharey=True)
    for ax, shape in zip(axes[0], shapes):
        for _, name, _ in CASES:
            xs = [data[(shape, n)]["files"] for n in sizes[shape]]
            ys = [data[(shape, n)]["tools"][name]["median"] for n in sizes[shape]]
            style = "-o" if name.startswith("dravonel") else "--s"
            ax.plot(xs, ys, style, label=name)
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_xlabel("files in the tree")
        ax.set_title("%s Start Menu-like trees, warm" % shape.capitalize())
        ax.grid(True, which="both", alpha=0.3)
    axes[0][0].set_ylabel("median wall time of one run (s)")
    axes[0][-1].legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def micro(results):
    path = os.path.join(results, "micro.json")
    if not os.path.exists(path):
        return {}
    with open(path) as f:
        benchmarks = json.load(f)["benchmarks"]
    table = {}
    for b in benchmarks:
        if b.get("run_type") != "iteration":
            continue
        name, size = b["name"].split("/")[:2]
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        # CPU time: on a shared machine the wall time of a step this short
        # is mostly the wait for a core.
        table.setdefault(name, {})[int(size)] = b["cpu_time"] * scale
    return table


def verdict(ok):
    return "met" if ok else "**not met**"


def main():
    results, out_dir = sys.argv[1], sys.argv[2]
    shapes, sizes, data = load(results)
    info = machine(results)
    plot(shapes, sizes, data, os.path.join(out_dir, "benchmarks.png"))
    bench = micro(results)

    def tool(shape, n, name):
        return data[(shape, n)]["tools"][name]

    def t(shape, n, name):
        return tool(shape, n, name)["median"]

    def cpu(shape, n, name):
        return tool(shape, n, name)["cpu"]

    out = []
    w = out.append
    w("# Benchmarks\n")
    w("Written by `bench/run.sh` on %s. Do not edit by hand: rerun it.\n" % info["date"])
    w("Machine: %s, %d cores, %s of memory, Linux %s; the trees on %s. "
      "Load average before the run %s, after it %s." % (
          info["cpu"], info["cores"], info["memory"], info["kernel"], info["fs"],
          info["load_before"], info["load_after"]))
    note_path = os.path.join(results, "note.txt")
    if os.path.exists(note_path) and read(note_path):
        w(read(note_path))
    w("A load near or above the number of cores means the machine was shared with other work "
      "while it ran, which lengthens every wall time a little, the references' as much as "
      "dravonel's; the CPU time (user + system, the mean of the same runs) is what a shared "
      "machine measures best.\n")
    w("Each tree is made by `bench/make_tree.py`, in two shapes: **deep**, %s; **wide**, %s. "
      "Names have spaces, one in a hundred is long, every path is within 259 bytes. "
      "Each time is the median of several runs of the whole process by hyperfine on the same warm "
      "tree; peak memory is the maximum resident set of one more run (`/usr/bin/time`). Copy runs "
      "(`/c`) start each repetition from the same state, prepared outside the timed region: the "
      "snapshot from before the change, and what the last repetition moved put back, with nothing "
      "left waiting to be written to the disk. A snapshot "
      "run starts with no earlier snapshot in the profile, as after a copy run, which deletes it "
      "(replacing an earlier one costs more on ext4, which flushes a file truncated and rewritten "
      "when it is closed). The destination is an All Users Start Menu holding the directories the "
      "moved items need; every moved item is granted read access by running Cacls, the POSIX "
      "companion built beside dravonel. The floor walk (`bench/floor_walk.cpp`) is the least work a "
      "snapshot run needs, and keeps nothing: each folder opened from its parent, listed with "
      "getdents64, one fstatat a file, and a record of the snapshot's size for each folder and file "
      "written in one stream.\n" % (SHAPES["deep"], SHAPES["wide"]))

    w("![time against files](benchmarks.png)\n")

    for shape in shapes:
        w("## The %s shape\n" % shape)
        for n in sizes[shape]:
            row = data[(shape, n)]
            base = t(shape, n, "find -printf")
            w("### %s files in %s directories\n" % (format(row["files"], ","), format(row["dirs"], ",")))
            w("| run | median | min – max | runs | vs find | CPU: user + system | peak memory | per file |")
            w("|---|---:|---:|---:|---:|---:|---:|---:|")
            for _, name, _ in CASES:
                x = row["tools"][name]
                w("| %s | %.3f s | %.3f – %.3f s | %d | %.2f× | %.3f s = %.3f + %.3f | %.1f MiB | %d B |" % (
                    name, x["median"], x["min"], x["max"], x["runs"], x["median"] / base,
                    x["cpu"], x["user"], x["system"], x["kib"] / 1024, x["kib"] * 1024 / row["files"]))
            w("")

    # Targets, at 100,000 files of each shape (and growth to 400,000 where
    # that was run).
    w("## Targets\n")
    w("| target | shape | measured | |")
    w("|---|---|---|---|")
    missed = []

    def target(goal, shape, measured, ok):
        w("| %s | %s | %s | %s |" % (goal, shape, measured, verdict(ok)))
        if not ok:
            missed.append((goal, shape, measured))

    at = 100000
    measured = [shape for shape in shapes if at in sizes[shape]]
    for shape in measured:
        same, mtree = cpu(shape, at, SAME), cpu(shape, at, "mtree compare")
        target("`/c` nothing changed: CPU time ≤ `mtree -f` compare's (100k)", shape,
               "%.3f s vs %.3f s = %.2f×" % (same, mtree, same / mtree), same <= mtree)

    def against_find(goal, name, limit):
        for shape in measured:
            mine, find = t(shape, at, name), t(shape, at, "find -printf")
            target("%s: wall time ≤ %s × `find -printf` (100k)" % (goal, limit), shape,
                   "%.3f s / %.3f s = %.2f× (CPU %.2f×)" % (
                       mine, find, mine / find, cpu(shape, at, name) / cpu(shape, at, "find -printf")),
                   mine / find <= limit)

    against_find("`/c` nothing changed", SAME, 1.2)
    against_find("snapshot run", SNAPSHOT, 1.05)

    def against_floor(goal, name, limit):
        for shape in measured:
            mine, floor = cpu(shape, at, name), cpu(shape, at, FLOOR)
            target("%s: CPU time ≤ %s × the floor walk's (100k)" % (goal, limit), shape,
                   "%.3f s / %.3f s = %.2f×" % (mine, floor, mine / floor), mine / floor <= limit)

    against_floor("snapshot run", SNAPSHOT, 1.15)
    against_floor("`/c` nothing changed", SAME, 1.15)
    for shape in measured:
        moved, same = t(shape, at, "dravonel /c (1% rewritten)"), t(shape, at, SAME)
        target("1,000 moved files with their grants ≤ 2 s (100k)", shape,
               "%.3f s for the whole run (%.3f s more than with nothing changed)" % (moved, moved - same),
               moved <= 2.0)
    for shape in shapes:
        large = [n for n in sizes[shape] if n >= at]
        if not large:
            continue
        worst = max(tool(shape, n, name)["kib"] * 1024 / data[(shape, n)]["files"]
                    for n in large for name in COPY_RUNS)
        target("peak memory of `/c` ≤ %d bytes per file (%s files)" % (
               MEMORY_TARGET, " and ".join(format(n, ",") for n in large)), shape,
               "up to %d B per file" % worst, worst <= MEMORY_TARGET)
    for shape in shapes:
        if at not in sizes[shape] or 400000 not in sizes[shape]:
            continue
        def growth(of):
            return {name: of(shape, 400000, name) / of(shape, at, name) for name in DRAVONEL + ["find -printf"]}

        def listed(grown):
            return ", ".join("%s %.2f×" % (name.replace("dravonel ", ""), g) for name, g in grown.items())

        wall = growth(t)
        target("100k → 400k: each dravonel time grows ≤ 4.2-fold", shape,
               "wall: %s; CPU: %s" % (listed(wall), listed(growth(cpu))),
               max(wall[name] for name in DRAVONEL) <= 4.2)
    w("")
    w("Each ratio is of two medians of a few runs; with the cores shared, the medians move by "
      "several percent from one run of the benchmark to the next, which is why the CPU time is "
      "shown beside each.\n")

    w("### Where the time goes\n")
    for shape in measured:
        x, find, tree = tool(shape, at, SAME), tool(shape, at, "find -printf"), data[(shape, at)]
        w("%s shape, 100k, `/c` with nothing changed: %.3f s of CPU, %.0f%% of it in the kernel "
          "(`find -printf`: %.3f s, %.0f%%); %d page faults, %.2f a file (`find`: %d)." % (
              shape.capitalize(), x["cpu"], 100 * x["system"] / x["cpu"], find["cpu"],
              100 * find["system"] / find["cpu"], x["faults"], x["faults"] / tree["files"],
              find["faults"]))
    w("")
    w("Both programs list every folder and read the time of every file; the kernel's share of "
      "that is most of either run. A copy run also reads the snapshot (276 bytes a folder and 284 "
      "a file) and holds two inventories, the snapshot's and the fresh scan's, of records of %d "
      "bytes each with its name (a folder's path) right after it at its own length; the pages of "
      "fresh record memory are made present 64 KiB at a time, ahead of the records. The floor walk "
      "makes the same calls a folder and a file and keeps nothing: what dravonel spends beyond it "
      "is mostly its records, and, in a copy run, reading the snapshot and comparing.\n" % RECORD_BYTES)
    parts = os.path.join(os.path.dirname(os.path.abspath(__file__)), "speed_parts.md")
    if os.path.exists(parts):
        w(read(parts))
    if missed:
        w("Not met: " + "; ".join("%s, %s shape: %s" % m for m in missed) + ".\n")

    if bench:
        w("## Micro-benchmarks\n")
        w("`build/bench/bin/dravonel_micro_benchmarks` (Google Benchmark) times the in-process steps on "
          "synthetic inventories of eight files a directory: saving and loading the snapshot file (in "
          "the page cache), and change detection with nothing changed (the lookups alone). The times "
          "are CPU times (user + system) of one step.\n")
        bench_sizes = sorted({size for table in bench.values() for size in table})
        w("| step | " + " | ".join("%s files" % format(s, ",") for s in bench_sizes) + " | CPU ns per file at the largest |")
        w("|---|" + "---:|" * (len(bench_sizes) + 1))
        for name, table in bench.items():
            cells = " | ".join("%.2f ms" % table[s] for s in bench_sizes)
            w("| %s | %s | %.0f |" % (name.replace("BM_", ""), cells,
                                     table[bench_sizes[-1]] * 1e6 / bench_sizes[-1]))
        w("")

    w("## Rerunning\n")
    w("`bench/run.sh --publish` (see the README for the packages it needs) regenerates this page and "
      "its plot; without `--publish` it writes them to `build/bench` only. "
      "`--skip-400k` leaves out the largest trees, `--shapes deep` or `--shapes wide` one shape, "
      "`--runs N` sets the repetitions. The trees are kept in `build/bench/data` and made again "
      "only when the generator changes.")
    with open(os.path.join(out_dir, "BENCHMARKS.md"), "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
