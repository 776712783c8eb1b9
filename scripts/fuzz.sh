#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a while.
#   scripts/fuzz.sh                  every target for 20 s (what CI does)
#   scripts/fuzz.sh 600              every target for 600 s
#   scripts/fuzz.sh 600 fuzz_url_codec fuzz_string_list
# RC_FUZZ_PARALLEL=2 runs two targets at a time (never more: the machine has two cores).
# Each target starts from its seed corpus fuzz/corpus/<target>/ (read only) and keeps what it
# finds in build-fuzz/corpus/<target>/; a crash, a failed property check, a leak or an input
# slower than 10 s is saved as build-fuzz/artifacts/<target>-crash-... (or -timeout-, -leak-)
# and fails the run. The closing table gives the executions per target.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

seconds="${1:-20}"
shift || true
all_targets=(fuzz_quillon_links fuzz_verrin_links fuzz_verrin_next_page fuzz_url_codec
             fuzz_string_list fuzz_proxy_file fuzz_progress_file fuzz_job_lines
             fuzz_status_lines fuzz_terminal_text)
targets=("$@")
((${#targets[@]})) || targets=("${all_targets[@]}")
parallel="${RC_FUZZ_PARALLEL:-1}"
((parallel >= 1 && parallel <= 2)) || { echo "RC_FUZZ_PARALLEL must be 1 or 2" >&2; exit 2; }

scripts/install-deps.sh
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DRC_BUILD_FUZZ=ON -DRC_BUILD_TESTS=OFF -DRC_BUILD_BENCH=OFF \
  -DRC_WERROR=ON
cmake --build build-fuzz -j"${RC_JOBS:-2}" --target "${targets[@]}"

symbolizer=$(command -v llvm-symbolizer || command -v llvm-symbolizer-14 || true)
[ -n "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH="$symbolizer"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

max_len() {
  case "$1" in
    fuzz_quillon_links | fuzz_verrin_links | fuzz_verrin_next_page) echo 65536 ;;
    *) echo 4096 ;;
  esac
}

run_target() {
  local t="$1" work="build-fuzz/corpus/$1" log="build-fuzz/logs/$1.log"
  mkdir -p "$work" build-fuzz/artifacts build-fuzz/logs
  "build-fuzz/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    -max_len="$(max_len "$t")" -dict="fuzz/dict/$t.dict" -print_final_stats=1 \
    -artifact_prefix="$root/build-fuzz/artifacts/$t-" "$work" "fuzz/corpus/$t" >"$log" 2>&1
}

echo "fuzzing ${#targets[@]} target(s) for $seconds s each, $parallel at a time"
pids=()
names=()
status=()
# Waits for the oldest running target and notes its exit status.
wait_one() {
  local rc
  wait "${pids[0]}" && rc=0 || rc=$?
  status+=("${names[0]}=$rc")
  pids=("${pids[@]:1}")
  names=("${names[@]:1}")
}
for t in "${targets[@]}"; do
  ((${#pids[@]} < parallel)) || wait_one
  run_target "$t" &
  pids+=("$!")
  names+=("$t")
done
while ((${#pids[@]})); do wait_one; done

passed=0
failed=0
printf '%-24s %12s %10s %8s  %s\n' target executions "exec/s" corpus result
for t in "${targets[@]}"; do
  log="build-fuzz/logs/$t.log"
  rc=""
  for s in "${status[@]}"; do [ "${s%%=*}" = "$t" ] && rc="${s#*=}"; done
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  corpus=$(find "build-fuzz/corpus/$t" -type f | wc -l)
  if [ "$rc" = 0 ]; then
    result=ok
    passed=$((passed + 1))
  else
    result="FAILED (exit $rc, log $log)"
    failed=$((failed + 1))
  fi
  printf '%-24s %12s %10s %8s  %s\n' "$t" "${execs:-?}" "${speed:-?}" "$corpus" "$result"
done
for t in "${targets[@]}"; do
  if grep -qE '^==[0-9]+==|ERROR: libFuzzer|property violated' "build-fuzz/logs/$t.log"; then
    echo "---- $t: last lines of build-fuzz/logs/$t.log"
    tail -40 "build-fuzz/logs/$t.log"
  fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
