#!/usr/bin/env bash
# The main job: installs what is missing and builds the plug-ins and tools.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
echo "built: $(ls build/plugin/*.so build/host/rankcheck build/tools/engine-sim/engine-sim 2>/dev/null | tr '\n' ' ')"
