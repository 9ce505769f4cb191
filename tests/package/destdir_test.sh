#!/bin/sh
# Installs the build into a temporary DESTDIR and checks the installed files.
# Usage: destdir_test.sh BUILD_DIR
set -eu
build="$1"
here=$(dirname "$0")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT INT TERM
DESTDIR="$root" cmake --install "$build" --prefix /usr >"$root.log" 2>&1 || { cat "$root.log"; exit 1; }
rm -f "$root.log"
[ -x "$root/usr/bin/mirel-tool" ] || { echo "FAIL: DESTDIR not honoured"; exit 1; }
sh "$here/installed_checks.sh" "$root" /usr
