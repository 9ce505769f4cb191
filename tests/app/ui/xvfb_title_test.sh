#!/bin/sh
# Starts the built editor on a real X server (Xvfb) with a table and checks
# the title of its window.
set -u
editor="$1"
work=$(mktemp -d)
trap 'kill $editor_pid $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT INT TERM

printf '\xef\xbb\xbf\xe4\xb8\xad\tzh\r\n\xe5\x9b\xbd\tgg\r\n\xe4\xba\xba\tr\r\n' > "$work/t.txt"

# Xvfb picks a free display itself and names it once it accepts clients,
# so parallel tests never race for one.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for i in $(seq 1 300); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
display=":$(cat "$work/display")"

DISPLAY="$display" TMPDIR="$work" QT_QPA_PLATFORM=xcb "$editor" "$work/t.txt" >"$work/editor.log" 2>&1 &
editor_pid=$!
want='Mirel码表编辑器 V3.0 - 当前总行数：3，筛选编码：无，筛选后个数：3'
for i in $(seq 1 100); do
  for id in $(xwininfo -display "$display" -root -tree 2>/dev/null | awk '/0x[0-9a-f]+ /{print $1}'); do
    title=$(xprop -display "$display" -id "$id" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p')
    if [ "$title" = "$want" ]; then echo "window title: $title"; exit 0; fi
  done
  sleep 0.1
done
echo "no window titled '$want' appeared"
cat "$work/editor.log"
exit 1
