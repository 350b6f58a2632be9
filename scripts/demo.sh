#!/usr/bin/env bash
# The main job on a sandbox profile: builds dravonel (and on POSIX its Cacls
# companion), copies the sample profile shipped in sandbox/ into the build
# tree, and runs a whole round there: a snapshot, a simulated install, a
# copy run, and the All Users Start Menu shown after with its permissions.
# DRAVONEL_BIN names a folder with dravonel and Cacls already built; the
# host build is made and used otherwise.
#
# With --windows: the same round with the Windows build under Wine (see
# windows_round below).
set -euo pipefail
cd "$(dirname "$0")/.."

show() {
  echo "\$ $*"
  set +e
  "$@"
  echo "(exit status $?)"
  set -e
}

# Every entry below a folder in name order, with its permissions (unless
# the second argument is "no-permissions": under Wine a file's POSIX
# permissions say nothing of its access list), and for a file its
# last-write time (UTC), which is what dravonel compares.
tree() {
  (cd "$1" && find . -mindepth 1 -printf '%P\0' | LC_ALL=C sort -z |
    while IFS= read -r -d '' entry; do
      [ "${2:-}" = no-permissions ] || printf '%s  ' "$(stat -c %A -- "$entry")"
      if [ -d "$entry" ]; then
        printf '%19s  %s/\n' "" "$entry"
      else
        printf '%s  %s\n' "$(date -u -r "$entry" '+%F %T')" "$entry"
      fi
    done)
}

# The round with the Windows build under Wine, in a Wine prefix made fresh
# for it (build/demo-wine), laid out as Windows Vista to 11 lay out a
# profile: dravonel finds both Start Menus where the shell keeps them, with
# nothing set but what Wine sets. The install adds a program whose name is
# not ASCII to the user's AppData Start Menu; dravonel is installed in the
# prefix as the MSI would install it.
windows_round() {
  scripts/setup.sh
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target dravonel >/dev/null
  # Debian's wine64 package puts no "wine" on PATH.
  local wine=/usr/lib/wine/wine64
  [ -x "$wine" ] || wine="$(command -v wine64 || command -v wine)"
  # No offers to install Wine's .NET and HTML engines: nothing here needs them.
  export WINEPREFIX="$PWD/build/demo-wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # A prefix's server outlives its last program by a few seconds.
  "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  "$wine" wineboot --init >/dev/null 2>&1
  windows_value() { "$wine" cmd /c "echo %$1%" | tr -d '\r'; }
  unix_path() { realpath -m "$("$wine" winepath -u "$1")"; }

  local user_profile system_root app_data program_data
  user_profile="$(windows_value UserProfile)"
  system_root="$(windows_value SystemRoot)"
  app_data="$(windows_value AppData)"
  program_data="$(windows_value ProgramData)"
  local menu shared programs
  menu="$(unix_path "$app_data\Microsoft\Windows\Start Menu")"
  shared="$(unix_path "$program_data\Microsoft\Windows\Start Menu")"
  programs="$(unix_path 'C:\Program Files\dravonel')"
  mkdir -p "$programs"
  cp build/windows/bin/dravonel.exe "$programs/"
  export WINEPATH='C:\Program Files\dravonel'
  # The user's own shortcuts, and an older Calculator that every user has.
  cp -a "sandbox/profile/Start Menu/." "$menu/"
  find "$menu" -exec touch -h -d '2001-06-15 12:00:00 UTC' {} +
  mkdir -p "$shared/Programs/Accessories"
  echo "old shared calculator" >"$shared/Programs/Accessories/Calculator.lnk"
  touch -d '2001-06-10 08:00:00 UTC' "$shared/Programs/Accessories/Calculator.lnk"

  # Started from the command interpreter as a user would type it. Its
  # output here goes through a pipe, so it is the program's own bytes:
  # UTF-8, and CR LF line ends (shown without the CR).
  dravonel() {
    "$wine" cmd /c dravonel "$@" | tr -d '\r'
    return "${PIPESTATUS[0]}"
  }

  echo "WINEPREFIX=$WINEPREFIX (made fresh; Wine sets every variable below)"
  echo "UserProfile=$user_profile"
  echo "SystemRoot=$system_root"
  echo "AppData=$app_data"
  echo "ProgramData=$program_data"
  echo
  echo "# Neither Start Menu of the NT 4.0 layout is there:"
  ls -d "$(unix_path "$user_profile\Start Menu")" "$(unix_path "$system_root\Profiles")" 2>&1 |
    sed "s|$PWD/||" || true
  echo
  echo "# Help:"
  show dravonel /?
  echo
  echo "# The user's Start Menu, %AppData%\\Microsoft\\Windows\\Start Menu:"
  tree "$menu" no-permissions
  echo
  echo "# The All Users Start Menu, %ProgramData%\\Microsoft\\Windows\\Start Menu:"
  tree "$shared" no-permissions
  echo
  echo "# A snapshot run:"
  show dravonel
  (cd "$(unix_path "$user_profile")" && ls -l Dravonel.Dat)
  echo
  echo "# An install for this user only: a new program folder named in"
  echo "# Japanese (Sketch Pad), and one existing shortcut rewritten."
  local program="$menu/Programs/スケッチパッド"
  mkdir -p "$program/Samples"
  echo "sketch pad" >"$program/スケッチパッド.lnk"
  echo "uninstall" >"$program/アンインストール.lnk"
  echo "samples" >"$program/Samples/Café.lnk"
  echo "calculator 2" >"$menu/Programs/Accessories/Calculator.lnk"
  find "$program" -exec touch -h -d '2001-06-16 09:00:00 UTC' {} +
  touch -d '2001-06-16 09:00:00 UTC' "$menu/Programs/Accessories/Calculator.lnk"
  tree "$menu" no-permissions
  echo
  echo "# The copy run. Wine asks for no elevation; on Windows Vista and later"
  echo "# it runs from an elevated prompt (\"Run as administrator\"):"
  show dravonel /c
  if [ -e "$(unix_path "$system_root\system32\cacls.exe")" ]; then
    echo "# Each Exec line ran Wine's own Cacls.exe, a stand-in that changes"
    echo "# nothing: Wine keeps no access lists. On Windows each grants Everyone"
    echo "# read access."
  else
    echo "# This Wine has no Cacls.exe: each Exec line was printed and no grant"
    echo "# ran. On Windows each grants Everyone read access."
  fi
  echo
  echo "# The user's Start Menu after:"
  tree "$menu" no-permissions
  echo
  echo "# The All Users Start Menu after:"
  tree "$shared" no-permissions
  echo
  echo "# The snapshot is used up:"
  (cd "$(unix_path "$user_profile")" && ls Dravonel.Dat 2>&1) || true
  show dravonel /c
}

case "${1:-}" in
  "") ;;
  --windows)
    windows_round
    exit 0
    ;;
  *)
    echo "usage: $0 [--windows]" >&2
    exit 2
    ;;
esac

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
