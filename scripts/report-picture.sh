#!/usr/bin/env bash
# Renders the README's picture docs/report.png: the example project (examples/) checked on three
# days against engine-sim, where the first two days' scenarios place some sites elsewhere than
# examples/scenario.json does (the third day), then the HTML report of that ledger taken by
# headless Chromium at 1400 px wide. The checks run a few seconds apart; their dates are then
# set a day apart in the ledger, so that the picture shows three days of movement.
#   scripts/report-picture.sh [output.png]     (default docs/report.png)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-docs/report.png}
[[ "$out" = /* ]] || out=$root/$out

scripts/install-deps.sh
if ! command -v sqlite3 > /dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends sqlite3
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j2 --target rankcheck quillon verrin engine-sim
rankcheck=$root/build/host/rankcheck
enginesim=$root/build/tools/engine-sim/engine-sim

# The project folder is called "bakery", which is what the report's heading shows.
base=$(mktemp -d "${TMPDIR:-/tmp}/rankcheck-picture.XXXXXX")
work=$base/bakery
mkdir "$work"
cp examples/keywords.lst examples/urls.lst "$work/"
source scripts/lib/engine-sim.sh
cleanup() {
  stop_engine_sim
  rm -rf "$base"
}
trap cleanup EXIT

# The sites that move: "rank": day 1 -> day 2 -> examples/scenario.json.
moves=(
  '"rank": 3, "link": "http://www.my-bakery.example/"|9|5'
  '"rank": 24, "link": "www.my-bakery.example/sourdough/"|41|30'
  '"rank": 14, "link": "http://shop.rye-and-roll.example/recipes/rye/"|8|10'
  '"rank": 4, "link": "http://shop.rye-and-roll.example/baguette/"|6|5'
  '"rank": 3, "link": "www.my-bakery.example/pastry/"|15|7'
  '"rank": 22, "link": "http://www.sourdough-corner.example/flour/"|35|28'
)
scenario_of_day() {  # day 1, 2 or 3
  local script="" move from rest first second now rank
  for move in "${moves[@]}"; do
    IFS='|' read -r from first second <<< "$move"
    now=${from#\"rank\": }
    now=${now%%,*}
    rank=$([ "$1" = 1 ] && echo "$first" || { [ "$1" = 2 ] && echo "$second" || echo "$now"; })
    rest=${from#*,}
    script+="s|${from}|\"rank\": ${rank},${rest}|;"
  done
  sed "$script" examples/scenario.json
}

for day in 1 2 3; do
  scenario_of_day "$day" > "$work/scenario-$day.json"
  start_engine_sim "$enginesim" "$work/scenario-$day.json" "$work" || exit 1
  write_proxy_def "$work/proxy.def" "$port"
  before=0
  [ -f "$work/rankcheck.db" ] && before=$(sqlite3 "$work/rankcheck.db" 'SELECT coalesce(max(id), 0) FROM checks')
  "$rankcheck" run all --dir "$work" > /dev/null
  stop_engine_sim
  when=$(date -u -d "-$((3 - day)) days" +%Y-%m-%dT06:%%02d:00Z)
  sqlite3 "$work/rankcheck.db" "UPDATE checks SET
    started_at = printf('$when', id % 60), ended_at = printf('$when', id % 60 + 1)
    WHERE id > $before"
done

(cd "$base" && "$rankcheck" report --dir bakery --format html --output bakery/report.html 2> /dev/null)
mkdir -p "$(dirname "$out")"
profile=$(mktemp -d "${TMPDIR:-/tmp}/rankcheck-chromium.XXXXXX")
timeout 60 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars \
  --user-data-dir="$profile" --window-size=1400,2700 --screenshot="$out" \
  "file://$work/report.html" > /dev/null 2>&1
rm -rf "$profile"
[ -n "${KEEP_REPORT:-}" ] && cp "$work/report.html" "$KEEP_REPORT"
echo "wrote $out"
