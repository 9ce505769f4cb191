#!/bin/sh
# Checks an installed Mirel below ROOT (a DESTDIR, or / for the package):
# the programs run from there, the desktop files pass their validators, the
# manual pages render without warnings, bash completion offers the commands,
# and the installed editor opens the installed sample under Xvfb.
# Usage: installed_checks.sh ROOT PREFIX
set -eu
root="$1"
prefix="$2"
bin="$root$prefix/bin"
share="$root$prefix/share"
work=$(mktemp -d)
xvfb_pid=""
editor_pid=""
trap 'kill $editor_pid $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT INT TERM
fail() { echo "FAIL: $*"; exit 1; }

version=$("$bin/mirel-tool" --version) || fail "mirel-tool --version"
case "$version" in "mirel-tool "[0-9]*) ;; *) fail "mirel-tool --version printed '$version'" ;; esac
editor_version=$("$bin/mirel-editor" --version) || fail "mirel-editor --version"
[ "${editor_version#mirel-editor }" = "${version#mirel-tool }" ] ||
  fail "the two programs disagree on the version: '$version' and '$editor_version'"
echo "ok: $version"

cp "$share/mirel/sample.txt" "$work/sample.txt"
"$bin/mirel-tool" dedup "$work/sample.txt" -o "$work/dedup.txt" >"$work/dedup.log" ||
  fail "dedup of the installed sample: $(cat "$work/dedup.log")"
[ -s "$work/dedup.txt" ] || fail "dedup wrote nothing"
[ -f "$share/mirel/help/index.html" ] || fail "no help document in $share/mirel/help"
echo "ok: dedup of the installed sample, help document present"

desktop-file-validate "$share/applications/org.mirel.Editor.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$share/metainfo/org.mirel.Editor.metainfo.xml" >"$work/as.log" 2>&1 ||
  fail "AppStream metadata: $(cat "$work/as.log")"
[ -f "$share/mime/packages/mirel.xml" ] || fail "no MIME type for compiled tables"
for size in 16 32 48 64 128 256; do
  [ -f "$share/icons/hicolor/${size}x${size}/apps/mirel-editor.png" ] || fail "no ${size}px icon"
done
[ -f "$share/icons/hicolor/scalable/apps/mirel-editor.svg" ] || fail "no scalable icon"
echo "ok: desktop entry, AppStream metadata, MIME type, icons"

doc="$share/doc/mirel"
grep -q "^License: GPL-3.0+" "$doc/copyright" 2>/dev/null || fail "no GPL-3.0+ copyright file in $doc"
changelog=$(gzip -dc "$doc/changelog.gz") || fail "no readable changelog.gz in $doc"
case "$changelog" in
  "mirel (${version#mirel-tool }) "*) ;;
  *) fail "the changelog's first entry is not for ${version#mirel-tool }: $(echo "$changelog" | head -n 1)" ;;
esac
grep -q "<project_license>GPL-3.0-or-later</project_license>" \
  "$share/metainfo/org.mirel.Editor.metainfo.xml" || fail "the AppStream metadata names another licence"
echo "ok: copyright, changelog and licence"

for page in mirel-tool mirel-editor; do
  file="$root$prefix/share/man/man1/$page.1"
  [ -f "$file" ] || file="$file.gz"
  [ -f "$file" ] || fail "no manual page for $page"
  warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page warns: $warnings"
  MANWIDTH=80 man -l "$file" 2>/dev/null | grep -q "dedup" || fail "man $page does not mention dedup"
done
echo "ok: manual pages render without warnings"

completion="$share/bash-completion/completions/mirel-tool"
[ -f "$completion" ] || fail "no bash completion"
offered=$(bash -c '
  . "$1"
  complete -p mirel-tool >/dev/null || exit 3
  COMP_WORDS=(mirel-tool de); COMP_CWORD=1; COMP_LINE="mirel-tool de"; COMP_POINT=${#COMP_LINE}
  _mirel_tool mirel-tool de mirel-tool
  printf "%s\n" "${COMPREPLY[@]}"
  COMP_WORDS=(mirel-tool sort t.txt --by ""); COMP_CWORD=4
  _mirel_tool mirel-tool "" --by
  printf "%s\n" "${COMPREPLY[@]}"
' sh "$completion") || fail "bash completion does not load"
echo "$offered" | grep -qx dedup || fail "bash completion does not offer dedup: $offered"
echo "$offered" | grep -qx detect || fail "bash completion does not offer detect: $offered"
echo "$offered" | grep -qx code1 || fail "bash completion does not offer the --by orders: $offered"
if command -v zsh >/dev/null; then
  zsh -n "$share/zsh/vendor-completions/_mirel-tool" || fail "zsh completion does not parse"
fi
echo "ok: shell completion"

if ! command -v Xvfb >/dev/null || ! command -v xprop >/dev/null; then
  echo "skip: the window check (no Xvfb or xprop)"
  exit 0
fi
. "$(dirname "$0")/../support/xvfb.sh"
for attempt in 1 2 3; do
  start_xvfb || fail "no X server"
  DISPLAY="$display" TMPDIR="$work" HOME="$work" QT_QPA_PLATFORM=xcb \
    "$bin/mirel-editor" "$share/mirel/sample.txt" >"$work/editor.log" 2>&1 &
  editor_pid=$!
  for i in $(seq 1 150); do
    for id in $(xwininfo -display "$display" -root -tree 2>/dev/null | awk '/0x[0-9a-f]+ /{print $1}'); do
      title=$(xprop -display "$display" -id "$id" _NET_WM_NAME 2>/dev/null |
        sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p')
      case "$title" in
        "Mirel码表编辑器 V3.0 - 当前总行数：0"*) ;;
        "Mirel码表编辑器 V3.0 - 当前总行数："*) echo "ok: the installed editor shows: $title"; exit 0 ;;
      esac
    done
    editor_running || break
    sleep 0.1
  done
  lost_display || break
done
cat "$work/editor.log"
fail "the installed editor showed no window with the sample open"
