#!/usr/bin/env bash
# Sets up, builds and starts the monitor in its own run folder (build/run/), where it
# keeps settings.xml and the journal. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/setup-deps
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target orvik-monitor
mkdir -p build/run
cd build/run
echo "demo: running in $(pwd)"
exec "$root/build/orvik-monitor" "$@"
