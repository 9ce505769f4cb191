#!/bin/sh
# Starts the built editor on a real X server (Xvfb) with a table and checks
# the title of its window.
set -u
editor="$1"
work=$(mktemp -d)
editor_pid=""
xvfb_pid=""
trap 'kill $editor_pid $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT INT TERM

printf '\xef\xbb\xbf\xe4\xb8\xad\tzh\r\n\xe5\x9b\xbd\tgg\r\n\xe4\xba\xba\tr\r\n' > "$work/t.txt"

. "$(dirname "$0")/../../support/xvfb.sh"
want='Mirel码表编辑器 V3.0 - 当前总行数：3，筛选编码：无，筛选后个数：3'
for attempt in 1 2 3; do
  start_xvfb || exit 1
  DISPLAY="$display" TMPDIR="$work" QT_QPA_PLATFORM=xcb "$editor" "$work/t.txt" >"$work/editor.log" 2>&1 &
  editor_pid=$!
  for i in $(seq 1 100); do
    for id in $(xwininfo -display "$display" -root -tree 2>/dev/null | awk '/0x[0-9a-f]+ /{print $1}'); do
      title=$(xprop -display "$display" -id "$id" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p')
      if [ "$title" = "$want" ]; then echo "window title: $title"; exit 0; fi
    done
    editor_running || break
    sleep 0.1
  done
  lost_display || break
done
echo "no window titled '$want' appeared"
cat "$work/editor.log"
exit 1
