#!/bin/sh
# Starts the built editor on a real X server (Xvfb) with a table, checks the
# title of its window and saves a picture of it.
# Usage: xvfb_title_test.sh EDITOR GRAB_WINDOW SCREENSHOT.png
set -u
editor="$1"
grab="$2"
screenshot="$3"
work=$(mktemp -d)
. "$(dirname "$0")/../../support/xvfb.sh"

# UTF-8 with its mark: 中 TAB zh, 国 TAB gg, 人 TAB r (octal: dash's printf has no \x).
printf '\357\273\277\344\270\255\tzh\r\n\345\233\275\tgg\r\n\344\272\272\tr\r\n' > "$work/t.txt"
want='Mirel码表编辑器 V3.0 - 当前总行数：3，筛选编码：无，筛选后个数：3 - t.txt'
for attempt in 1 2 3; do
  start_xvfb || exit 1
  DISPLAY="$display" TMPDIR="$work" QT_QPA_PLATFORM=xcb "$editor" "$work/t.txt" >"$work/editor.log" 2>&1 &
  editor_pid=$!
  for i in $(seq 1 100); do
    for id in $(xwininfo -display "$display" -root -tree 2>/dev/null | awk '/0x[0-9a-f]+ /{print $1}'); do
      title=$(xprop -display "$display" -id "$id" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p')
      [ "$title" = "$want" ] || continue
      echo "window title: $title"
      # Once the window has painted: a picture the size of the window, as PNG.
      sleep 1
      mkdir -p "$(dirname "$screenshot")"
      size=$(DISPLAY="$display" QT_QPA_PLATFORM=xcb "$grab" "$id" "$screenshot") || exit 1
      if [ "${size%x*}" -lt 400 ] || [ "${size#*x}" -lt 200 ]; then
        echo "the screenshot is only $size"
        exit 1
      fi
      echo "screenshot: $screenshot ($size)"
      exit 0
    done
    editor_running || break
    sleep 0.1
  done
  lost_display || break
done
echo "no window titled '$want' appeared"
cat "$work/editor.log"
exit 1
