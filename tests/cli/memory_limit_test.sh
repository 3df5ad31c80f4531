#!/usr/bin/env bash
# Lists several times larger than the address space listwise-cli may take (ulimit -v) must give
# the very bytes of an unlimited run, and leave no temporary files behind.
# Usage: memory_limit_test.sh PATH/TO/listwise-cli
# Exits 77 (a skip to CTest) under the sanitizers, whose shadow memory does not fit any limit.
set -euo pipefail
cli=$1
if [ "${LISTWISE_SANITIZED:-}" = 1 ]; then
  echo "sanitized build: cannot run under ulimit -v"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp # where the program may spill, to be found empty afterwards
mkdir "$TMPDIR"

# About 10^7 lines (250 MB) of mostly distinct items, a tenth of them repeats, some Cyrillic;
# the second list: every 8th line of the first and as many items of its own.
LC_ALL=C awk -v n=10000000 -v first="$work/first.txt" -v second="$work/second.txt" 'BEGIN {
  srand(7)
  split("mail.ru gmail.com yandex.ru example.org list.ru почта.рф x.io", d, " ")
  for (i = 1; i <= n; i++) {
    k = i % 10 ? i : int(rand() * i) + 1
    item = sprintf("%s%d@%s", k % 3 ? "user" : "юзер", k * 7919 % 1000000007, d[k % 7 + 1])
    print item >first
    if (i % 8 == 0) printf "%s\nnew%d@%s\n", item, i, d[i % 7 + 1] >second
  } }'

input_kb=$(($(stat -c %s "$work/first.txt") / 1024))
limit_kb=$((input_kb / 3))
# A plain start needs about 6 MB: far below the limit, so a failure is the lists' doing.
(ulimit -v "$limit_kb" && "$cli" --version >/dev/null) || {
  echo "listwise-cli does not even start under ulimit -v $limit_kb"
  exit 1
}
echo "first list $((input_kb / 1024)) MB, limit $((limit_kb / 1024)) MB"

failed=0
runs=("dedupe" "count" "only-in-second" "in-both" "only-in-first -i" "union --trim"
  "symmetric --fold-yo" "duplicates")
for run in "${runs[@]}"; do
  set -- $run
  op=$1
  args=("$@" "$work/first.txt")
  case $op in dedupe | count | duplicates) ;; *) args+=("$work/second.txt") ;; esac
  "$cli" -q "${args[@]}" -o "$work/free.txt"
  rc=0
  (ulimit -v "$limit_kb" && exec "$cli" -q "${args[@]}" -o "$work/limited.txt") 2>"$work/err" || rc=$?
  fault=""
  if [ "$rc" -ne 0 ]; then
    fault="exit $rc: $(cat "$work/err")"
  elif ! cmp "$work/free.txt" "$work/limited.txt"; then
    fault="output differs from the unlimited run"
  fi
  left=$(find "$TMPDIR" -mindepth 1 -maxdepth 1)
  [ -z "$left" ] || fault+="${fault:+; }left behind in TMPDIR: $left"
  if [ -n "$fault" ]; then
    echo "FAIL $run under ulimit -v $limit_kb: $fault"
    failed=$((failed + 1))
  else
    echo "ok $run"
  fi
  rm -rf "$work/free.txt" "$work/limited.txt" "${TMPDIR:?}"/*
done
echo "$((${#runs[@]} - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
