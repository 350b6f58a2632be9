#!/usr/bin/env bash
# Makes every package in one go: the Windows ZIP and MSI (cross build) and
# the POSIX .deb and .tar.gz, all copied into build/packages.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
mkdir -p build/packages
for preset in host windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
  (cd "build/$preset" && cpack >/dev/null)
done
cmake --build --preset windows --target msi >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/host/CMakeCache.txt)
cp build/windows/packages/dravonel-"$version"-windows-x86_64.{zip,msi} \
   build/host/packages/dravonel{_"$version"_*.deb,-"$version"-*.tar.gz} build/packages/
ls -l build/packages
