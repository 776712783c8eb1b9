#!/usr/bin/env bash
# Builds the project with a sanitizer in its own build directory and runs the tests under it.
#   scripts/sanitize.sh address   AddressSanitizer + UndefinedBehaviorSanitizer, every test
#   scripts/sanitize.sh thread    ThreadSanitizer, the threaded and end-to-end tests
# Any report fails the run. Benchmarks are not built: timing means nothing under a sanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

kind="${1:-}"
case "$kind" in
  address)
    dir=build-asan
    labels=""
    ;;
  thread)
    dir=build-tsan
    labels="threaded|e2e"
    ;;
  *)
    echo "usage: $0 address|thread" >&2
    exit 2
    ;;
esac

jobs="${RC_JOBS:-2}"

# The options also apply while gtest_discover_tests runs the test binaries during the build.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
# LeakSanitizer of gcc 12 on this glibc crashes ("Tracer caught signal 11") while it walks the
# dynamic thread-local storage that the libraries loaded with a plug-in leave on the main thread;
# nothing of ours keeps a heap pointer only in thread-local storage, so that storage is not walked.
# OpenSSL's per-thread state, held there alone, would then read as a leak: lsan.supp names it.
# The count of suppressed leaks is not printed: tests compare what rankcheck writes to stderr.
export LSAN_OPTIONS="use_tls=0:print_suppressions=0:suppressions=$PWD/scripts/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:history_size=4:suppressions=$PWD/scripts/tsan.supp"

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRC_SANITIZE="$kind" -DRC_BUILD_BENCH=OFF -DRC_WERROR=ON
cmake --build "$dir" -j"$jobs"
if [ -n "$labels" ]; then
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" -L "$labels"
else
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
fi
