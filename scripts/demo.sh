#!/usr/bin/env bash
# The main job on a sandbox profile: builds dravonel, copies the sample
# profile shipped in sandbox/ into the build tree, and runs dravonel there.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host --target dravonel >/dev/null

bin="$PWD/build/host/bin"
demo="$PWD/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp -a sandbox/profile "$demo/"
mkdir -p "$demo/system/Profiles/All Users/Start Menu/Programs"
export UserProfile="$demo/profile" SystemRoot="$demo/system"
export PATH="$bin:$PATH"

show() {
  echo "\$ $*"
  set +e
  "$@"
  echo "(exit status $?)"
  set -e
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
(cd "$UserProfile/Start Menu" && find . | sort)
echo
echo "# A snapshot run:"
show dravonel
ls -l "$UserProfile"
