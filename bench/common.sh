# shellcheck shell=bash
# Sourced by the benchmarks that time listwise-cli alone on lists made by gen_lists.py: moves
# to the repository's top folder and gives the options they all take, with their defaults, the
# making of the lists and the median.
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit
# shellcheck disable=SC2034 # read by the scripts that source this
lines=1000000 reps=5 cli=./build/cli/listwise-cli workdir=/tmp/listwise-bench

# bench_options USAGE ARG...: reads --lines, --reps, --cli and --workdir into lines, reps, cli
# and workdir. Another option goes to the script's own bench_option, called with the arguments
# left, which takes it and its value or returns 1; an option neither takes prints the usage
# line and exits 2.
# shellcheck disable=SC2034 # read by the scripts that source this
bench_options() {
  local usage=$1
  shift
  while [ $# -gt 0 ]; do
    case $1 in
      --lines) lines=$2 ;;
      --reps) reps=$2 ;;
      --cli) cli=$2 ;;
      --workdir) workdir=$2 ;;
      *)
        if ! declare -F bench_option >/dev/null || ! bench_option "$@"; then
          echo "usage: $0 $usage" >&2
          exit 2
        fi
        ;;
    esac
    shift 2
  done
}

# bench_lists FIRST SECOND: two lists of $lines lines, unless FIRST is already there.
bench_lists() {
  if [ ! -s "$1" ]; then
    python3 bench/gen_lists.py "$lines" "$1" "$2" >/dev/null
  fi
}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
