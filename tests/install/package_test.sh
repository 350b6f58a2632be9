#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed program
# through a full round on a sample profile; then makes the packages and
# checks what they hold, that each holds the license, that the .deb meets
# lintian, and runs the round again from the unpacked .deb. On Windows the
# MSI is installed, upgraded over and removed again under Wine.
#   package_test.sh BUILD_DIR host VERSION
#   package_test.sh BUILD_DIR windows VERSION WINE
set -euo pipefail
export LC_ALL=C
build="$(cd "$1" && pwd)"
kind="$2"
version="$3"
wine="${4:-}"
license="$(cd "$(dirname "$0")/../.." && pwd)/LICENSE"
round="$(dirname "$license")/packaging/dravonel-round.cmd"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAILED: $*"
  exit 1
}

# The contents list of a package, one path a line, sorted, without
# directories; compared with what it must hold, exactly.
expect_contents() {
  local what="$1" listing="$2" expected="$3"
  if [ "$listing" != "$expected" ]; then
    echo "$what holds:"
    echo "$listing"
    echo "expected:"
    echo "$expected"
    fail "$what contents"
  fi
}

# The license text, from its first sentence on, as LICENSE has it and as a
# Debian copyright file carries it (indented, "." for a blank line).
license_text() { sed -n '/^Permission/,$p' "$license"; }
copyright_license_text() { sed -n '/^ Permission/,$p' "$1" | sed 's/^ //; s/^\.$//'; }

# The file version in a Windows program's VERSIONINFO, as "1.2.3.0": the four
# 16-bit parts that follow the signature of its fixed file information.
file_version() {
  local at
  at=$(grep -obUaP '\xBD\x04\xEF\xFE' "$1" | head -n 1 | cut -d: -f1)
  [ -n "$at" ] && od -An -tu2 -j $((at + 8)) -N 8 "$1" | awk '{ print $2 "." $1 "." $4 "." $3 }'
}

# A full round with the programs in bin: snapshot, an install, copy run.
full_round() {
  local bin="$1" root="$2"
  local profile="$root/profile" system="$root/system"
  local menu="$profile/Start Menu" shared="$system/Profiles/All Users/Start Menu"
  mkdir -p "$menu/Programs" "$shared/Programs"
  echo help >"$menu/Help.lnk"
  env -i PATH="$bin:/usr/bin:/bin" UserProfile="$profile" SystemRoot="$system" "$bin/dravonel" \
    || fail "snapshot run"
  [ -f "$profile/Dravonel.Dat" ] || fail "no snapshot"
  mkdir "$menu/Programs/Tool"
  (umask 077 && echo tool >"$menu/Programs/Tool/Tool.lnk")
  chmod 700 "$menu/Programs/Tool"
  local out
  out="$(env -i PATH="$bin:/usr/bin:/bin" UserProfile="$profile" SystemRoot="$system" "$bin/dravonel" /c)" \
    || fail "copy run"
  local expected
  expected="Moving Dir $menu/Programs/Tool 
        to $shared/Programs/Tool
Exec 'Cacls \"$shared/Programs/Tool\" /T /E /G Everyone:R'"
  [ "$out" = "$expected" ] || { echo "$out"; fail "copy run output"; }
  [ "$(cat "$shared/Programs/Tool/Tool.lnk")" = tool ] || fail "Tool.lnk not moved"
  [ "$(stat -c %a "$shared/Programs/Tool/Tool.lnk")" = 644 ] || fail "Tool.lnk not readable by all"
  [ "$(stat -c %a "$shared/Programs/Tool")" = 755 ] || fail "Tool not searchable by all"
  [ ! -e "$profile/Dravonel.Dat" ] || fail "snapshot left behind"
}

if [ "$kind" = host ]; then
  cmake --install "$build" --prefix "$work/prefix" >/dev/null
  full_round "$work/prefix/bin" "$work/installed"
  [ -f "$work/prefix/share/doc/dravonel/README.md" ] || fail "README not installed"
  echo "installed program: full round passed"

  (cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >/dev/null)
  deb=$(ls "$work"/packages/*.deb)
  tgz=$(ls "$work"/packages/*.tar.gz)
  expect_contents ".deb" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)" \
"./usr/bin/Cacls
./usr/bin/dravonel
./usr/share/doc/dravonel/README.md
./usr/share/doc/dravonel/changelog.gz
./usr/share/doc/dravonel/copyright
./usr/share/man/man1/Cacls.1.gz
./usr/share/man/man1/dravonel.1.gz"
  # Named by its system and architecture, as the ZIP and the MSI are; the
  # README and the license at its top, beside the installed tree.
  [ "$(basename "$tgz")" = "dravonel-$version-linux-$(uname -m).tar.gz" ] || fail "$(basename "$tgz"): not named by its architecture"
  expect_contents ".tar.gz" "$(tar tzf "$tgz" | grep -v '/$' | sed 's#^[^/]*/##' | sort)" \
"LICENSE
README.md
bin/Cacls
bin/dravonel
share/doc/dravonel/README.md
share/doc/dravonel/changelog.gz
share/doc/dravonel/copyright
share/man/man1/Cacls.1.gz
share/man/man1/dravonel.1.gz"
  dpkg-deb -x "$deb" "$work/unpacked"
  mkdir "$work/untarred" && tar xzf "$tgz" -C "$work/untarred"
  for copyright in "$work"/unpacked/usr/share/doc/dravonel/copyright "$work"/untarred/*/share/doc/dravonel/copyright; do
    [ "$(copyright_license_text "$copyright")" = "$(license_text)" ] || fail "$copyright does not hold the license"
  done
  cmp -s "$work"/untarred/*/LICENSE "$license" || fail "the .tar.gz's LICENSE is not the license"
  docs="$work/unpacked/usr/share"
  [ "$(zcat "$docs/doc/dravonel/changelog.gz" | head -n 1)" = "dravonel ($version) unstable; urgency=medium" ] \
    || fail "changelog's newest entry is not $version"
  for page in dravonel Cacls; do
    man -M "$docs/man" -w "$page" >/dev/null 2>&1 || fail "man $page finds no page"
    zgrep -q "^\.TH .* \"dravonel $version\"" "$docs/man/man1/$page.1.gz" || fail "$page.1 does not carry $version"
  done
  if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 || { cat "$work/lintian"; fail "lintian"; }
    echo "lintian: no error, no warning"
  else
    echo "lintian not installed: the .deb is not checked against Debian's rules"
  fi
  full_round "$work/unpacked/usr/bin" "$work/from-deb"
  echo "packages: contents and license as expected; the unpacked .deb does a full round"
else
  (cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >/dev/null)
  zip=$(ls "$work"/packages/*.zip)
  expect_contents ".zip" "$(unzip -Z1 "$zip" | grep -v '/$' | sed 's#^[^/]*/##' | sort)" \
"LICENSE
README.md
dravonel-round.cmd
dravonel.exe"
  unzip -q "$zip" -d "$work/unzipped"
  exe=$(ls "$work"/unzipped/*/dravonel.exe)
  cmp -s "$(dirname "$exe")/LICENSE" "$license" || fail "the ZIP's LICENSE is not the license"
  # The round script byte for byte, its CR LF line ends kept.
  cmp -s "$(dirname "$exe")/dravonel-round.cmd" "$round" || fail "the ZIP's dravonel-round.cmd is not the script"
  strings -el "$exe" | grep -qx "dravonel" || fail "no version information in dravonel.exe"
  strings -el "$exe" | grep -qx "$version" || fail "version information does not carry the project's version"
  [ "$(file_version "$exe")" = "$version.0" ] || fail "dravonel.exe's file version is $(file_version "$exe")"
  echo "ZIP: contents as expected, version information present"

  cmake --build "$build" --target msi >/dev/null
  msi="$build/packages/dravonel-$version-windows-x86_64.msi"
  # The program's file version in the File table, as its VERSIONINFO has it.
  [ "$(msiinfo export "$msi" File | awk -F'\t' '$1 == "dravonel.exe" { print $5 }')" = "$(file_version "$exe")" ] ||
    { msiinfo export "$msi" File; fail "MSI: dravonel.exe's version in the File table"; }
  # The same package as an older version, with a product code of its own.
  cp "$msi" "$work/older.msi"
  msibuild "$work/older.msi" -q "UPDATE Property SET Value = '0.9.0' WHERE Property = 'ProductVersion'" \
    -q "UPDATE Property SET Value = '{00000000-0000-0000-0000-000000000090}' WHERE Property = 'ProductCode'"

  # A Wine prefix of its own, new for each run, so that what an install
  # leaves behind is seen and never reaches the other tests.
  export WINEPREFIX="$build/msi-wineprefix" WINEDEBUG=-all
  rm -rf "$WINEPREFIX"
  trap '"$(dirname "$wine")/wineserver" -k 2>/dev/null; rm -rf "$work" "$WINEPREFIX"' EXIT
  "$wine" wineboot --init >/dev/null 2>&1
  run_msiexec() { "$wine" msiexec "$1" "Z:${2//\//\\}" /qn || fail "msiexec $1 $2"; }
  # The system PATH's entries one a line. Empty ones are left out: Wine
  # leaves the separator behind when it takes an entry out again.
  system_path() {
    "$wine" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH |
      tr -d '\r' | sed -n 's/^ *PATH *REG_EXPAND_SZ *//p' | tr ';' '\n' | grep -v '^$'
  }
  # One value of every installed product's entry, one a line.
  uninstall_values() {
    "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
      tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z]* *//p" | sort
  }
  installed_versions() { uninstall_values DisplayVersion; }
  folder="$WINEPREFIX/drive_c/Program Files/dravonel"
  path_before="$(system_path)"

  run_msiexec /i "$work/older.msi"
  run_msiexec /i "$msi"
  [ "$(installed_versions)" = "$version" ] || fail "installed after the upgrade: $(installed_versions)"
  expect_contents "Program Files\\dravonel" "$(ls "$folder")" \
"LICENSE
README.md
dravonel-round.cmd
dravonel.exe"
  cmp -s "$folder/dravonel-round.cmd" "$round" || fail "the MSI's dravonel-round.cmd is not the script"
  strings -el "$folder/dravonel.exe" | grep -qx "$version" || fail "the MSI's dravonel.exe is not version $version"
  cmp -s "$folder/LICENSE" "$license" || fail "the MSI's LICENSE is not the license"
  folder_on_windows='C:\Program Files\dravonel\'
  program="${folder_on_windows}dravonel.exe"
  # Programs and Features: help and "about" open the installed README; no
  # Modify, no Repair.
  for name in HelpLink URLInfoAbout; do
    [ "$(uninstall_values "$name")" = "${folder_on_windows}README.md" ] || fail "$name: $(uninstall_values "$name")"
  done
  for name in NoModify NoRepair; do
    [ "$(uninstall_values "$name")" = 0x1 ] || fail "$name: $(uninstall_values "$name")"
  done
  [ "$(system_path)" = "$path_before"$'\n'"$folder_on_windows" ] || { system_path; fail "system PATH after install"; }
  status=0
  usage="$("$wine" "$program" /x)" || status=$?
  [ "$status" -eq 255 ] || fail "usage: exit status $status, not -1"
  expected="$(printf 'Syntax:\r\n\t%s [ /c | /l | /? ]\r\n\r\n\t - Use with out parameter to capture a snapshot of the\r\n\t   Current User start menu.\r\n\t - Use with /c to copy any changes from the snapshot to the\r\n\t   All Users start menu.\r\n\t - Use with /l to list what /c would do, without moving,\r\n\t   granting or deleting anything.\r\n' "$program")"
  [ "$usage" = "$expected" ] || { printf '%s' "$usage" | od -c | head; fail "usage text of the installed program"; }

  run_msiexec /x "$msi"
  [ ! -e "$folder" ] || fail "Program Files\\dravonel left after removal"
  [ -z "$(installed_versions)" ] || fail "still registered after removal: $(installed_versions)"
  [ "$(system_path)" = "$path_before" ] || { system_path; fail "system PATH after removal"; }
  [ -z "$(ls "$WINEPREFIX/drive_c/windows/Installer")" ] || fail "cached package left after removal"
  echo "MSI: replaces an older version, puts dravonel on PATH, runs, has its links and no Modify or Repair; removal leaves nothing"
fi
