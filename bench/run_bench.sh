#!/usr/bin/env bash
# Times listwise-cli against the usual command-line ways of doing the same
# jobs, against DuckDB and Polars where they are set up, and against `cat` of
# the same input, on the same generated lists, and prints the tables.
#
#   bench/run_bench.sh [--sizes "1e6 1e7"] [--reps N] [--cli PATH]
#                      [--workdir DIR] [--markdown FILE] [--timeout SECONDS]
#                      [--no-check] [--peers-only] [--collisions "14 16 17"]
#                      [--duckdb DIR] [--duckdb-threads N]
#                      [--polars DIR] [--polars-threads N]
#
# Every tool of one size runs once per round, each round beginning with the
# next tool, so that the noise of a shared machine spreads over all of them
# alike; a row shows the
# median wall time of the rounds, its ratio to the fastest peer doing the
# same job and to `cat`, and the highest peak memory (max RSS of the largest
# process).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
sizes="1e6 1e7"
reps=""
cli=./build/cli/listwise-cli
workdir=/tmp/listwise-bench
markdown=""
timeout_s=900
check=1
peers_only=0
collisions=""
# DuckDB's peer: a folder holding q.mjs and its node_modules (bench/README.md).
duckdb_dir=${LISTWISE_BENCH_DUCKDB-/tmp/duck}
duckdb_named=0
[[ -z ${LISTWISE_BENCH_DUCKDB+set} ]] || duckdb_named=1
duckdb_threads=""
# Polars' peer, the same way.
polars_dir=${LISTWISE_BENCH_POLARS-/tmp/polars}
polars_named=0
[[ -z ${LISTWISE_BENCH_POLARS+set} ]] || polars_named=1
polars_threads=""

usage() {
  sed -n '6,10p' "$0" | sed 's/^# \{0,1\}//'
  exit "${1:-2}"
}

while (($#)); do
  case $1 in
    --sizes) sizes=$2; shift 2 ;;
    --reps) reps=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    --workdir) workdir=$2; shift 2 ;;
    --markdown) markdown=$2; shift 2 ;;
    --timeout) timeout_s=$2; shift 2 ;;
    --no-check) check=0; shift ;;
    --peers-only) peers_only=1; check=0; shift ;;
    --collisions) collisions=$2; shift 2 ;;
    --duckdb) duckdb_dir=$2; duckdb_named=1; shift 2 ;;
    --duckdb-threads) duckdb_threads=$2; shift 2 ;;
    --polars) polars_dir=$2; polars_named=1; shift 2 ;;
    --polars-threads) polars_threads=$2; shift 2 ;;
    -h|--help) usage 0 ;;
    *) echo "unknown option: $1" >&2; usage ;;
  esac
done

if ((!peers_only)); then
  if [[ ! -x $cli ]]; then
    echo "listwise-cli not found at $cli (build it, or pass --cli PATH)" >&2
    exit 1
  fi
  cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")
fi
if [[ ! -x /usr/bin/time ]]; then
  echo "/usr/bin/time is needed for the peak memory (Debian package: time)" >&2
  exit 1
fi

# The cores this process may use: its CPU affinity (nproc), lowered by a
# cgroup's CPU quota where one is set.
usable_cores() {
  local n quota="" period=1 cg
  n=$(nproc)
  cg=$(awk -F: '$1 == 0 { print $3 }' /proc/self/cgroup)
  if read -r quota period 2>/dev/null <"/sys/fs/cgroup$cg/cpu.max" && [[ $quota != max ]]; then
    :
  elif read -r quota 2>/dev/null </sys/fs/cgroup/cpu/cpu.cfs_quota_us && ((quota > 0)); then
    read -r period </sys/fs/cgroup/cpu/cpu.cfs_period_us
  else
    quota=""
  fi
  if [[ -n $quota ]] && (((quota + period - 1) / period < n)); then
    n=$(((quota + period - 1) / period))
  fi
  echo "$n"
}

# A peer runs when its folder holds q.mjs and the packages it loads and node is on the path,
# on as many threads as this machine lets a program use; a folder named on purpose must be
# complete. peer_ready DIR PACKAGE... (a package may be a pattern).
peer_ready() {
  local dir=$1 package
  shift
  [[ -n $dir && -f $dir/q.mjs ]] && command -v node >/dev/null || return 1
  for package; do
    compgen -G "$dir/node_modules/$package" >/dev/null || return 1
  done
}
# Why a peer does not run, in REPLY; stops the script for a folder named on purpose.
# peer_missing NAME DIR NAMED OPTION PACKAGES
peer_missing() {
  if [[ -z $2 ]]; then
    REPLY="$1 left out ($4 '')"
  elif (($3)); then
    echo "no $1 peer in $2: it needs q.mjs, $5 and node (see bench/README.md)" >&2
    exit 1
  else
    REPLY="$1 not run: no q.mjs with $5 in $2, or no node (see bench/README.md)"
    echo "$REPLY" >&2
  fi
}
# The first "version" of a package.json.
package_version() { sed -n 's/^ *"version": *"\([0-9.]*[0-9]\).*/\1/p' "$1" | head -n 1; }

duckdb_tool=""
duckdb_note=""
if peer_ready "$duckdb_dir" @duckdb/node-api; then
  duckdb_dir=$(cd "$duckdb_dir" && pwd)
  duckdb_threads=${duckdb_threads:-$(usable_cores)}
  duckdb_version=$(package_version "$duckdb_dir/node_modules/@duckdb/node-api/package.json")
  duckdb_tool="duckdb, $duckdb_threads threads"
  export DUCKDB=$duckdb_dir DUCKDB_THREADS=$duckdb_threads
else
  peer_missing DuckDB "$duckdb_dir" "$duckdb_named" --duckdb node_modules/@duckdb/node-api
  duckdb_note=$REPLY
fi

# nodejs-polars loads its engine from a package of its own for each platform, which npm may
# skip without a word; without it every run would fail.
polars_tool=""
polars_note=""
if peer_ready "$polars_dir" nodejs-polars 'nodejs-polars-*'; then
  polars_dir=$(cd "$polars_dir" && pwd)
  polars_threads=${polars_threads:-$(usable_cores)}
  polars_version=$(package_version "$polars_dir/node_modules/nodejs-polars/package.json")
  polars_tool="polars, $polars_threads threads"
  # Not POLARS_*: the library reads its settings from variables of that prefix.
  export PEER_POLARS=$polars_dir PEER_POLARS_THREADS=$polars_threads
else
  peer_missing Polars "$polars_dir" "$polars_named" --polars "node_modules/nodejs-polars, its nodejs-polars-PLATFORM"
  polars_note=$REPLY
fi

mkdir -p "$workdir/data" "$workdir/out" "$workdir/tmp"
workdir=$(cd "$workdir" && pwd)   # DuckDB runs in $TMPDIR, and takes the same paths
export TMPDIR=$workdir/tmp   # sort spills here, not into a small /tmp

# Lists are kept between runs and made again when the generator changes.
generator=$(sha1sum "$here/gen_lists.py" | cut -c1-8)
lines_of() { awk -v s="$1" 'BEGIN { printf "%d", s + 0 }'; }

# Room for the lists still to generate, plus the sorted copies and the
# outputs of the largest size (about twelve times one list in all).
need_kb=0
most_kb=0
for s in $sizes; do
  n=$(lines_of "$s")
  kb=$((n * 27 / 1024))              # about 27 bytes a line
  [[ -f $workdir/data/first-$n-$generator.txt ]] || need_kb=$((need_kb + 2 * kb))
  ((12 * kb > most_kb)) && most_kb=$((12 * kb))
done
need_kb=$((need_kb + most_kb))
free_kb=$(df -Pk "$workdir" | awk 'NR == 2 { print $4 }')
if ((free_kb < need_kb)); then
  echo "not enough free disk under $workdir: need about $((need_kb / 1024)) MB, have $((free_kb / 1024)) MB" >&2
  exit 1
fi

# Lines of "tool@@command" for one operation; F1, F2, O and T are set when it runs.
# The peers read and write the bytes as they stand, CR included, which
# keeps their items the same as listwise-cli's under its default separators.
# DuckDB and Polars take CR LF as the line end and write LF; the check drops
# the CR anyway. They run in $TMPDIR, where they would spill. Polars alone of
# the two merges. `cat` of the same input into /dev/null, last, is the floor
# that reading alone costs.
operations="only-in-second in-both dedupe count merge"
two_inputs() { [[ $1 == only-in-second || $1 == in-both || $1 == merge ]]; }
jobs_for() {
  local duck="" polars=""
  [[ -z $duckdb_tool ]] || duck="$duckdb_tool@@cd \"\$TMPDIR\" && THREADS=\$DUCKDB_THREADS exec node \"\$DUCKDB/q.mjs\""
  [[ -z $polars_tool ]] || polars="$polars_tool@@cd \"\$TMPDIR\" && THREADS=\$PEER_POLARS_THREADS exec node \"\$PEER_POLARS/q.mjs\""
  case $1 in
    only-in-second)
      echo "listwise-cli@@\"\$CLI\" only-in-second \"\$F1\" \"\$F2\" --output \"\$O\""
      [[ -z $duck ]] || echo "$duck only2 \"\$F1\" \"\$F2\" >\"\$O\""
      [[ -z $polars ]] || echo "$polars only2 \"\$F1\" \"\$F2\" >\"\$O\""
      echo "sort -u + comm -13@@LC_ALL=C sort -u \"\$F1\" >\"\$T.1\" && LC_ALL=C sort -u \"\$F2\" >\"\$T.2\" && LC_ALL=C comm -13 \"\$T.1\" \"\$T.2\" >\"\$O\""
      echo "awk NR==FNR@@awk 'NR==FNR{a[\$0];next} !(\$0 in a) && !s[\$0]++' \"\$F1\" \"\$F2\" >\"\$O\""
      ;;
    in-both)
      echo "listwise-cli@@\"\$CLI\" in-both \"\$F1\" \"\$F2\" --output \"\$O\""
      [[ -z $duck ]] || echo "$duck both \"\$F1\" \"\$F2\" >\"\$O\""
      [[ -z $polars ]] || echo "$polars both \"\$F1\" \"\$F2\" >\"\$O\""
      echo "sort -u + comm -12@@LC_ALL=C sort -u \"\$F1\" >\"\$T.1\" && LC_ALL=C sort -u \"\$F2\" >\"\$T.2\" && LC_ALL=C comm -12 \"\$T.1\" \"\$T.2\" >\"\$O\""
      echo "awk NR==FNR@@awk 'NR==FNR{a[\$0];next} (\$0 in a) && !s[\$0]++' \"\$F1\" \"\$F2\" >\"\$O\""
      ;;
    dedupe)
      echo "listwise-cli@@\"\$CLI\" dedupe \"\$F1\" --output \"\$O\""
      [[ -z $duck ]] || echo "$duck dedupe \"\$F1\" >\"\$O\""
      [[ -z $polars ]] || echo "$polars dedupe \"\$F1\" >\"\$O\""
      echo "awk !s[\$0]++@@awk '!s[\$0]++' \"\$F1\" >\"\$O\""
      echo "sort -u@@LC_ALL=C sort -u \"\$F1\" >\"\$O\""
      ;;
    count)
      echo "listwise-cli@@\"\$CLI\" count \"\$F1\" --output \"\$O\""
      [[ -z $duck ]] || echo "$duck count \"\$F1\" >\"\$O\""
      [[ -z $polars ]] || echo "$polars count \"\$F1\" >\"\$O\""
      echo "sort | uniq -c@@LC_ALL=C sort \"\$F1\" | LC_ALL=C uniq -c >\"\$O\""
      echo "awk c[\$0]++@@awk '{c[\$0]++} END{for (k in c) print c[k], k}' \"\$F1\" >\"\$O\""
      ;;
    merge)
      echo "listwise-cli@@\"\$CLI\" merge \"\$F1\" \"\$F2\" --output \"\$O\""
      [[ -z $polars ]] || echo "$polars merge \"\$F1\" \"\$F2\" >\"\$O\""
      echo "paste@@paste \"\$F1\" \"\$F2\" >\"\$O\""
      ;;
  esac
  if two_inputs "$1"; then
    echo "cat@@cat \"\$F1\" \"\$F2\" >/dev/null"
  else
    echo "cat@@cat \"\$F1\" >/dev/null"
  fi
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
slug() { echo "$1" | tr -cs 'A-Za-z0-9\n' '-' | sed 's/-$//'; }

results=$workdir/results.tsv   # size, op, tool, median s, peak KB, input bytes, status
: >"$results"
engine=$workdir/engine.tsv     # size, op, median ms of listwise-cli's status line
: >"$engine"
log=$workdir/bench.log
: >"$log"
generation_note=""

# What the wrappers around every timed command cost by themselves, which
# weighs most on `cat`: the median of a few empty commands run the same way.
harness_s=$(for _ in 1 2 3 4 5; do
  start=$(date +%s%N)
  /usr/bin/time -f %M -o "$workdir/tmp/rss" timeout "$timeout_s" bash -c true
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.4f\n", ns / 1e9 }'
done | median)
harness_note="every time includes the wrappers' own $(printf '%.3f' "$harness_s") s (/usr/bin/time, timeout and bash -c around \`true\`, median of 5)"

for s in $sizes; do
  n=$(lines_of "$s")
  F1=$workdir/data/first-$n-$generator.txt
  F2=$workdir/data/second-$n-$generator.txt
  if [[ ! -f $F1 || ! -f $F2 ]]; then
    echo "generating 2 x $n lines ..." >&2
    rm -f "$workdir/data/"*"-$n-"*.txt   # lists of an older generator
    started=$(date +%s.%N)
    python3 "$here/gen_lists.py" "$n" "$F1" "$F2"
    took=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
    generation_note+="generated 2 x $n lines in $took s; "
  fi
  export F1 F2 CLI=$cli
  r=$reps
  [[ -n $r ]] || { ((n >= 10000000)) && r=3 || r=5; }
  rm -f "$workdir/out/"*"-$n-"*.txt
  size1=$(stat -c %s "$F1")
  size2=$(stat -c %s "$F2")

  for op in $operations; do
    input=$size1
    two_inputs "$op" && input=$((size1 + size2))
    mapfile -t jobs < <(jobs_for "$op")
    ((peers_only)) && jobs=("${jobs[@]:1}")
    declare -A times=() peaks=() status=()
    engine_ms=""
    for ((round = 1; round <= r; round++)); do
      # Each round begins with another tool, so that none always runs right after the same one:
      # on a virtual machine the run that follows one which freed gigabytes pays for fresh pages.
      for ((j = 0; j < ${#jobs[@]}; j++)); do
        job=${jobs[$(((j + round - 1) % ${#jobs[@]}))]}
        tool=${job%%@@*}
        cmd=${job#*@@}
        [[ ${status[$tool]:-ok} == ok ]] || continue
        O=$workdir/out/$op-$n-$(slug "$tool").txt
        export O T=$workdir/tmp/sorted
        echo "== $n $op [$tool] round $round: $cmd" >>"$log"
        start=$(date +%s%N)
        rc=0
        /usr/bin/time -f %M -o "$workdir/tmp/rss" timeout "$timeout_s" bash -c "$cmd" 2>"$workdir/tmp/err" || rc=$?
        end=$(date +%s%N)
        cat "$workdir/tmp/err" >>"$log"
        # listwise-cli's status line holds the milliseconds of the operation
        # alone, without reading and writing the files.
        if [[ $tool == listwise-cli ]] && ms=$(grep -oE '[0-9-]+ (мсек|ms)$' "$workdir/tmp/err" | grep -o '^[0-9-]*'); then
          engine_ms+="$ms "
        fi
        rm -f "$T.1" "$T.2"
        if ((rc == 124)); then
          status[$tool]="timeout >${timeout_s}s"
        elif ((rc != 0)); then
          status[$tool]="failed (exit $rc)"
        fi
        took=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.4f", ns / 1e9 }')
        echo "   $took s, exit $rc" >>"$log"   # the spread of the rounds shows the noise
        times[$tool]+="$took "
        rss=$(tail -n 1 "$workdir/tmp/rss")
        [[ $rss =~ ^[0-9]+$ ]] || rss=0
        ((rss > ${peaks[$tool]:-0})) && peaks[$tool]=$rss
      done
    done
    for job in "${jobs[@]}"; do
      tool=${job%%@@*}
      # shellcheck disable=SC2086 # one time per word
      med=$(printf '%s\n' ${times[$tool]} | median)
      printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$n" "$op" "$tool" "$med" "${peaks[$tool]:-0}" \
        "$input" "${status[$tool]:-ok}" >>"$results"
    done
    if [[ -n $engine_ms ]]; then
      # shellcheck disable=SC2086 # one reading per word
      printf '%s\t%s\t%s\n' "$n" "$op" "$(printf '%s\n' $engine_ms | median)" >>"$engine"
    fi
    unset times peaks status
    echo "  $n $op done" >&2
  done

  # The peers and listwise-cli should agree on what they found. The check
  # loads the outputs in Python, so it stops short of the largest lists.
  if ((check && n <= 1000000)); then
    python3 "$here/check_outputs.py" "$workdir/out" "$n" | tee -a "$log" >&2 || true
  elif ((n > 1000000)); then
    rm -f "$workdir/out/"*"-$n-"*.txt   # gigabytes at 10^7 lines, and unchecked
  fi
done

# The table: ratio to the fastest peer of the same size and operation (`cat`,
# which only reads, is no peer) and to `cat`, and the peak memory as a
# multiple of the input files (both files for the operations that read two).
report() {
  local format=$1
  awk -F'\t' -v format="$format" '
    { row[NR] = $0; key = $1 SUBSEP $2
      if ($3 != "listwise-cli" && $3 != "cat" && $7 == "ok" && (!(key in best) || $4 < best[key])) best[key] = $4
      if ($3 == "cat" && $7 == "ok") cat_s[key] = $4
      if ($3 == "listwise-cli" && $7 == "ok") cli[$1, $2] = $4 }
    END {
      if (format == "md") {
        print "| lines | operation | tool | median s | x fastest peer | x cat | peak MB | peak / input |"
        print "|---:|---|---|---:|---:|---:|---:|---:|"
      } else {
        printf "%-9s %-15s %-20s %9s %9s %9s %9s %7s\n", "lines", "operation", "tool", "median s", "x peer", "x cat", "peak MB", "x input"
      }
      for (i = 1; i <= NR; i++) {
        split(row[i], f, "\t")
        key = f[1] SUBSEP f[2]
        ratio = (key in best && best[key] > 0 && f[7] == "ok" && f[3] != "cat") ? sprintf("%.2f", f[4] / best[key]) : "-"
        over_cat = (key in cat_s && cat_s[key] > 0 && f[7] == "ok") ? sprintf("%.1f", f[4] / cat_s[key]) : "-"
        med = f[7] == "ok" ? sprintf("%.3f", f[4]) : f[7]
        mb = sprintf("%.0f", f[5] / 1024)
        mult = sprintf("%.1f", f[5] * 1024 / f[6])
        tool = f[3]
        if (format == "md") { gsub(/\|/, "\\|", tool); printf "| %s | %s | `%s` | %s | %s | %s | %s | %s |\n", f[1], f[2], tool, med, ratio, over_cat, mb, mult }
        else printf "%-9s %-15s %-20s %9s %9s %9s %9s %7s\n", f[1], f[2], tool, med, ratio, over_cat, mb, mult
      }
      # Growth of listwise-cli from one size to the next, which should stay
      # close to the ratio of the sizes.
      first = 1
      for (i = 1; i <= NR; i++) {
        split(row[i], f, "\t")
        if (f[3] != "listwise-cli" || !((f[1], f[2]) in cli)) continue
        big = f[1] * 10
        if ((big, f[2]) in cli && cli[f[1], f[2]] > 0) {
          if (first) { print ""; print (format == "md" ? "Growth of listwise-cli, time at 10x the lines over time at the size shown:\n" : "growth of listwise-cli (time at 10x lines / time):"); first = 0 }
          line = sprintf("%s lines, %s: %.1f", f[1], f[2], cli[big, f[2]] / cli[f[1], f[2]])
          print (format == "md" ? "- " line : "  " line)
        }
      }
    }' "$results"
  if [[ -s $engine ]]; then
    echo
    if [[ $format == md ]]; then
      echo "Milliseconds of the operation alone, as listwise-cli's status line reports them (median):"
      echo
      awk -F'\t' '{ printf "- %s lines, %s: %s ms\n", $1, $2, $3 }' "$engine"
    else
      echo "operation alone, from listwise-cli's status line (median ms):"
      awk -F'\t' '{ printf "  %s lines, %s: %s ms\n", $1, $2, $3 }' "$engine"
    fi
  fi
}

# One row per operation and size, listwise-cli against the fastest peer: the ratio of their
# medians, listwise-cli's peak memory over its input, and how its time grew from the size ten
# times smaller (shown on the larger size's row when both were timed).
summary() {
  awk -F'\t' -v format="$1" '
    $3 == "listwise-cli" && $7 != "ok" { failed[$1, $2] = $7 }
    $7 == "ok" && $3 == "listwise-cli" { cli[$1, $2] = $4; peak[$1, $2] = $5 * 1024 / $6 }
    $7 == "ok" && $3 != "listwise-cli" && $3 != "cat" && (!(($1, $2) in best) || $4 < best[$1, $2]) {
      best[$1, $2] = $4; peer[$1, $2] = $3 }
    !(($1, $2) in seen) { seen[$1, $2] = 1
      if (!($2 in op_seen)) { op_seen[$2] = 1; ops[++nops] = $2 }
      if (!($1 in size_seen)) { size_seen[$1] = 1; sizes[++nsizes] = $1 } }
    END {
      if (format == "md") {
        print "listwise-cli against the fastest peer (median wall s); growth x10 is its time over its time at a tenth of the lines:"
        print ""
        print "| operation | lines | listwise s | fastest peer | peer s | ratio | peak / input | growth x10 |"
        print "|---|---:|---:|---|---:|---:|---:|---:|"
      } else {
        print "listwise-cli against the fastest peer (median wall s; growth: time over time at a tenth of the lines):"
        printf "%-15s %9s %11s %-20s %8s %6s %8s %7s\n", "operation", "lines", "listwise s", "fastest peer", "peer s", "ratio", "x input", "growth"
      }
      for (o = 1; o <= nops; o++)
        for (z = 1; z <= nsizes; z++) {
          op = ops[o]; n = sizes[z]
          if (!((n, op) in seen)) continue
          own = (n, op) in cli ? sprintf("%.3f", cli[n, op]) : (n, op) in failed ? failed[n, op] : "-"
          name = (n, op) in peer ? peer[n, op] : "-"
          theirs = (n, op) in best ? sprintf("%.3f", best[n, op]) : "-"
          ratio = ((n, op) in cli && (n, op) in best && best[n, op] > 0) ? sprintf("%.2f", cli[n, op] / best[n, op]) : "-"
          mult = (n, op) in peak ? sprintf("%.1f", peak[n, op]) : "-"
          small = n / 10
          growth = ((n, op) in cli && (small, op) in cli && cli[small, op] > 0) ? sprintf("%.1f", cli[n, op] / cli[small, op]) : "-"
          if (format == "md") { gsub(/\|/, "\\|", name); if (name != "-") name = "`" name "`"
            printf "| %s | %s | %s | %s | %s | %s | %s | %s |\n", op, n, own, name, theirs, ratio, mult, growth }
          else printf "%-15s %9s %11s %-20s %8s %6s %8s %7s\n", op, n, own, name, theirs, ratio, mult, growth
        }
    }' "$results"
}

# The headline: per size and job, listwise-cli's median against DuckDB's and
# Polars' and its ratio to the faster of them (to the one that does the job,
# for merge), listwise-cli's peak memory over its input, and `cat` of the same
# input with listwise-cli's time over it.
peers_table() {
  local duck_head="DuckDB" polars_head="Polars"
  [[ -z $duckdb_tool ]] || duck_head="DuckDB $duckdb_version, $duckdb_threads threads"
  [[ -z $polars_tool ]] || polars_head="Polars $polars_version, $polars_threads threads"
  awk -F'\t' -v format="$1" -v duck="$duckdb_tool" -v polars="$polars_tool" \
    -v duck_head="$duck_head" -v polars_head="$polars_head" '
    function secs(key) { return (key in t) ? sprintf("%.3f", t[key]) (format == "md" ? " s" : "") : (key in bad) ? bad[key] : "-" }
    function ratio(a, b, digits) { return (a in t && b in t && t[b] > 0) ? sprintf("%." digits "f", t[a] / t[b]) : "-" }
    function lines(n,   p, k) { p = n; k = 0; while (p >= 10 && p % 10 == 0) { p /= 10; k++ }
      return (p == 1 && k > 0) ? "10^" k : n }
    { who = $3 == "listwise-cli" ? "lw" : $3 == "cat" ? "cat" : (duck != "" && $3 == duck) ? "duck" : (polars != "" && $3 == polars) ? "polars" : ""
      if (who == "") next
      if ($7 == "ok") t[$1, $2, who] = $4; else bad[$1, $2, who] = $7
      if ((who == "duck" || who == "polars") && $7 == "ok" && (!(($1, $2, "peer") in t) || $4 < t[$1, $2, "peer"])) t[$1, $2, "peer"] = $4
      if (who == "lw" && $7 == "ok") peak[$1, $2] = sprintf("%.2f", $5 * 1024 / $6)
      if (!($1 in seen)) { seen[$1] = 1; sizes[++nsizes] = $1 } }
    END {
      if (format == "md") {
        print "| lines | job | Listwise | " duck_head " | " polars_head " | ratio | peak / input | cat | Listwise / cat |"
        print "|---:|---|---:|---:|---:|---:|---:|---:|---:|"
      } else {
        printf "%-6s %-15s %9s %9s %9s %6s %13s %9s %9s\n", "lines", "job", "Listwise", "DuckDB", "Polars", "ratio", "peak / input", "cat", "x cat"
      }
      njobs = split("dedupe count only-in-second in-both merge", jobs, " ")
      for (z = 1; z <= nsizes; z++)
        for (j = 1; j <= njobs; j++) {
          n = sizes[z]; op = jobs[j]
          if (!((n, op, "lw") in t || (n, op, "lw") in bad || (n, op, "peer") in t)) continue
          lw = secs(n SUBSEP op SUBSEP "lw"); dk = secs(n SUBSEP op SUBSEP "duck"); pl = secs(n SUBSEP op SUBSEP "polars")
          ct = secs(n SUBSEP op SUBSEP "cat")
          r = ratio(n SUBSEP op SUBSEP "lw", n SUBSEP op SUBSEP "peer", 2)
          rc = ratio(n SUBSEP op SUBSEP "lw", n SUBSEP op SUBSEP "cat", 1)
          mult = (n, op) in peak ? peak[n, op] : "-"
          if (format == "md") printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", lines(n), op, lw, dk, pl, r, mult, ct, rc
          else printf "%-6s %-15s %9s %9s %9s %6s %13s %9s %9s\n", lines(n), op, lw, dk, pl, r, mult, ct, rc
        }
    }' "$results"
}

# Lists of 2^E items that all share one table hash against lists of the same
# shape whose items spread over the hash space (gen_colliding.py): listwise-cli
# alone, every operation, the two kinds alternating round by round.
colliding_report=$workdir/colliding.tsv   # lines, op, colliding s, random s, ms, ms
: >"$colliding_report"
if [[ -n $collisions ]] && ((!peers_only)); then
  gen_c=$(sha1sum "$here/gen_colliding.py" | cut -c1-8)
  for e in $collisions; do
    n=$((1 << e))
    for kind in colliding random; do
      C1=$workdir/data/$kind-first-$n-$gen_c.txt
      C2=$workdir/data/$kind-second-$n-$gen_c.txt
      if [[ ! -f $C1 || ! -f $C2 ]]; then
        flag=""
        [[ $kind == random ]] && flag=--random
        python3 "$here/gen_colliding.py" "$n" "$C1" "$C2" $flag
      fi
    done
    r=${reps:-5}
    for op in $operations; do
      declare -A times=() ms=()
      for ((round = 1; round <= r; round++)); do
        for kind in colliding random; do
          C1=$workdir/data/$kind-first-$n-$gen_c.txt
          C2=$workdir/data/$kind-second-$n-$gen_c.txt
          start=$(date +%s%N)
          rc=0
          timeout "$timeout_s" "$cli" "$op" "$C1" "$C2" --output "$workdir/out/$kind-$op-$n.txt" \
            2>"$workdir/tmp/err" || rc=$?
          end=$(date +%s%N)
          ((rc == 0)) || echo "$kind $op $n: exit $rc" >>"$log"
          times[$kind]+="$(awk -v ns=$((end - start)) 'BEGIN { printf "%.4f", ns / 1e9 }') "
          ms[$kind]+="$(grep -oE '[0-9-]+ (мсек|ms)$' "$workdir/tmp/err" | grep -o '^[0-9-]*' || echo nan) "
        done
      done
      # shellcheck disable=SC2086 # one time per word
      printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$n" "$op" \
        "$(printf '%s\n' ${times[colliding]} | median)" "$(printf '%s\n' ${times[random]} | median)" \
        "$(printf '%s\n' ${ms[colliding]} | median)" "$(printf '%s\n' ${ms[random]} | median)" \
        >>"$colliding_report"
      unset times ms
      echo "  2^$e colliding $op done" >&2
    done
    rm -f "$workdir/out/"*"-$n.txt"
  done
fi

colliding_table() {
  awk -F'\t' -v format="$1" '
    BEGIN {
      if (format == "md") {
        print "| lines | operation | colliding s | random s | x random | colliding ms | random ms |"
        print "|---:|---|---:|---:|---:|---:|---:|"
      } else {
        printf "%-9s %-15s %12s %9s %9s %13s %10s\n", "lines", "operation", "colliding s", "random s", "x random", "colliding ms", "random ms"
      }
    }
    { ratio = $4 > 0 ? sprintf("%.2f", $3 / $4) : "-"
      if (format == "md") printf "| %s | %s | %.3f | %.3f | %s | %s | %s |\n", $1, $2, $3, $4, ratio, $5, $6
      else printf "%-9s %-15s %12.3f %9.3f %9s %13s %10s\n", $1, $2, $3, $4, ratio, $5, $6 }' "$colliding_report"
}

peers_intro="median wall s of the rounds side by side; ratio: Listwise over the faster of DuckDB and Polars (DuckDB does not merge); peak / input: listwise-cli's max RSS over its input; cat: \`cat\` of the same input (both lists for only-in-second, in-both and merge) into /dev/null"
echo
if [[ -n $sizes ]]; then
  if ((!peers_only)); then
    echo "listwise-cli against DuckDB, Polars and the read floor ($peers_intro):"
    peers_table text
    [[ -z $duckdb_note ]] || echo "$duckdb_note"
    [[ -z $polars_note ]] || echo "$polars_note"
    echo "$harness_note"
    echo
    summary text
    echo
  fi
  report text
fi
if [[ -s $colliding_report ]]; then
  echo
  echo "items of one table hash against random items of the same shape (median wall s; ms of the operation alone):"
  colliding_table text
fi
[[ -z $generation_note ]] || echo "${generation_note%; }"
echo "awk is $(readlink -f "$(command -v awk)"); log and outputs under $workdir"
if [[ -n $markdown ]]; then
  {
    if [[ -n $sizes ]]; then
      if ((!peers_only)); then
        echo "listwise-cli against DuckDB, Polars and the read floor ($peers_intro):"
        echo
        peers_table md
        echo
        [[ -z $duckdb_note ]] || echo "$duckdb_note."
        [[ -z $polars_note ]] || echo "$polars_note."
        echo "${harness_note^}."
        echo
        summary md
        echo
      fi
      report md
    fi
    if [[ -s $colliding_report ]]; then
      echo
      echo "Items that all share one table hash against random items of the same shape (listwise-cli, median wall seconds and milliseconds of the operation alone):"
      echo
      colliding_table md
    fi
    echo
    [[ -z $generation_note ]] || echo "${generation_note%; }."
    if [[ -n $sizes ]]; then
      echo "awk is $(readlink -f "$(command -v awk)"); median of ${reps:-5 (3 at 10^7)} rounds; peak MB is the max RSS of the largest process."
    else
      echo "Median of ${reps:-5} rounds."
    fi
  } >"$markdown"
fi
