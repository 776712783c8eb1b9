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

# engine-sim prints its port on one line once it accepts connections.
"$enginesim" --port 0 --scenario "$examples/scenario.json" > "$work/engine-sim.port" \
  2> "$work/engine-sim.log" &
sim_pid=$!
trap 'kill "$sim_pid" 2> /dev/null && wait "$sim_pid" 2> /dev/null || true' EXIT
port=""
for _ in $(seq 100); do
  port=$(head -n 1 "$work/engine-sim.port" 2> /dev/null || true)
  [ -n "$port" ] && break
  kill -0 "$sim_pid" 2> /dev/null || { cat "$work/engine-sim.log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { echo "engine-sim did not start; see $work/engine-sim.log" >&2; exit 1; }
# A proxy without credentials at 127.0.0.1:port: the plug-ins send their requests there.
printf '1\r\n0\r\n127.0.0.1\r\n%s\r\n' "$port" > "$work/proxy.def"

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
