#!/usr/bin/env bash
# Runs one command inside a private X session: Xvfb on a free display, a D-Bus session bus with
# the accessibility bus (for AT-SPI), and, with --wm, the openbox window manager.
# The session has a /tmp of its own (an empty tmpfs in a mount namespace of its own), so that the
# window's runs never touch the result file of a user's window on the same machine, nor another
# session's. A checkout (or build) that itself lives under /tmp is bound back into the new one at
# the same place. Where no such /tmp can be had, the command is skipped (exit 77).
# Usage: xvfb_session.sh [--wm] [--size WxHxD] -- command args...
set -euo pipefail

if [ -z "${LISTWISE_PRIVATE_TMP:-}" ]; then
  export LISTWISE_PRIVATE_TMP=1
  # Root makes a mount namespace of its own; anyone else needs a user namespace for it.
  for how in "" "--user --map-root-user"; do
    # shellcheck disable=SC2086
    if unshare $how --mount --propagation private true 2>/dev/null; then
      # shellcheck disable=SC2086
      exec unshare $how --mount --propagation private -- bash -c '
        # The directories under /tmp that the session needs: where this script ($1), the current
        # directory and the paths the command names lie. Fd 9 keeps the /tmp beneath reachable
        # (and mount must not resolve the path it is given through the new /tmp).
        keep=$(for p in "$(realpath "$1")" "$PWD" "$@"; do
                 case "$p" in /tmp/?*) p=${p#/tmp/}; echo "${p%%/*}" ;; esac
               done | sort -u)
        exec 9</tmp
        mount -t tmpfs -o mode=1777,size=2g listwise-tmp /tmp || exit 1
        for dir in $keep; do
          [ -d "/proc/self/fd/9/$dir" ] || continue
          mkdir -p "/tmp/$dir" && mount -c --bind "/proc/self/fd/9/$dir" "/tmp/$dir" || exit 1
        done
        exec 9<&-
        cd "$PWD" 2>/dev/null || true
        exec "$@"' bash "$0" "$@"
    fi
  done
  echo "skipped: no private /tmp for the X session (needs root or user namespaces)"
  exit 77
fi
wm=0
size=1280x800x24
while [ $# -gt 0 ]; do
  case "$1" in
    --wm) wm=1; shift ;;
    --size) size=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done

# Xvfb picks a free display itself and writes its number once it accepts clients, so
# sessions started side by side (ctest -j) never race for the same display.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp -ac 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
  [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null || true
  [ -n "${DBUS_SESSION_BUS_PID:-}" ] && kill "$DBUS_SESSION_BUS_PID" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  rm -f "$display_file"
}
trap cleanup EXIT
for _ in $(seq 1 200); do
  [ -s "$display_file" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.05
done
number=$(tr -dc '0-9' <"$display_file")
[ -n "$number" ] || { echo "xvfb_session: Xvfb did not start" >&2; exit 1; }
display=":$number"
export DISPLAY=$display
unset WAYLAND_DISPLAY
export GDK_BACKEND=x11
export NO_AT_BRIDGE=0
export GTK_A11Y=atspi
# The bus ends with the X server even when this script is killed outright (a test timeout).
eval "$(dbus-launch --sh-syntax --exit-with-x11)"
export DBUS_SESSION_BUS_PID
if [ "$wm" = 1 ]; then
  openbox >/dev/null 2>&1 &
  wm_pid=$!
  for _ in $(seq 1 150); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
fi
set +e
"$@"
status=$?
exit $status
