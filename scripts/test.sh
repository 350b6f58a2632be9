#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every
# test of the host build, again with the sanitizers, runs each fuzzer for a
# bounded time, and builds and runs the Windows build's tests (under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

echo "== every include points down a floor"
scripts/check_layers.sh

echo "== host build and tests"
cmake --workflow --preset host

echo "== host build with AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer"
cmake --workflow --preset sanitize

echo "== fuzzing: each target for 30 seconds from the seed corpus"
scripts/fuzz.sh 30

echo "== Windows build, tests under Wine"
cmake --workflow --preset windows
