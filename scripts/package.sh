#!/usr/bin/env bash
# Makes the Debian package from the Release build (build-release/, made by scripts/release.sh
# when it is not there) and checks it: its name, dependencies and files, and that the programs
# unpacked from it run a check against the packaged engine-sim with the packaged plug-ins,
# found by rankcheck with no option. The package is left in build-release/.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build-release/CPackConfig.cmake ] || scripts/release.sh
cmake --build build-release -j"${RC_JOBS:-2}"
(cd build-release && rm -f rankcheck_*.deb && cpack -G DEB)
deb=$(ls build-release/rankcheck_*.deb)
echo "package: $deb"

fail() { echo "package check: $*" >&2; exit 1; }
[ "$(dpkg-deb -f "$deb" Package)" = rankcheck ] || fail "the package is not named rankcheck"
dpkg-deb -f "$deb" Depends | grep -q libcurl || fail "Depends lacks libcurl"
for file in ./usr/bin/rankcheck ./usr/bin/engine-sim ./usr/lib/rankcheck/libquillon.so \
            ./usr/lib/rankcheck/libverrin.so ./usr/include/host_list_control.h; do
  dpkg-deb -c "$deb" | awk '{print $6}' | grep -qx "$file" || fail "$file is not in the package"
done

work=$(mktemp -d)
source scripts/lib/engine-sim.sh
cleanup() {
  stop_engine_sim
  rm -rf "$work"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$work/root"
cat > "$work/scenario.json" <<'JSON'
{"defaultResults": 12,
 "keywords": {"fresh bread": {"quillon": {"sites": [{"rank": 2, "link": "http://www.my-bakery.example/"}]},
                              "verrin": {"sites": [{"rank": 3, "link": "http://www.my-bakery.example/"}]}}}}
JSON
start_engine_sim "$work/root/usr/bin/engine-sim" "$work/scenario.json" "$work" ||
  fail "engine-sim from the package did not start"
mkdir "$work/job"
printf 'fresh bread\r\n' > "$work/job/keywords.lst"
printf 'www.my-bakery.example\r\n' > "$work/job/urls.lst"
write_proxy_def "$work/job/proxy.def" "$port"
"$work/root/usr/bin/rankcheck" run all --dir "$work/job" > "$work/run.out" ||
  fail "rankcheck from the package failed: $(cat "$work/run.out")"
report=$("$work/root/usr/bin/rankcheck" report --dir "$work/job" --format csv)
for expected in "fresh bread,www.my-bakery.example,Quillon,2,ranked," \
                "fresh bread,www.my-bakery.example,Verrin,3,ranked,"; do
  grep -qF "$expected" <<<"$report" ||
    fail "the report of the packaged programs lacks \"$expected\": $report"
done
echo "package check: $deb holds rankcheck, engine-sim and both plug-ins, and they run"
