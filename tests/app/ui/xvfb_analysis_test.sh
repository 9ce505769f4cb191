#!/bin/sh
# Opens the analysis window of the built editor on a real X server (Xvfb)
# through the menu with real key presses, finds it by its title and saves a
# picture of it.
# Usage: xvfb_analysis_test.sh EDITOR GRAB_WINDOW SCREENSHOT.png
set -u
editor="$1"
grab="$2"
screenshot="$3"
work=$(mktemp -d)
. "$(dirname "$0")/../../support/xvfb.sh"

# UTF-8 with its mark: 中 TAB zh, 国 TAB gg, 人 TAB r.
printf '\357\273\277\344\270\255\tzh\r\n\345\233\275\tgg\r\n\344\272\272\tr\r\n' > "$work/t.txt"
main='Mirel码表编辑器 V3.0 - 当前总行数：3，筛选编码：无，筛选后个数：3 - t.txt'
start_editor "$main" "$work/t.txt" || exit 1
xdotool windowfocus --sync "$window" || exit 1
sleep 0.3
# 工具(&T), then 方案分析(&A).
xdotool key --delay 200 alt+t a
analysis=$(wait_title "方案分析 - t.txt") || exit 1
echo "window title: 方案分析 - t.txt"
# Once the first analysis has had time to draw.
sleep 3
mkdir -p "$(dirname "$screenshot")"
size=$(QT_QPA_PLATFORM=xcb "$grab" "$analysis" "$screenshot") || exit 1
echo "screenshot: $screenshot ($size)"
