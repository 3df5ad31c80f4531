#!/usr/bin/env bash
# The running window names its desktop entry, as docks and task bars match them: on Wayland by
# the window's app id, on X11 by WM_CLASS, whose class must be the entry's StartupWMClass.
# Usage: window_identity_test.sh x11 LISTWISE DESKTOP_FILE      (inside xvfb_session.sh)
#        window_identity_test.sh wayland LISTWISE DESKTOP_FILE  (starts a headless sway itself;
#                                                               exit 77 when it cannot)
set -euo pipefail
mode=$1
program=$2
desktop_file=$3
entry_id=$(basename "$desktop_file" .desktop)
startup_class=$(sed -n 's/^StartupWMClass=//p' "$desktop_file")

scratch=$(mktemp -d)
cleanup() {
  [ -n "${program_pid:-}" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "${sway_pid:-}" ] && kill "$sway_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

if [ "$mode" = x11 ]; then
  "$program" &
  program_pid=$!
  window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$program_pid" --name '^Listwise$' |
    head -n 1)
  [ -n "$window" ] || { echo "no window"; exit 1; }
  class=$(xprop -id "$window" WM_CLASS)
  wanted="WM_CLASS(STRING) = \"$entry_id\", \"$startup_class\""
  [ "$class" = "$wanted" ] || { echo "got $class, wanted $wanted"; exit 1; }
  echo "X11: $class"
  exit 0
fi

skip() {
  echo "skipped: $1"
  [ -s "$scratch/sway.log" ] && tail -n 5 "$scratch/sway.log"
  exit 77
}
command -v sway >/dev/null && command -v swaymsg >/dev/null || skip "sway is not installed"
# sway refuses to run as root; then it runs as nobody, and the program, still root, reaches it
# through its socket.
runtime=$scratch/runtime
mkdir -m 0700 "$runtime"
as_compositor=()
if [ "$(id -u)" -eq 0 ]; then
  chown nobody "$runtime" 2>/dev/null || skip "no user nobody to run sway as"
  chmod 0755 "$scratch"
  as_compositor=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
fi
echo "# nothing: no bar, no background, no key bindings" >"$scratch/config"
chmod 0644 "$scratch/config"
env -i PATH="$PATH" XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
  WLR_RENDERER=pixman "${as_compositor[@]}" sway --config "$scratch/config" \
  >"$scratch/sway.log" 2>&1 &
sway_pid=$!
# Bounds for a loaded machine: each wait ends as soon as what it waits for is there.
for _ in $(seq 1 600); do
  ipc=$(ls "$runtime"/sway-ipc.*.sock 2>/dev/null | head -n 1 || true)
  display=$(cd "$runtime" && ls wayland-* 2>/dev/null | grep -v '\.lock$' | head -n 1 || true)
  [ -n "$ipc" ] && [ -n "$display" ] && break
  kill -0 "$sway_pid" 2>/dev/null || skip "sway ended at start"
  sleep 0.1
done
[ -n "$ipc" ] && [ -n "$display" ] || skip "sway did not open its sockets"

env -u DISPLAY XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$display" GDK_BACKEND=wayland \
  NO_AT_BRIDGE=1 "$program" &
program_pid=$!
# The app id of the program's window, once sway shows it.
app_id_of_window() {
  SWAYSOCK=$ipc swaymsg -t get_tree | python3 -c '
import json, sys
def walk(node):
    if node.get("pid") == int(sys.argv[1]):
        print(node.get("app_id"))
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child)
walk(json.load(sys.stdin))' "$program_pid"
}
app_id=""
for _ in $(seq 1 600); do
  app_id=$(app_id_of_window)
  [ -n "$app_id" ] && break
  kill -0 "$program_pid" 2>/dev/null || { echo "the program ended without a window"; exit 1; }
  sleep 0.1
done
[ "$app_id" = "$entry_id" ] || { echo "app id ${app_id:-(no window)}, wanted $entry_id"; exit 1; }
echo "Wayland: app_id $app_id"
