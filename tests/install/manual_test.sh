#!/bin/sh
# The manual page renders without a single warning, by groff and by man.
set -eu
page="$1"
warnings=$(groff -ww -z -man -Tutf8 "$page" 2>&1)
if [ -n "$warnings" ]; then
  echo "groff: $warnings"
  exit 1
fi
if command -v man >/dev/null 2>&1; then
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "man: $warnings"
    exit 1
  fi
fi
echo "manual renders cleanly"
