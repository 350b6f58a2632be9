#!/usr/bin/env bash
# The main job on a sandbox profile: builds dravonel (and on POSIX its Cacls
# companion), copies the sample profile shipped in sandbox/ into the build
# tree, and runs a whole round there: a snapshot, a simulated install, a
# copy run, and the All Users Start Menu shown after with its permissions.
# DRAVONEL_BIN names a folder with dravonel and Cacls already built; the
# host build is made and used otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -n "${DRAVONEL_BIN:-}" ]; then
  bin="$(cd "$DRAVONEL_BIN" && pwd)"
else
  scripts/setup.sh
  cmake --preset host >/dev/null
  cmake --build --preset host --target dravonel Cacls >/dev/null
  bin="$PWD/build/host/bin"
fi
demo="$PWD/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp -a sandbox/profile "$demo/"
chmod -R u=rwX,go=rX "$demo/profile"
export UserProfile="$demo/profile" SystemRoot="$demo/system"
export PATH="$bin:$PATH"
menu="$UserProfile/Start Menu"
shared="$SystemRoot/Profiles/All Users/Start Menu"

# Fixed times, so that every run of the demo decides the same way.
find "$menu" -exec touch -h -d '2001-06-15 12:00:00 UTC' {} +
mkdir -p "$shared/Programs/Accessories"
echo "old shared calculator" >"$shared/Programs/Accessories/Calculator.lnk"
touch -d '2001-06-10 08:00:00 UTC' "$shared/Programs/Accessories/Calculator.lnk"

show() {
  echo "\$ $*"
  set +e
  "$@"
  echo "(exit status $?)"
  set -e
}

# Every entry below a folder in name order, with its permissions, and for a
# file its last-write time (UTC), which is what dravonel compares.
tree() {
  (cd "$1" && find . -mindepth 1 -printf '%P\0' | LC_ALL=C sort -z |
    while IFS= read -r -d '' entry; do
      if [ -d "$entry" ]; then
        printf '%s  %19s  %s/\n' "$(stat -c %A -- "$entry")" "" "$entry"
      else
        printf '%s  %s  %s\n' "$(stat -c %A -- "$entry")" "$(date -u -r "$entry" '+%F %T')" "$entry"
      fi
    done)
}

echo "UserProfile=$UserProfile"
echo "SystemRoot=$SystemRoot"
echo
echo "# Wrong arguments:"
show dravonel a b
echo
echo "# No UserProfile:"
show env -u UserProfile "$bin/dravonel"
echo
echo "# The user's Start Menu:"
tree "$menu"
echo
echo "# The All Users Start Menu:"
tree "$shared"
echo
echo "# A snapshot run:"
show dravonel
ls -l "$UserProfile"
echo
echo "# An install for this user only: a new program folder with shortcuts,"
echo "# private to the user, and one existing shortcut rewritten."
(
  umask 077
  mkdir -p "$menu/Programs/Sketch Pad/Samples"
  echo "sketch pad" >"$menu/Programs/Sketch Pad/Sketch Pad.lnk"
  echo "uninstall" >"$menu/Programs/Sketch Pad/Uninstall Sketch Pad.lnk"
  echo "samples" >"$menu/Programs/Sketch Pad/Samples/Samples.lnk"
  echo "calculator 2" >"$menu/Programs/Accessories/Calculator.lnk"
)
find "$menu/Programs/Sketch Pad" -exec touch -h -d '2001-06-16 09:00:00 UTC' {} +
touch -d '2001-06-16 09:00:00 UTC' "$menu/Programs/Accessories/Calculator.lnk"
chmod 600 "$menu/Programs/Accessories/Calculator.lnk"
tree "$menu"
echo
echo "# The copy run:"
show dravonel /c
echo "# Sketch Pad went whole, Samples with it: the second Moving Dir finds"
echo "# nothing left to move."
echo
echo "# The user's Start Menu after:"
tree "$menu"
echo
echo "# The All Users Start Menu after, readable by everyone:"
tree "$shared"
echo
echo "# The snapshot is used up:"
ls -l "$UserProfile"
show dravonel /c
