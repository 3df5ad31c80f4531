#!/usr/bin/env bash
# A larger limit on address space must never fail where a smaller one succeeds: a list of random
# items a little larger than the smallest limits, run under limits from a few MB to several
# times its size, gives the bytes of the unlimited run wherever it succeeds, and succeeds at
# every limit above the first that works. So does a list of the same shape whose items all share
# one table hash, and so fall into one group that never fits in memory whole; with case ignored,
# only-in-second and only-in-first also hold back every item they keep until the last group is
# made, and union makes one table of both lists' items.
# Usage: memory_sweep_test.sh PATH/TO/listwise-cli SOURCE_DIR
set -euo pipefail
cli=$1 source=$2
if [ "${LISTWISE_SANITIZED:-}" = 1 ]; then
  echo "sanitized build: cannot run under ulimit -v"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp
mkdir "$TMPDIR"
python3 "$source/bench/gen_colliding.py" 200000 "$work/r1.u16" "$work/r2.u16" --random >/dev/null
python3 "$source/bench/gen_colliding.py" 200000 "$work/c1.u16" "$work/c2.u16" >/dev/null
python3 - "$work" <<'PY'
import sys
for name in ("r1", "r2", "c1", "c2"):
    text = open(f"{sys.argv[1]}/{name}.u16", "rb").read().decode("utf-16")
    open(f"{sys.argv[1]}/{name}.txt", "w", encoding="utf-8", newline="").write(text)
PY
failed=0
for run in "random dedupe" "random only-in-second" "colliding dedupe" "colliding in-both" \
  "colliding only-in-second -i" "colliding only-in-first -i" "colliding union --fold-yo"; do
  set -- $run
  kind=${1:0:1} op=$2
  args=(${3:-} "$op" "$work/${kind}1.txt")
  [ "$op" = dedupe ] || args+=("$work/${kind}2.txt")
  "$cli" -q "${args[@]}" -o "$work/free.txt"
  first_ok="" line=""
  for mb in 8 10 12 14 16 20 24 28 32 36 40 44 48 52 56 64 80 96; do
    rc=0
    (ulimit -v $((mb * 1024)) && exec "$cli" -q "${args[@]}" -o "$work/limited.txt") \
      2>/dev/null || rc=$?
    if [ "$rc" -eq 0 ] && cmp -s "$work/free.txt" "$work/limited.txt"; then
      line+=" $mb:ok"
      first_ok=${first_ok:-$mb}
    elif [ "$rc" -eq 0 ]; then
      line+=" $mb:DIFFERENT"
      failed=1
    else
      line+=" $mb:failed"
      [ -z "$first_ok" ] || failed=1
    fi
    rm -f "$work/limited.txt"
  done
  echo "$run (MB):$line"
  # The list is 15 MB: a limit of its size must do.
  if [ -z "$first_ok" ] || [ "$first_ok" -gt 16 ]; then
    echo "FAIL $run: no success at 16 MB or less"
    failed=1
  fi
  left=$(find "$TMPDIR" -mindepth 1 -maxdepth 1)
  [ -z "$left" ] || { echo "FAIL left behind in TMPDIR: $left"; failed=1; }
done
exit "$failed"
