#!/usr/bin/env bash
# Lists larger than the memory the program may take, with no room for their temporary files: the
# run says so (not that memory is short), exits 1 and leaves an earlier --output file as it was.
# Usage: temp_space_test.sh PATH/TO/listwise-cli
# Needs root for a small private tmpfs; skipped (77) otherwise and under the sanitizers.
set -euo pipefail
cli=$1
if [ "${LISTWISE_SANITIZED:-}" = 1 ] || [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
  echo "needs root and an unsanitized build"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seq 1 2000000 | sed 's/^/item-/' >"$work/list.txt"  # 26 MB
echo "earlier result" >"$work/keep.out"
cp "$work/keep.out" "$work/expected.out"
failed=0
check() {  # what the case is called, then the temporary directory to give the program
  local rc=0
  (ulimit -v 32768 && TMPDIR=$2 LANGUAGE=ru exec "$cli" -q -o "$work/keep.out" dedupe "$work/list.txt") \
    2>"$work/err" || rc=$?
  if [ "$rc" -ne 1 ] || ! grep -q "Недостаточно места для временных файлов" "$work/err" ||
    ! cmp -s "$work/keep.out" "$work/expected.out"; then
    echo "FAIL $1: exit $rc, $(cat "$work/err")"
    failed=1
  else
    echo "ok $1"
  fi
}
# A file system of 1 MB: the spill fills it.
mkdir "$work/small"
unshare -m bash -c "mount -t tmpfs -o size=1m tmpfs '$work/small' && \
  $(declare -f check) && work='$work' cli='$cli' failed=0 && check 'a full disk' '$work/small' && \
  exit \$failed" || failed=1
exit "$failed"
