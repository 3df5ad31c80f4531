#!/usr/bin/env bash
# Times only-in-second on one pair of lists in the forms that once needed another way through the
# engine, side by side in one run against the same lists in plain UTF-8: UTF-32LE with its mark,
# UTF-16LE holding one lone surrogate, items cut by "ж", and results joined by "😀". Prints the
# median wall time, user+system time and peak memory of each, and their ratios to plain UTF-8.
#   bench/one_engine_bench.sh [--lines N] [--reps N] [--cli PATH] [--workdir DIR]
set -euo pipefail
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
bench_options "[--lines N] [--reps N] [--cli PATH] [--workdir DIR]" "$@"
data=$workdir/one-engine
mkdir -p "$data"
base=$data/$lines
bench_lists "$base.first.utf8" "$base.second.utf8"
python3 - "$base" <<'PY'
import sys
base = sys.argv[1]
for which in ("first", "second"):
    text = open(f"{base}.{which}.utf8", encoding="utf-8", newline="").read()
    lone = text.split("\r\n")
    lone[len(lone) // 2] += "\ud800"  # one item ends in a lone surrogate
    forms = {
        "utf32": b"\xff\xfe\x00\x00" + text.encode("utf-32-le"),
        "utf16-lone": "\r\n".join(lone).encode("utf-16-le", "surrogatepass"),
        "zhe": text.replace("\r\n", "ж").encode(),
    }
    for kind, data in forms.items():
        path = f"{base}.{which}.{kind}"
        try:
            if open(path, "rb").read() == data:
                continue
        except OSError:
            pass
        open(path, "wb").write(data)
PY
kinds=(utf8 utf32 utf16-lone zhe smile)
declare -A times cpus mems
for ((r = 0; r < reps; r++)); do
  for kind in "${kinds[@]}"; do
    file=$kind options=()
    case $kind in
      zhe) options=(--read-sep=ж) ;;
      smile) file=utf8 options=(--result-sep=😀) ;;
    esac
    out=$( { /usr/bin/time -f "%e %U %S %M" "$cli" -q "${options[@]}" only-in-second \
      "$base.first.$file" "$base.second.$file" >/dev/null; } 2>&1 | tail -n 1)
    read -r wall user sys mem <<<"$out"
    times[$kind]+="$wall "
    cpus[$kind]+="$(echo "$user + $sys" | bc -l) "
    mems[$kind]+="$mem "
  done
done
t0=$(echo "${times[utf8]}" | median)
c0=$(echo "${cpus[utf8]}" | median)
m0=$(echo "${mems[utf8]}" | median)
printf '%-11s %9s %6s %9s %6s %10s %6s\n' list "wall (s)" ratio "cpu (s)" ratio "peak (MB)" ratio
for kind in "${kinds[@]}"; do
  t=$(echo "${times[$kind]}" | median)
  c=$(echo "${cpus[$kind]}" | median)
  m=$(echo "${mems[$kind]}" | median)
  printf '%-11s %9s %6.2f %9.2f %6.2f %10.1f %6.2f\n' "$kind" "$t" "$(echo "$t / $t0" | bc -l)" \
    "$c" "$(echo "$c / $c0" | bc -l)" "$(echo "$m / 1024" | bc -l)" "$(echo "$m / $m0" | bc -l)"
done
