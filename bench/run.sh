#!/usr/bin/env bash
# Times whole runs of dravonel against find, mtree and rsync on generated
# Start Menu trees of both shapes (deep: nested vendor and product folders;
# wide: hundreds of program folders side by side) of 10,000, 100,000 and
# 400,000 files, runs the micro-benchmarks, and writes the report,
# build/bench/BENCHMARKS.md with its plot build/bench/benchmarks.png.
#
#   bench/run.sh [--skip-400k] [--sizes "N ..."] [--shapes "deep wide"]
#                [--runs N] [--note TEXT] [--publish]
#
# --note puts a sentence of your own under the machine's description, such
# as "The machine was shared with another build while this ran."
# --publish also copies the report and its plot over the tracked
# docs/BENCHMARKS.md and docs/benchmarks.png; without it a trial run, of a
# few sizes or runs, leaves them alone.
#
# Every process is timed by hyperfine on the same warm tree in the same run
# (medians of several runs), and run once more under /usr/bin/time for its
# peak memory. Copy runs move what changed, so each repetition starts from
# the same prepared state, made outside the timed region (bench/state.py).
# The trees, results, report and build live in build/bench.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
sizes=(10000 100000 400000)
shapes=(deep wide)
runs=""
note=""
publish=false
while [ $# -gt 0 ]; do
  case "$1" in
    --skip-400k) sizes=(10000 100000); shift ;;
    --sizes) read -r -a sizes <<<"$2"; shift 2 ;;
    --shapes) read -r -a shapes <<<"$2"; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --note) note=$2; shift 2 ;;
    --publish) publish=true; shift ;;
    *) sed -n '2,15p' "$0" >&2; exit 2 ;;
  esac
done

# What the benchmark needs beyond the build: as root this installs it,
# otherwise it prints the command and stops.
"$top/scripts/setup.sh" hyperfine mtree-netbsd rsync time python3-matplotlib libbenchmark-dev

build=$top/build/bench
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVONEL_BENCH=ON \
  -DDRAVONEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
bin=$build/bin
results=$build/results
rm -rf "$results"
mkdir -p "$results"
python=/usr/bin/python3  # Debian's, which has matplotlib
state="$python $here/state.py"
# The grant finds the Cacls built beside dravonel on PATH.
export PATH="$bin:$PATH"
uptime >"$results/load-before.txt"
printf '%s\n' "$note" >"$results/note.txt"

# Runs a command once more for its peak resident memory (KiB) and its
# page faults.
peak_memory() {
  local out=$1
  shift
  /usr/bin/time -f "%M %R" -o "$out" "$@" >"$out.stdout"
}

# Checks that a copy run moved what it should: its count of grant lines.
expect_grants() {
  local got
  got=$(grep -c "^Exec " "$1" || true)
  if [ "$got" != "$2" ]; then
    echo "expected $2 grants in $1, got $got" >&2
    exit 1
  fi
}

for shape in "${shapes[@]}"; do
  for n in "${sizes[@]}"; do
    case_dir=$build/data/$shape-$n
    menu="$case_dir/profile/Start Menu"
    # Results of one tree are named after its shape and size.
    out=$results/$shape-$n
    # The tree is made once per shape, size and generator; later runs reuse it.
    stamp="$shape $n $(sha1sum "$here/make_tree.py" | cut -c1-40)"
    if [ "$(cat "$case_dir/made" 2>/dev/null | head -1)" != "$stamp" ]; then
      rm -rf "$case_dir"
      mkdir -p "$case_dir/profile"
      echo "Making a $shape tree of $n files"
      counts=$($python "$here/make_tree.py" --shape "$shape" "$menu" "$n")
      printf '%s\n%s\n' "$stamp" "$counts" >"$case_dir/made"
    fi
    $state reset "$case_dir"
    rm -rf "$case_dir/system" "$case_dir/empty" "$case_dir/profile/Dravonel.Dat"
    mkdir -p "$case_dir/system/Profiles/All Users/Start Menu" "$case_dir/empty"
    tail -1 "$case_dir/made" >"$out.tree"
    export UserProfile=$case_dir/profile SystemRoot=$case_dir/system

    case $n in
      10000) r=${runs:-20} ;;
      100000) r=${runs:-10} ;;
      *) r=${runs:-5} ;;
    esac
    hf=(hyperfine -N --style basic --warmup 1 --runs "$r")

    echo "== $shape tree of $n files: snapshot run and the reference points"
    find "$menu" >/dev/null  # warm the cache
    mtree -c -k time -p "$menu" >"$case_dir/mtree-listing"
    find_command="find '$menu' -printf '%p %T@\n'"
    mtree_create="mtree -c -k time -p '$menu'"
    mtree_compare="mtree -f $case_dir/mtree-listing -p '$menu'"
    rsync_command="rsync -a --update --dry-run '$menu/' $case_dir/empty/"
    floor_command="$bin/floor_walk '$menu' $case_dir/floor.dat"
    # A snapshot run starts with no snapshot there, as after a copy run,
    # which deletes it.
    "${hf[@]}" --export-json "$out-plain.json" \
      --prepare "$state prepare $case_dir none" \
      -n "dravonel (snapshot)" "$bin/dravonel" \
      -n "find -printf" "$find_command" \
      -n "mtree -c" "$mtree_create" \
      -n "mtree compare" "$mtree_compare" \
      -n "rsync --dry-run" "$rsync_command" \
      -n "floor walk" "$floor_command"
    rm -f "$case_dir/profile/Dravonel.Dat"
    peak_memory "$out-snapshot.mem" "$bin/dravonel"
    peak_memory "$out-find.mem" find "$menu" -printf '%p %T@\n'
    peak_memory "$out-mtree-create.mem" mtree -c -k time -p "$menu"
    peak_memory "$out-mtree-compare.mem" mtree -f "$case_dir/mtree-listing" -p "$menu"
    peak_memory "$out-rsync.mem" rsync -a --update --dry-run "$menu/" "$case_dir/empty/"
    peak_memory "$out-floor.mem" "$bin/floor_walk" "$menu" "$case_dir/floor.dat"
    cp "$case_dir/profile/Dravonel.Dat" "$case_dir/base-unchanged.dat"
    cp "$case_dir/profile/Dravonel.Dat" "$case_dir/base-rewritten.dat"

    echo "== $shape tree of $n files: copy run, nothing changed"
    "${hf[@]}" --export-json "$out-unchanged.json" \
      --prepare "$state prepare $case_dir unchanged" \
      -n "dravonel /c (nothing changed)" "$bin/dravonel /c"
    $state prepare "$case_dir" unchanged
    peak_memory "$out-unchanged.mem" "$bin/dravonel" /c
    expect_grants "$out-unchanged.mem.stdout" 0

    echo "== $shape tree of $n files: copy run, 1% of the files rewritten"
    $state rewrite "$case_dir"
    "${hf[@]}" --export-json "$out-rewritten.json" \
      --prepare "$state prepare $case_dir rewritten" \
      -n "dravonel /c (1% rewritten)" "$bin/dravonel /c"
    $state prepare "$case_dir" rewritten
    peak_memory "$out-rewritten.mem" "$bin/dravonel" /c
    expect_grants "$out-rewritten.mem.stdout" "$(wc -l <"$case_dir/rewritten.txt")"

    echo "== $shape tree of $n files: copy run, one new directory of 1% of the files"
    $state prepare "$case_dir" rewritten
    "$bin/dravonel"  # a snapshot that already holds the rewritten files
    cp "$case_dir/profile/Dravonel.Dat" "$case_dir/base-newdir.dat"
    $state add-dir "$case_dir" $((n / 100))
    "${hf[@]}" --export-json "$out-newdir.json" \
      --prepare "$state prepare $case_dir newdir" \
      -n "dravonel /c (new directory)" "$bin/dravonel /c"
    $state prepare "$case_dir" newdir
    peak_memory "$out-newdir.mem" "$bin/dravonel" /c
    expect_grants "$out-newdir.mem.stdout" 1

    $state prepare "$case_dir" newdir
    $state reset "$case_dir"
  done
done

echo "== micro-benchmarks"
"$bin/dravonel_micro_benchmarks" --benchmark_format=json --benchmark_out="$results/micro.json" \
  --benchmark_out_format=json >/dev/null
uptime >"$results/load-after.txt"

$python "$here/report.py" "$results" "$build"
echo "Wrote build/bench/BENCHMARKS.md and build/bench/benchmarks.png"
if $publish; then
  cp "$build/BENCHMARKS.md" "$build/benchmarks.png" "$top/docs/"
  echo "Published them as docs/BENCHMARKS.md and docs/benchmarks.png"
fi
