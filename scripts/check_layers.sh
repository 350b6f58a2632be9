#!/usr/bin/env bash
# Fails when a product file includes one of a floor above its own (or beside
# it): platform <- inventory <- snapshot, propagate <- driver, with cacls
# apart on the platform alone. Tests are not floors: they may include
# anything.
set -euo pipefail
cd "$(dirname "$0")/../src"

floor() {
  case "$1" in
    platform) echo 0 ;;
    inventory) echo 1 ;;
    snapshot | propagate | cacls) echo 2 ;;
    driver) echo 3 ;;
    *) echo "" ;;
  esac
}

status=0
for file in */*.h */*.cpp; do
  case "$file" in *_test.cpp) continue ;; esac
  here=${file%%/*}
  own=$(floor "$here")
  if [ -z "$own" ]; then
    echo "$file: a folder of no known floor" >&2
    status=1
    continue
  fi
  while IFS= read -r included; do
    there=${included%%/*}
    [ "$there" = "$here" ] && continue
    theirs=$(floor "$there")
    if [ -z "$theirs" ] || [ "$theirs" -ge "$own" ] || { [ "$here" = cacls ] && [ "$theirs" -ne 0 ]; }; then
      echo "$file includes $included: not a floor below $here" >&2
      status=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done
exit $status
