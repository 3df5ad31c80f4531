#!/usr/bin/env bash
# Start-up time of the window program: milliseconds from exec to the window mapped, for
# several runs, and their median. Run inside xvfb_session.sh (no window manager).
# Usage: startup_time.sh path/to/map_timer path/to/listwise [runs]
set -euo pipefail
timer=$1
program=$2
runs=${3:-11}
"$timer" "$program" >/dev/null  # warm the file cache once
times=()
for _ in $(seq 1 "$runs"); do times+=("$("$timer" "$program" /tmp/a.txt /tmp/b.txt)"); done
printf '%s\n' "${times[@]}" | sort -n | tr '\n' ' '
echo
printf '%s\n' "${times[@]}" | sort -n | awk '{v[NR]=$1} END {printf "median %.1f ms over %d runs\n", v[int((NR+1)/2)], NR}'
