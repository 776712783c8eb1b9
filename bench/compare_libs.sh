#!/usr/bin/env bash
# Compares two builds of the plug-in libraries end to end: runs bench_e2e on each in turn, ROUNDS
# times, so that both meet the same changes in the machine's load, and prints one result line
# per run. OLD and NEW are folders holding libquillon.so and libverrin.so (a build's plugin/).
#
#   bench/compare_libs.sh OLD NEW [ROUNDS (3)] [KEYWORDS (40)] [BUILD (build)] [bench_e2e options]
set -euo pipefail
old=${1:?usage: compare_libs.sh OLD NEW [ROUNDS] [KEYWORDS] [BUILD]}
new=${2:?usage: compare_libs.sh OLD NEW [ROUNDS] [KEYWORDS] [BUILD]}
rounds=${3:-3}
keywords=${4:-40}
bench="${5:-build}/bench/bench_e2e"
shift $(($# < 5 ? $# : 5))
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((i = 1; i <= rounds; i++)); do
  for dir in "$old" "$new"; do
    "$bench" --keywords "$keywords" --quillon-lib "$dir/libquillon.so" \
      --verrin-lib "$dir/libverrin.so" "$@" | sed -n "s|^result|$dir|p"
  done
done
