#!/bin/sh
# Drives the built editor on a real X server (Xvfb): a Rime table of the
# input method, remembered in 最近打开的文件 by its name, opens again from
# that list through its own reader, shows its name in the title, and a save
# writes the user copy, never a working file.
set -u
editor="$1"
work=$(mktemp -d)
. "$(dirname "$0")/../../support/xvfb.sh"

# A system table rime:rr of three rows and a settings file whose recent list
# names it.
mkdir -p "$work/sys/rime-data" "$work/data" "$work/config/Mirel"
printf -- '---\nname: rr\nversion: "1"\n...\n\345\267\245\ta\t10\n\346\210\210\ta\t20\n\344\271\231\tb\n' \
  > "$work/sys/rime-data/rr.dict.yaml"
printf '[General]\nrecentFiles=rime:rr\n' > "$work/config/Mirel/mirel-editor.conf"

title() { echo "Mirel码表编辑器 V3.0 - 当前总行数：$1，筛选编码：无，筛选后个数：$1 - rime:rr${2:-}"; }

export XDG_DATA_HOME="$work/data" XDG_DATA_DIRS="$work/sys"
start_editor "Mirel码表编辑器 V3.0" || exit 1
xdotool windowfocus --sync "$window" || exit 1
sleep 0.3
# 文件 → 最近打开的文件 → the first entry.
xdotool key --delay 300 alt+f r 1
wait_title "$(title 3)" >/dev/null || exit 1
xdotool windowfocus --sync "$window" || exit 1
sleep 0.3
# The list's first row goes; the save asks where, Return answers Yes.
xdotool key --delay 100 Tab Tab Down Delete
answer_box "确认删除？" || exit 1
wait_title "$(title 2 '*')" >/dev/null || exit 1
xdotool windowfocus --sync "$window" || exit 1
xdotool key ctrl+s
answer_box "Linux输入法码表" || exit 1
wait_title "$(title 2)" >/dev/null || exit 1
copy="$work/data/fcitx5/rime/rr.dict.yaml"
if [ ! -f "$copy" ] || [ "$(grep -c "$(printf '\t')" "$copy")" -ne 2 ]; then
  echo "the user copy is not the table as saved:"; cat "$copy" 2>&1; exit 1
fi
xdotool key alt+x
for i in $(seq 1 50); do kill -0 "$editor_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$editor_pid" 2>/dev/null; then echo "the editor did not exit"; exit 1; fi
editor_pid=""
# The list still names the table, and nothing in it is a working file.
recent=$(grep '^recentFiles=' "$work/config/Mirel/mirel-editor.conf")
case "$recent" in
  *mirel-*|*kv_*) echo "the recent list names a working file: $recent"; exit 1 ;;
  *rime:rr*) ;;
  *) echo "the recent list lost the table: $recent"; exit 1 ;;
esac
echo "reopened rime:rr from the recent list and saved its user copy"
