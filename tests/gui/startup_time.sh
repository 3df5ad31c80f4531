#!/usr/bin/env bash
# Start-up time of the window program: milliseconds from exec to the window mapped and to its
# first drawn content, for several runs, with the medians. Run inside xvfb_session.sh (no window
# manager). Usage: startup_time.sh path/to/map_timer path/to/listwise [runs]
set -euo pipefail
timer=$1
program=$2
runs=${3:-11}
"$timer" "$program" >/dev/null  # warm the file cache once
results=$(for _ in $(seq 1 "$runs"); do "$timer" "$program" /tmp/first.txt /tmp/second.txt; done)
median() { sort -n | awk '{v[NR]=$1} END {printf "%.1f", v[int((NR+1)/2)]}'; }
echo "exec to mapped (ms): $(cut -d' ' -f1 <<<"$results" | sort -n | tr '\n' ' ')"
echo "exec to drawn (ms):  $(cut -d' ' -f2 <<<"$results" | sort -n | tr '\n' ' ')"
echo "median over $runs runs: mapped $(cut -d' ' -f1 <<<"$results" | median) ms," \
     "drawn $(cut -d' ' -f2 <<<"$results" | median) ms"
