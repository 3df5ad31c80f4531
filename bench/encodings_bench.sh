#!/usr/bin/env bash
# Times listwise-cli on one list saved in several encodings, side by side in one run: the same
# items as UTF-8, UTF-16LE (with and without its mark) and Windows-1251. Prints the median wall
# time and peak memory of each, and their ratio to UTF-8.
#   bench/encodings_bench.sh [--lines N] [--reps N] [--mode MODE] [--cli PATH] [--workdir DIR]
set -euo pipefail
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
mode=dedupe
bench_option() { [ "$1" = --mode ] && mode=$2; }
bench_options "[--lines N] [--reps N] [--mode MODE] [--cli PATH] [--workdir DIR]" "$@"
data=$workdir/encodings
mkdir -p "$data"
base=$data/$lines.utf8
bench_lists "$base" "$data/$lines.second"
python3 - "$base" <<'PY'
import sys
base = sys.argv[1]
text = open(base, encoding="utf-8", newline="").read()
for suffix, data in (("utf16le-mark", b"\xff\xfe" + text.encode("utf-16-le")),
                     ("utf16le", text.encode("utf-16-le")),
                     ("cp1251", text.encode("cp1251"))):
    path = base[:-len("utf8")] + suffix
    try:
        if open(path, "rb").read() == data:
            continue
    except OSError:
        pass
    open(path, "wb").write(data)
PY
kinds=(utf8 utf16le-mark utf16le cp1251)
declare -A times mems
for ((r = 0; r < reps; r++)); do
  for kind in "${kinds[@]}"; do
    out=$( { /usr/bin/time -f "%e %M" "$cli" -q "$mode" "${data}/${lines}.${kind}" \
      "${data}/${lines}.${kind}" >/dev/null; } 2>&1 | tail -n 1)
    times[$kind]+="${out% *} "
    mems[$kind]+="${out#* } "
  done
done
t0=$(echo "${times[utf8]}" | median)
m0=$(echo "${mems[utf8]}" | median)
printf '%-14s %10s %8s %12s %8s\n' encoding "time (s)" ratio "peak (MB)" ratio
for kind in "${kinds[@]}"; do
  t=$(echo "${times[$kind]}" | median)
  m=$(echo "${mems[$kind]}" | median)
  printf '%-14s %10s %8.2f %12.1f %8.2f\n' "$kind" "$t" "$(echo "$t / $t0" | bc -l)" \
    "$(echo "$m / 1024" | bc -l)" "$(echo "$m / $m0" | bc -l)"
done
