#!/bin/sh
# Without a display the editor says so and fails; it never aborts inside Qt.
# A table tool (/do=) still runs.
set -u
editor="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

printf 'a\tb\r\na\tb\r\n' > "$work/t.txt"
cd "$work" || exit 1
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR="$work" "$editor" "$@"; }

run "/源码表文件=$work/t.txt" >out.txt 2>err.txt
status=$?
[ "$status" -eq 1 ] || { echo "a line without /do: exit $status, expected 1"; cat err.txt; exit 1; }
grep -q "no display" err.txt || { echo "no message about the display:"; cat err.txt; exit 1; }

run /do=删除重复 "/源码表文件=$work/t.txt" >out.txt 2>err.txt
status=$?
[ "$status" -eq 0 ] || { echo "batch tool: exit $status"; cat err.txt; exit 1; }
[ -f "$work/[ 去重结果 ].txt" ] || { echo "batch tool wrote nothing"; exit 1; }
echo ok
