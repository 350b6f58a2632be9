#!/usr/bin/env bash
# Prints the figures of docs/RELIABILITY.md: the host build's whole suite
# under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer, the
# figures its fault, interruption and concurrency tests print, and a
# bounded fuzzing run.
#
#   scripts/reliability_figures.sh               # 30 s a fuzz target, build/sanitize
#   scripts/reliability_figures.sh 600           # 10 minutes a target
#   scripts/reliability_figures.sh 30 build/x    # a sanitizer build tree already built
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
build="${2:-}"

if [ -z "$build" ]; then
  scripts/setup.sh
  cmake --preset sanitize >/dev/null
  cmake --build --preset sanitize >/dev/null
  build=build/sanitize
fi
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT
failed=0
for suite in unit blackbox fault; do
  "$build/bin/dravonel_${suite}_tests" >"$logs/$suite.log" 2>&1 || failed=1
done

count() { cat "$logs"/*.log | grep -c -E "$1" || true; }
# Sums the number in the lines that match: GoogleTest's summary lines.
sum() { cat "$logs"/*.log | awk -v pattern="$1" '$0 ~ pattern { for (i = 1; i <= NF; ++i) if ($i ~ /^[0-9]+$/) { n += $i; break } } END { print n + 0 }'; }
echo "== sanitizer suite ($build)"
echo "  tests passed:       $(sum '^\\[  PASSED  \\] [0-9]+ tests?')"
echo "  tests skipped:      $(sum '^\\[  SKIPPED \\] [0-9]+ tests?')"
echo "  tests failed:       $(sum '^ *[0-9]+ FAILED TESTS?')"
echo "  sanitizer reports:  $(count 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:')"
echo "  leaks:              $(count 'ERROR: LeakSanitizer')"

echo "== fault injection, interruption and concurrency"
grep -h '^\[ figures  \]' "$logs"/*.log | sed 's/^\[ figures  \] /  /'

echo "== fuzzing (${seconds}s a target)"
fuzz_failed=0
scripts/fuzz.sh "$seconds" >"$logs/fuzz.log" 2>&1 || fuzz_failed=1
grep -E '^==|stat::number_of_executed_units|corpus:|FAILED' "$logs/fuzz.log" | sed 's/^== fuzzing /  /'
for target in snapshot_reader copy_decision; do
  echo "  $target seeds kept in fuzz/corpus: $(ls "fuzz/corpus/$target" | wc -l)"
done
echo "  crashes, leaks, timeouts and memory blow-ups found: $(ls build/fuzz/findings 2>/dev/null | wc -l)"

[ "$failed" -eq 0 ] && [ "$fuzz_failed" -eq 0 ]
