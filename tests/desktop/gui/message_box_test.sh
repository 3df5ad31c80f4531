#!/usr/bin/env bash
# The message box as a person meets it: it appears titled "Ошибка" with the warning icon and
# the text shown literally, and closing it with Enter, with Escape or with the window's close
# button ends the call, with the box gone from the screen before the call returns.
# Runs inside tests/gui/xvfb_session.sh --wm. Usage: message_box_test.sh TOOL SHOT_DIR
set -uo pipefail
tool=$1
shots=$2
mkdir -p "$shots"
work=$(mktemp -d /tmp/listwise-msgbox-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
text='Файл не найден: /tmp/100%s %d%%.txt'

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Waits up to about 30 s (a loaded machine, a sanitizer build) for the tool to report that
# ShowMessage returned.
wait_closed() {
  for _ in $(seq 1 600); do
    grep -qx closed "$work/out" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# run CLOSE_METHOD [KIND]: shows the box, closes it the given way and checks what the user sees.
run() {
  local method=$1 kind=${2:-16}
  rm -f "$work/out" "$work/in"
  mkfifo "$work/in"
  "$tool" "$kind" "Ошибка" "$text" <"$work/in" >"$work/out" 2>"$work/err" &
  local pid=$!
  exec 3>"$work/in"  # holds the tool after the call returns, until we have looked
  local wid
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^Ошибка$' | head -1)
  if [ -z "$wid" ]; then
    fail "$method: no window titled Ошибка"
  else
    xdotool windowactivate --sync "$wid" >/dev/null 2>&1 || xdotool windowfocus --sync "$wid"
    sleep 0.3
    import -window root "$shots/message_box_${method}_$kind.png"
    case $method in
      enter) xdotool key Return ;;
      escape) xdotool key Escape ;;
      close-button)
        # The window manager's close button sits at the right end of the title bar, just
        # above the client area's top right corner.
        eval "$(xdotool getwindowgeometry --shell "$wid")"
        local x y
        x=$(xwininfo -id "$wid" | awk '/Absolute upper-left X/ {print $4}')
        y=$(xwininfo -id "$wid" | awk '/Absolute upper-left Y/ {print $4}')
        xdotool mousemove $((x + WIDTH - 10)) $((y - 10)) click 1
        ;;
    esac
    if wait_closed; then
      if xdotool search --onlyvisible --name '^Ошибка$' >/dev/null 2>&1; then
        fail "$method: the box is still on the screen after the call returned"
      fi
    else
      fail "$method: the call did not return"
    fi
  fi
  exec 3>&-
  # The tool exits once its input is closed; make sure it does not outlive the case.
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  [ -s "$work/err" ] && { echo "$method: tool's error output:"; cat "$work/err"; }
  echo "$method: done"
}

run enter
run escape
run close-button
# Information with Yes, No and Cancel: looked at on its screenshot, closed like the others.
run escape 6

if [ "$failures" -eq 0 ]; then echo "message box: all cases passed"; fi
exit $((failures > 0))
