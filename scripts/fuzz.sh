#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time, starting
# from the seed corpus in fuzz/corpus (never written to: new inputs go to a
# working corpus in the build tree). Any crash, leak, timeout or memory
# blow-up fails the run and leaves its input in build/fuzz/findings.
#
#   scripts/fuzz.sh            # 30 seconds a target (the test command's run)
#   scripts/fuzz.sh 3600       # an hour a target
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"

scripts/setup.sh clang libclang-rt-14-dev
build_log="$(mktemp)"
if ! { cmake --preset fuzz && cmake --build --preset fuzz; } >"$build_log" 2>&1; then
  cat "$build_log"
  rm -f "$build_log"
  exit 1
fi
rm -f "$build_log"
# A smaller quarantine than the default 256 MB keeps the memory limit for
# real blow-ups, not for freed records held back to catch use after free.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=64}"

findings="$PWD/build/fuzz/findings"
mkdir -p "$findings"
for target in snapshot_reader copy_decision; do
  work="$PWD/build/fuzz/corpus/$target"
  mkdir -p "$work"
  log="$PWD/build/fuzz/$target.log"
  echo "== fuzzing $target for ${seconds}s"
  fuzzer="$PWD/build/fuzz/bin/${target}_fuzzer"
  seeds="$PWD/fuzz/corpus/$target"
  if ! (cd "$work" && "$fuzzer" "$work" "$seeds" \
          -max_total_time="$seconds" -timeout=5 -rss_limit_mb=512 -malloc_limit_mb=256 \
          -max_len=8192 -print_final_stats=1 -artifact_prefix="$findings/$target-" >"$log" 2>&1); then
    tail -40 "$log"
    echo "FAILED: $target found a fault; its input is in $findings"
    exit 1
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$log" | sed "s/^/  /"
  echo "  corpus: $(ls "$work" | wc -l) inputs"
done
