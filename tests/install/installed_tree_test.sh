#!/usr/bin/env bash
# Installs the build into a scratch root and compares the files there with expected_files.txt:
# a file that goes missing or one that sneaks in (a test program, a stray build output) fails.
# Usage: installed_tree_test.sh CMAKE BUILD_DIR SOURCE_DIR
set -euo pipefail
cmake=$1
build=$2
source=$3
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR=$root "$cmake" --install "$build" --prefix /usr >/dev/null
actual=$(cd "$root/usr" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)

expected=$(grep -v '^#' "$(dirname "$0")/expected_files.txt" | LC_ALL=C sort)

# Anything outside the prefix is a rule with an absolute destination.
outside=$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
if [ "$actual" != "$expected" ] || [ -n "$outside" ]; then
  echo "installed tree differs from the expected one (< expected, > installed):"
  diff <(echo "$expected") <(echo "$actual") || true
  [ -z "$outside" ] || echo "outside the prefix: $outside"
  exit 1
fi
# The programs must be runnable, and the compressed files really compressed.
for f in bin/listwise bin/listwise-cli; do
  [ -x "$root/usr/$f" ] || { echo "not executable: $f"; exit 1; }
done
for f in $(grep '\.gz$' <<<"$actual"); do
  gzip -t "$root/usr/$f" || { echo "not gzip: $f"; exit 1; }
done
echo "installed tree: $(wc -l <<<"$actual") files as expected"
