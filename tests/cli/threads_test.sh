#!/usr/bin/env bash
# Every operation gives the same bytes on any number of threads: lists of a few MB, so that the
# runs are cut among the threads, worked on 1, 2, 3, 8 and 64.
# Usage: threads_test.sh PATH/TO/listwise-cli SOURCE_DIR
set -euo pipefail
cli=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$source/bench/gen_lists.py" 300000 "$work/1.txt" "$work/2.txt" >/dev/null
failed=0
for args in "dedupe" "count" "only-in-second" "in-both" "merge" "dedupe -i" "only-in-second -i" \
  "in-both -w --read-sep=\\n" "only-in-first" "only-in-first -i --fold-yo" "union --trim" \
  "union -i" "symmetric --fold-yo" "duplicates -i --trim" "dedupe --trim --fold-yo"; do
  set -- $args
  lists=("$work/1.txt")
  case $1 in only-in-second | in-both | merge | only-in-first | union | symmetric)
    lists+=("$work/2.txt") ;;
  esac
  sums=""
  for threads in 1 2 3 8 64; do
    sums+="$("$cli" -q --threads=$threads "$@" "${lists[@]}" | md5sum | cut -c1-32) "
  done
  if [ "$(echo "$sums" | tr ' ' '\n' | sort -u | grep -c .)" -ne 1 ]; then
    echo "FAIL $args: $sums"
    failed=1
  else
    echo "ok $args"
  fi
done
exit "$failed"
