#!/bin/sh
# Each manual page renders without a single warning, by groff and by man.
set -eu
for page in "$@"; do
  warnings=$(groff -ww -z -man -Tutf8 "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "groff: $page: $warnings"
    exit 1
  fi
  if command -v man >/dev/null 2>&1; then
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
      echo "man: $page: $warnings"
      exit 1
    fi
  fi
done
echo "manual pages render cleanly"
