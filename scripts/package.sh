#!/usr/bin/env bash
# Makes every package in one go: the Windows ZIP and MSI (cross build) and
# the POSIX .deb and .tar.gz, all copied into build/packages.
#
# Says each stage on a line as it starts and lists the packages at the end.
# What the tools print goes to build/package.log, which is shown when a
# stage fails. Builds run no more jobs than the machine has cores.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
log=build/package.log

# Runs one stage with its output in the log; on failure shows the log and
# stops.
stage() {
  local what=$1
  shift
  echo "== $what"
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    echo "package.sh: $what failed (its output above, also in $log)" >&2
    exit 1
  fi
}

scripts/setup.sh
mkdir -p build
for preset in host windows; do
  stage "$preset build: configure" cmake --preset "$preset"
  stage "$preset build: build with $jobs jobs" cmake --build --preset "$preset" -j "$jobs"
  stage "$preset build: cpack" cpack --config "build/$preset/CPackConfig.cmake"
done
stage "windows build: MSI" cmake --build --preset windows --target msi -j "$jobs"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/host/CMakeCache.txt)
rm -rf build/packages
mkdir build/packages
cp build/windows/packages/dravonel-"$version"-windows-x86_64.{zip,msi} \
   build/host/packages/dravonel{_"$version"_*.deb,-"$version"-linux-*.tar.gz} build/packages/
echo "== packages"
ls -d "$PWD"/build/packages/*
