#!/bin/sh
# Builds the Debian package, checks it with lintian, installs it with dpkg,
# checks the installed files, and removes it again. Needs root (exit 77, a
# skip, without it).
# Usage: package_test.sh BUILD_DIR
set -eu
build="$1"
here=$(cd "$(dirname "$0")" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "skip: installing a package needs root"; exit 77; }
if dpkg -s mirel >/dev/null 2>&1; then
  echo "skip: a mirel package is already installed on this machine; not touching it"
  exit 77
fi
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
deb=$(ls -t "$build"/mirel_*.deb | head -n 1)
echo "built: $deb"
dpkg-deb --field "$deb" Depends Recommends
# No overrides: every error and warning lintian reports is one to mend.
command -v lintian >/dev/null || { echo "FAIL: lintian is not installed (make deps)"; exit 1; }
lintian --fail-on error,warning "$deb" || { echo "FAIL: lintian"; exit 1; }
trap 'dpkg -r mirel >/dev/null 2>&1 || true' EXIT INT TERM
dpkg -i "$deb"
sh "$here/installed_checks.sh" "" /usr
