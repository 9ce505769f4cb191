# Sourced by the window tests, which set $work first. On exit the editor
# ($editor_pid) and the server are ended and $work removed.
xvfb_pid=""
editor_pid=""
cleanup() {
  [ -n "$editor_pid" ] && kill "$editor_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# start_xvfb: starts an X server on a display it picks itself, waits until the
# server answers a client, and sets $display and $xvfb_pid. A server that does
# not answer is replaced by a fresh one; the tests that call this never start
# two servers at once (ctest's "xvfb" resource lock).
start_xvfb() {
  for attempt in 1 2 3; do
    rm -f "$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for i in $(seq 1 300); do
      [ -s "$work/display" ] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ -s "$work/display" ]; then
      display=":$(head -n 1 "$work/display")"
      for i in $(seq 1 100); do
        if xprop -display "$display" -root >/dev/null 2>&1; then return 0; fi
        sleep 0.1
      done
    fi
    echo "X server, attempt $attempt: no answer on display '${display:-?}'" >&2
    cat "$work/xvfb.log" >&2
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  done
  return 1
}

# lost_display: true when the editor, its output in $work/editor.log, ended
# because it could not reach the server; the caller then starts both again.
lost_display() {
  if grep -q "could not connect to display" "$work/editor.log" 2>/dev/null; then
    echo "the editor could not reach $display; again with a fresh server" >&2
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    return 0
  fi
  return 1
}

# editor_running: false once the editor (pid $editor_pid) ended or gave up on
# the display; an ended child the shell has not reaped still answers kill -0.
editor_running() {
  kill -0 "$editor_pid" 2>/dev/null || return 1
  ! grep -q "could not connect to display" "$work/editor.log" 2>/dev/null
}

# The editor's windows, for tests that set $editor_pid and $work.
# Waits for the editor's main window to carry the title $1; prints its id.
wait_title() {
  for i in $(seq 1 100); do
    for id in $(xdotool search --pid "$editor_pid" 2>/dev/null); do
      title=$(xprop -id "$id" _NET_WM_NAME 2>/dev/null |
        sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p')
      if [ "$title" = "$1" ]; then echo "$id"; return 0; fi
    done
    editor_running || break
    sleep 0.1
  done
  echo "no window titled '$1' appeared" >&2
  cat "$work/editor.log" >&2
  return 1
}
# Answers the question box called $1 with Return (its default button, Yes)
# once the box is on the screen with the keyboard focus.
answer_box() {
  for attempt in $(seq 1 100); do
    for id in $(xdotool search --all --pid "$editor_pid" --onlyvisible --name "^$1\$" 2>/dev/null); do
      [ "$(xdotool getwindowfocus 2>/dev/null)" = "$id" ] || continue
      sleep 0.2
      xdotool key Return
      for i in $(seq 1 50); do
        xdotool search --all --pid "$editor_pid" --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
        sleep 0.1
      done
    done
    sleep 0.1
  done
  echo "the box '$1' was not answered" >&2
  return 1
}

# start_editor TITLE [ARG...]: starts a server and the editor ($editor, with
# ARGs) on it, its home and temporary folder in $work, again with fresh ones
# when the editor could not reach the server; sets $window to the id of the
# main window once it carries TITLE.
start_editor() {
  main_title=$1
  shift
  for attempt in 1 2 3; do
    start_xvfb || return 1
    export DISPLAY="$display"
    HOME="$work" XDG_CONFIG_HOME="${XDG_CONFIG_HOME:-$work/config}" XDG_CACHE_HOME="$work/cache" TMPDIR="$work" \
      QT_QPA_PLATFORM=xcb "$editor" "$@" >"$work/editor.log" 2>&1 &
    editor_pid=$!
    if window=$(wait_title "$main_title"); then return 0; fi
    lost_display || return 1
  done
  return 1
}
