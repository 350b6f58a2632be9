#!/usr/bin/env bash
# Makes every package in one go: the Windows ZIP (cross build) and the
# POSIX .deb and .tar.gz, all copied into build/packages.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh dpkg-dev
mkdir -p build/packages
for preset in host windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
  (cd "build/$preset" && cpack >/dev/null)
  cp "build/$preset"/packages/*.{zip,deb,tar.gz} build/packages/ 2>/dev/null || true
done
ls -l build/packages
