#!/usr/bin/env bash
# The demo: installs what is missing, builds rankcheck, the two plug-ins and engine-sim, starts
# engine-sim with the example scenario on a free loopback port, runs both engines over the
# example keywords in a scratch folder (reaching the simulator through proxy.def), prints the
# rank report and writes the HTML report. Once built, the run takes a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
examples=examples

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j2 --target rankcheck quillon verrin engine-sim
rankcheck=$root/build/host/rankcheck
enginesim=$root/build/tools/engine-sim/engine-sim

work=$(mktemp -d "${TMPDIR:-/tmp}/rankcheck-demo.XXXXXX")
cp "$examples/keywords.lst" "$examples/urls.lst" "$work/"

source scripts/lib/engine-sim.sh
trap 'stop_engine_sim' EXIT
start_engine_sim "$enginesim" "$examples/scenario.json" "$work" || exit 1
# The plug-ins send their requests to engine-sim as their proxy.
write_proxy_def "$work/proxy.def" "$port"

echo
echo "== engine-sim serves the example scenario on 127.0.0.1:$port; working folder $work"
echo "== rankcheck run all --dir $work"
"$rankcheck" run all --dir "$work"
echo
echo "== rankcheck report --dir $work"
"$rankcheck" report --dir "$work"
echo
"$rankcheck" report --dir "$work" --format html --output "$work/report.html" 2> /dev/null
echo "HTML report: $work/report.html"
echo "Try also: $rankcheck report --dir $work --format csv"
