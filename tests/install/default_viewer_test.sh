#!/usr/bin/env bash
# A user's desktop after the install: the installed menu entry beside one text viewer. Opening a
# text file the way a run opens its result (xdg-open, as the desktop resolves it) must start the
# viewer; were Listwise to claim text files, it would open its own result in a second window.
# Usage: default_viewer_test.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1
build=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

DESTDIR=$scratch/root "$cmake" --install "$build" --prefix /usr >/dev/null
data=$scratch/root/usr/share
mkdir -p "$scratch/bin" "$scratch/home" "$scratch/config" "$scratch/no-system-dirs"

# Stand-ins that only say they were started: the viewer, and a listwise found first on PATH.
log=$scratch/started.log
for name in viewer-stand-in listwise; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$name" "$log" >"$scratch/bin/$name"
  chmod +x "$scratch/bin/$name"
done
cat >"$data/applications/viewer-stand-in.desktop" <<'EOF'
[Desktop Entry]
Type=Application
Name=Viewer
Exec=viewer-stand-in %f
MimeType=text/plain;
EOF
update-desktop-database "$data/applications"

result=$scratch/result.txt
printf '\357\273\277a\r\nb' >"$result"
# Only the scratch directories count: no system handlers, no user choices, no desktop's own
# opener (the generic way, as on a bare window manager).
env -i PATH="$scratch/bin:/usr/bin:/bin" HOME="$scratch/home" XDG_DATA_HOME="$data" \
  XDG_DATA_DIRS="$scratch/no-system-dirs" XDG_CONFIG_HOME="$scratch/config" \
  XDG_CONFIG_DIRS="$scratch/no-system-dirs" XDG_CURRENT_DESKTOP=X-Generic \
  WAYLAND_DISPLAY=none xdg-open "$result" || true

started=$(cat "$log" 2>/dev/null || true)
if [ "$started" != "viewer-stand-in $result" ]; then
  echo "xdg-open started: ${started:-nothing} (wanted the viewer on $result)"
  echo "default for text/plain: $(XDG_DATA_HOME="$data" XDG_DATA_DIRS="$scratch/no-system-dirs" \
    XDG_CONFIG_HOME="$scratch/config" XDG_CONFIG_DIRS="$scratch/no-system-dirs" \
    XDG_CURRENT_DESKTOP=X-Generic xdg-mime query default text/plain)"
  exit 1
fi
echo "xdg-open started the viewer, not listwise"
