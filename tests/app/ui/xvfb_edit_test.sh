#!/bin/sh
# Drives the built editor on a real X server (Xvfb) with real key presses:
# opens a table, deletes a row, undoes the deletion, saves, and compares the
# file the editor wrote with the rows it was given.
set -u
editor="$1"
work=$(mktemp -d)
. "$(dirname "$0")/../../support/xvfb.sh"

# UTF-16LE with LF line ends in, with CR LF out: 中 TAB zh, 国 TAB gg, 人 TAB r.
# (A table in another encoding would make the save ask first.)
printf '\377\376\055\116\011\000\172\000\150\000\012\000' > "$work/t.txt"
printf '\375\126\011\000\147\000\147\000\012\000' >> "$work/t.txt"
printf '\272\116\011\000\162\000\012\000' >> "$work/t.txt"
printf '\377\376\055\116\011\000\172\000\150\000\015\000\012\000' > "$work/want.txt"
printf '\375\126\011\000\147\000\147\000\015\000\012\000' >> "$work/want.txt"
printf '\272\116\011\000\162\000\015\000\012\000' >> "$work/want.txt"

# $2 is "*" while the table has unsaved changes.
title() { echo "Mirel码表编辑器 V3.0 - 当前总行数：$1，筛选编码：无，筛选后个数：$1 - t.txt${2:-}"; }
start_editor "$(title 3)" "$work/t.txt" || exit 1
xdotool windowfocus --sync "$window" || exit 1
sleep 0.3
# Tab twice: filter box, exact-match box, list; Down picks the first row,
# Down again the second; Delete asks, Return answers Yes.
xdotool key --delay 100 Tab Tab Down Down Delete
answer_box "确认删除？" || exit 1
wait_title "$(title 2 '*')" >/dev/null || exit 1
xdotool windowfocus --sync "$window" || exit 1
xdotool key ctrl+z
wait_title "$(title 3)" >/dev/null || exit 1
xdotool key ctrl+s
for i in $(seq 1 50); do
  cmp -s "$work/t.txt" "$work/want.txt" && break
  sleep 0.1
done
if ! cmp "$work/t.txt" "$work/want.txt"; then
  echo "the saved table differs:"; od -c "$work/t.txt"; exit 1
fi
# Nothing is left unsaved: Alt+X ends the editor without a question.
xdotool key alt+x
for i in $(seq 1 50); do kill -0 "$editor_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$editor_pid" 2>/dev/null; then echo "the editor did not exit"; exit 1; fi
editor_pid=""
echo "deleted, undone and saved: the file holds the three rows"
