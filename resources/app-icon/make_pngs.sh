#!/usr/bin/env bash
# Makes the application icon's PNGs from the one drawn SVG, at every size the icon theme
# installs. With --check it makes them in a scratch directory instead and fails when a committed
# PNG differs from what the SVG gives now, so an edit of the drawing cannot ship with stale
# PNGs. Pixels are compared, not bytes: rasteriser versions write different PNG bytes for the
# same picture.
# Usage: make_pngs.sh [--check]   (needs rsvg-convert from librsvg2-bin, and ImageMagick's
# compare for --check)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
svg=$here/org.listwise.Listwise.svg
sizes=(16 24 32 48 64 128 256)

check=0
[ "${1:-}" = --check ] && check=1
out=$here
if [ "$check" = 1 ]; then
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
fi

status=0
for size in "${sizes[@]}"; do
  name=org.listwise.Listwise-$size.png
  rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio "$svg" -o "$out/$name"
  [ "$check" = 1 ] || continue
  if [ ! -f "$here/$name" ]; then
    echo "missing: $name" >&2
    status=1
    continue
  fi
  # compare prints the number of differing pixels on stderr and exits 1 when there are any;
  # the small fuzz absorbs rounding in the antialiased edges, not a changed drawing.
  differing=$(compare -metric AE -fuzz 1% "$here/$name" "$out/$name" null: 2>&1 || true)
  if [ "$differing" != 0 ]; then
    echo "stale: $name ($differing pixels differ; run $0)" >&2
    status=1
  fi
done
exit $status
