#!/usr/bin/env bash
# Times listwise-cli taking the fourth column of two ";" tables (Фамилия;Имя;Телефон;E-mail with a
# header, some fields quoted) against the same run on lists that hold that column alone, for
# only-in-second and dedupe, side by side in one run, and an awk | sort -u pipeline that cuts at
# every ";". Prints the median wall time and peak memory of each, and their ratio to the column
# alone.
#   bench/columns_bench.sh [--lines N] [--reps N] [--cli PATH] [--workdir DIR] [--skip WHAT]
# --skip takes "column" (the table runs of listwise-cli, left out by themselves when it has no
# --column), "peer" or both in one word list.
set -euo pipefail
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
lines=10000000 skip=""
bench_option() { [ "$1" = --skip ] && skip=$2; }
usage="[--lines N] [--reps N] [--cli PATH] [--workdir DIR] [--skip \"column peer\"]"
bench_options "$usage" "$@"
lines=$(awk -v n="$lines" 'BEGIN { printf "%d", n }')  # 1e7 as well as 10000000
for word in $skip; do
  case $word in
    column | peer) ;;
    *)
      echo "usage: $0 $usage" >&2
      exit 2
      ;;
  esac
done
skipped() { [[ " $skip " == *" $1 "* ]]; }
if ! command -v "$cli" >/dev/null; then
  echo "$cli: no such program" >&2
  exit 1
fi
if ! skipped column && ! "$cli" --help 2>/dev/null | grep -q -- --column=; then
  echo "$cli has no --column: its table runs are left out" >&2
  skip+=" column"
fi

data=$workdir/columns
mkdir -p "$data"
base=$data/$lines
# Per line: about 54 bytes for the two lists, 146 for their tables, 30 for the outputs.
need_kb=$((lines * 30 / 1024))
[ -s "$base.first.txt" ] || need_kb=$((need_kb + lines * 54 / 1024))
[ -s "$base.first.csv" ] || need_kb=$((need_kb + lines * 146 / 1024))
free_kb=$(df -Pk "$data" | awk 'NR == 2 { print $4 }')
if ((free_kb < need_kb)); then
  echo "not enough free disk under $data: need about $((need_kb / 1024)) MB" >&2
  exit 1
fi
bench_lists "$base.first.txt" "$base.second.txt"
for which in first second; do
  if [ ! -s "$base.$which.csv" ] || [ "$base.$which.txt" -nt "$base.$which.csv" ]; then
    python3 bench/gen_table.py "$base.$which.txt" "$base.$which.csv"
  fi
done

# Lines of "run@@command" for one operation; A and B are the two lists' names without suffix, T
# that of the peer's sorted copies.
# The peer keeps the CR of the last field, as listwise-cli keeps nothing of it: the same items.
runs_for() {
  local two=$1 peer
  skipped column || echo "column 4@@\"\$CLI\" -q --column=4 --header $op \"\$A.csv\"${two:+ \"\$B.csv\"}"
  echo "column alone@@\"\$CLI\" -q $op \"\$A.txt\"${two:+ \"\$B.txt\"}"
  skipped peer && return
  peer="awk -F';' 'FNR > 1 { print \$4 }'"
  if [ -n "$two" ]; then
    # Sorted copies rather than <(...), whose processes time's peak would not see.
    echo "awk | sort -u@@$peer \"\$A.csv\" | LC_ALL=C sort -u >\"\$T.1\" &&" \
      "$peer \"\$B.csv\" | LC_ALL=C sort -u >\"\$T.2\" && LC_ALL=C comm -13 \"\$T.1\" \"\$T.2\""
  else
    echo "awk | sort -u@@$peer \"\$A.csv\" | LC_ALL=C sort -u"
  fi
}

# items FILE: the items of a result, one a line, sorted (without the byte-order mark and CRs).
items() { sed -e '1s/^\xef\xbb\xbf//' -e 's/\r$//' "$1" | LC_ALL=C sort; }

log=$data/bench.log
: >"$log"
export CLI=$cli A=$base.first B=$base.second T=$data/sorted
rows=()
for op in only-in-second dedupe; do
  two=""
  [ "$op" = only-in-second ] && two=1
  mapfile -t runs < <(runs_for "$two")
  declare -A times=() mems=() failed=()
  for ((r = 0; r < reps; r++)); do
    # Each round begins with the next run, so that none always follows the same one.
    for ((j = 0; j < ${#runs[@]}; j++)); do
      run=${runs[$(((j + r) % ${#runs[@]}))]}
      name=${run%%@@*} cmd=${run#*@@}
      [ -z "${failed[$name]:-}" ] || continue
      out=$data/out.$op.${name//[^a-z0-9]/-}
      echo "== $op [$name] round $((r + 1)): $cmd" >>"$log"
      rc=0
      /usr/bin/time -f "%e %M" -o "$data/time" bash -c "$cmd" >"$out" 2>>"$log" || rc=$?
      if ((rc != 0)); then
        failed[$name]="exit $rc"
        continue
      fi
      read -r wall mem < <(tail -n 1 "$data/time")
      times[$name]+="$wall " mems[$name]+="$mem "
    done
  done
  # The table's column and the column alone must give the same items.
  if ! skipped column && [ -z "${failed[column 4]:-}${failed[column alone]:-}" ] &&
    ! cmp -s <(items "$data/out.$op.column-4") <(items "$data/out.$op.column-alone"); then
    failed[column 4]="output differs"
  fi
  for run in "${runs[@]}"; do
    name=${run%%@@*}
    if [ -n "${failed[$name]:-}" ]; then
      rows+=("$op"$'\t'"$name"$'\t'"${failed[$name]}"$'\t'-)
    else
      rows+=("$op"$'\t'"$name"$'\t'"$(echo "${times[$name]}" | median)"$'\t'"$(echo "${mems[$name]}" | median)")
    fi
  done
  unset times mems failed
done
rm -f "$data"/out.* "$data/time" "$data"/sorted.*

printf '%-15s %-14s %10s %8s %10s\n' operation run "time (s)" "x alone" "peak (MB)"
status=0
for row in "${rows[@]}"; do
  IFS=$'\t' read -r op name t m <<<"$row"
  t0=$(printf '%s\n' "${rows[@]}" | awk -F'\t' -v op="$op" '$1 == op && $2 == "column alone" { print $3 }')
  if [ "$m" = - ]; then
    printf '%-15s %-14s %10s\n' "$op" "$name" "$t"
    status=1
  elif [[ $t0 =~ ^[0-9.]+$ ]] && [ "$(echo "$t0 > 0" | bc -l)" = 1 ]; then
    printf '%-15s %-14s %10s %8.2f %10.1f\n' "$op" "$name" "$t" "$(echo "$t / $t0" | bc -l)" \
      "$(echo "$m / 1024" | bc -l)"
  else
    printf '%-15s %-14s %10s %8s %10.1f\n' "$op" "$name" "$t" - "$(echo "$m / 1024" | bc -l)"
  fi
done
[ "$status" = 0 ] || echo "a run failed or its output differs: see $log" >&2
exit "$status"
