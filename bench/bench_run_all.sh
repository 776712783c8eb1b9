#!/usr/bin/env bash
# `rankcheck run all` on the example project: the two engines at the same time against the two
# runs one after the other. engine-sim serves examples/scenario.json on a free loopback port; each
# measured run starts in a fresh copy of the example folder (no ledger, no result files), so every
# run does the same work. The runs alternate (both, then one after the other, then both ...) so
# that both forms meet the same machine load; the figures are medians over the repeats.
#
#   bench/bench_run_all.sh [BUILD_DIR] [REPEATS]      (defaults: build, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
repeats=${2:-5}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
rankcheck=$build/host/rankcheck
enginesim=$build/tools/engine-sim/engine-sim
for f in "$rankcheck" "$enginesim"; do
  [ -x "$f" ] || { echo "bench_run_all: $f is missing; build it first (cmake --build $build -j2)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/bench-run-all.XXXXXX")
source scripts/lib/engine-sim.sh
trap 'stop_engine_sim; rm -rf "$work"' EXIT
start_engine_sim "$enginesim" examples/scenario.json "$work" || exit 1

# A fresh copy of the example project reaching engine-sim through proxy.def.
fresh() {
  local dir="$work/$1"
  rm -rf "$dir"
  mkdir -p "$dir"
  cp examples/keywords.lst examples/urls.lst "$dir/"
  write_proxy_def "$dir/proxy.def" "$port"
  echo "$dir"
}
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {print b - a}'; }
# Runs rankcheck; any exit status other than 0 (all done) spoils the measurement.
rc() {
  "$rankcheck" "$@" > /dev/null 2> "$work/last.err" ||
    { echo "bench_run_all: rankcheck $* failed:" >&2; cat "$work/last.err" >&2; exit 1; }
}

both=() sum=() sequential=() slower=()
for i in $(seq "$repeats"); do
  d=$(fresh both); t0=$(now); rc run all --dir "$d"; t1=$(now)
  both+=("$(elapsed "$t0" "$t1")")
  d=$(fresh one); t0=$(now); rc run quillon --dir "$d"; tm=$(now); rc run verrin --dir "$d"; t1=$(now)
  slower+=("$(awk -v a="$t0" -v m="$tm" -v b="$t1" 'BEGIN {q = m - a; v = b - m; print (q > v ? q : v)}')")
  sum+=("$(elapsed "$t0" "$t1")")
  d=$(fresh seq); t0=$(now); rc run all --sequential --dir "$d"; t1=$(now)
  sequential+=("$(elapsed "$t0" "$t1")")
  printf 'run %d: run all %.2f s, quillon then verrin %.2f s, run all --sequential %.2f s\n' \
    "$i" "${both[-1]}" "${sum[-1]}" "${sequential[-1]}"
done

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }
mb=$(median "${both[@]}") ms=$(median "${sum[@]}") mq=$(median "${sequential[@]}")
ml=$(median "${slower[@]}")
printf '\nmedian of %d: run all %.2f s; quillon then verrin %.2f s; run all --sequential %.2f s\n' \
  "$repeats" "$mb" "$ms" "$mq"
printf 'the slower engine alone %.2f s (the least run all can take)\n' "$ml"
printf 'run all / (quillon then verrin) = %.2f (goal <= 0.60)\n' "$(awk -v a="$mb" -v b="$ms" 'BEGIN {print a / b}')"
