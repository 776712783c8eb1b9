#!/usr/bin/env bash
# Checks the include layering, installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
# Under a second, with nothing but bash, git and awk: a breach of the layering fails before the build.
scripts/check-layering.sh
scripts/check-layering.sh --self-test
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRC_WERROR=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2
