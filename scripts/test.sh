#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every
# test of the host build and of the Windows build (under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

echo "== host build and tests"
cmake --workflow --preset host

echo "== host build with AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer"
cmake --workflow --preset sanitize

echo "== Windows build, tests under Wine"
cmake --workflow --preset windows
