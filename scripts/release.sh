#!/usr/bin/env bash
# The Release build as a user makes it (-O3, no debug information) in build-release/, with
# warnings as errors as in every CI build, and every test run against it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DRC_WERROR=ON
cmake --build build-release -j"${RC_JOBS:-2}"
ctest --test-dir build-release --output-on-failure -j"${RC_JOBS:-2}"
