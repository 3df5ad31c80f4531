#!/usr/bin/env bash
# Dedupes one list of several gigabytes three ways, side by side: listwise-cli as it is,
# listwise-cli under an address-space limit (ulimit -v) well below the list's size, so that it
# must spill to disk, and LC_ALL=C sort -u; then checks that all three found the same items.
#
#   bench/larger_than_memory.sh [--gb N] [--limit-mb M] [--workdir DIR] [--cli PATH]
#                               [--keep-list]
#
# N: the list's size in GiB (6); M: the limit in MiB (a quarter of the list); DIR:
# /tmp/listwise-bench, whose data/ it shares with run_bench.sh; PATH: ./build/cli/listwise-cli.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
gb=6
limit_mb=""
workdir=/tmp/listwise-bench
cli=./build/cli/listwise-cli
keep_list=0

usage() {
  sed -n '6,10p' "$0" | sed 's/^# \{0,1\}//'
  exit "${1:-2}"
}

while (($#)); do
  case $1 in
    --gb) gb=$2; shift 2 ;;
    --limit-mb) limit_mb=$2; shift 2 ;;
    --workdir) workdir=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    --keep-list) keep_list=1; shift ;;
    -h|--help) usage 0 ;;
    *) echo "unknown option: $1" >&2; usage ;;
  esac
done

if [[ ! -x $cli ]]; then
  echo "listwise-cli not found at $cli (build it, or pass --cli PATH)" >&2
  exit 1
fi
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")
if [[ ! -x /usr/bin/time ]]; then
  echo "/usr/bin/time is needed for the peak memory (Debian package: time)" >&2
  exit 1
fi

list_bytes=$(awk -v g="$gb" 'BEGIN { printf "%d", g * 1024 * 1024 * 1024 }')
[[ -n $limit_mb ]] || limit_mb=$((list_bytes / 4 / 1024 / 1024))
mkdir -p "$workdir/data" "$workdir/big" "$workdir/tmp"
export TMPDIR=$workdir/tmp   # sort's and listwise-cli's spill files, beside the list

# The list, the outputs of the two listwise-cli runs and of sort -u (each a little smaller
# than the list), and the spill files of whichever runs at the time: about four lists.
need_mb=$((list_bytes * 4 / 1024 / 1024 + 1024))
free_mb=$(df -Pm "$workdir" | awk 'NR == 2 { print $4 }')
if ((free_mb < need_mb)); then
  echo "not enough free disk under $workdir: need about $need_mb MB, have $free_mb MB" >&2
  exit 1
fi
available_mb=$(awk '/^MemAvailable:/ { printf "%d", $2 / 1024 }' /proc/meminfo)
if ((available_mb < list_bytes * 3 / 1024 / 1024)); then
  echo "note: $available_mb MB of memory available; the unlimited run may need about three times the list" >&2
fi

# The base: run_bench.sh's first list of 10^7 lines (about 260 MB, 30 % repeats), kept in
# data/ and made only when missing.
generator=$(sha1sum "$here/gen_lists.py" | cut -c1-8)
base=$workdir/data/first-10000000-$generator.txt
if [[ ! -f $base ]]; then
  echo "generating the base list of 10^7 lines ..." >&2
  python3 "$here/gen_lists.py" 10000000 "$base" "$workdir/data/second-10000000-$generator.txt"
fi

# Copies of the base, each but the first and the last with its own suffix on every item, so
# that most items are distinct; the last copy repeats the first from far away.
base_bytes=$(stat -c %s "$base")
copies=$(((list_bytes + base_bytes / 2) / base_bytes))
((copies >= 1)) || copies=1
list=$workdir/big/list-$copies-$generator.txt
fast_awk=$(command -v mawk || command -v awk)
if [[ ! -f $list ]]; then
  rm -f "$workdir/big/"list-*.txt
  started=$(date +%s.%N)
  for ((c = 0; c < copies; c++)); do
    if ((c == 0 || (c == copies - 1 && copies >= 3))); then
      cat "$base"
    else
      LC_ALL=C "$fast_awk" -v RS='\r\n' -v ORS="~$c"$'\r\n' 1 "$base"
    fi
  done >"$list.part"
  mv "$list.part" "$list"
  echo "made $list ($copies copies) in $(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }') s" >&2
fi
size_mb=$(($(stat -c %s "$list") / 1024 / 1024))

out=$workdir/big
rows=""
failed=0
# Runs one command under /usr/bin/time and adds its row: name, wall s, peak RSS MB, status.
timed() {
  local name=$1 rc=0
  shift
  echo "$name ..." >&2
  /usr/bin/time -f '%e %M' -o "$workdir/tmp/time" "$@" 2>"$workdir/tmp/err" || rc=$?
  local wall rss
  read -r wall rss < <(tail -n 1 "$workdir/tmp/time")
  [[ $rss =~ ^[0-9]+$ ]] || { wall=-; rss=0; }
  local status=ok
  if ((rc != 0)); then
    status="exit $rc: $(grep -v '^Command exited' "$workdir/tmp/err" | tail -n 1)"
    failed=1
  fi
  rows+=$(printf '%-28s %9s %9s  %s' "$name" "$wall" "$((rss / 1024))" "$status")$'\n'
  return "$rc"
}

rm -f "$out/free.txt" "$out/limited.txt" "$out/sorted.txt"
free_ok=0
limited_ok=0
timed "listwise-cli dedupe" "$cli" -q dedupe "$list" -o "$out/free.txt" && free_ok=1
timed "listwise-cli, ulimit -v ${limit_mb}M" bash -c 'ulimit -v "$1" && exec "${@:2}"' - \
  $((limit_mb * 1024)) "$cli" -q dedupe "$list" -o "$out/limited.txt" && limited_ok=1
checks=""
if ((free_ok && limited_ok)); then
  if cmp -s "$out/free.txt" "$out/limited.txt"; then
    checks+="limited output byte-identical to the unlimited one: yes"$'\n'
  else
    checks+="limited output byte-identical to the unlimited one: NO"$'\n'
    failed=1
  fi
fi
rm -f "$out/limited.txt"
timed "LC_ALL=C sort -u" env LC_ALL=C sort -u "$list" -o "$out/sorted.txt" || true

# listwise-cli writes a byte-order mark and joins the items with CR LF, with none after the
# last; as lines with their CR, its items must be exactly sort -u's. Its output is usually
# sorted already, which saves sorting it again.
if ((free_ok)) && [[ -f $out/sorted.txt ]]; then
  items() { tail -c +4 "$out/free.txt" && printf '\r\n'; }
  if items | LC_ALL=C sort -c -u 2>/dev/null; then
    same=$(cmp -s <(items) "$out/sorted.txt" && echo yes || echo NO)
  else
    same=$(cmp -s <(items | LC_ALL=C sort -u) "$out/sorted.txt" && echo yes || echo NO)
  fi
  [[ $same == yes ]] || failed=1
  checks+="listwise-cli's items the same as sort -u's: $same"$'\n'
fi
rm -f "$out/free.txt" "$out/sorted.txt"
((keep_list)) || rm -f "$list"

echo
echo "dedupe of one list of $size_mb MB ($copies x 10^7 lines), limit ${limit_mb} MB:"
printf '%-28s %9s %9s  %s\n' "run" "wall s" "peak MB" "status"
printf '%s' "$rows"
printf '%s' "$checks"
((keep_list)) && echo "the list stays at $list"
exit "$failed"
