#!/usr/bin/env bash
# Sets up, builds and starts the monitor in its own run folder (build/run/), where it
# keeps settings.xml and the journal. Extra arguments go to the program.
#
# Without hardware: the device simulator (tools/orvik-sim) answers as 16 native modules on
# a pseudo-terminal, offered to the monitor as build/run/orvik-sim.tty (the last item of the
# "COM-порт" selector). Faults can be sent while it runs, for example
#   echo "silent 3" > build/run/orvik-sim.ctl
# ORVIK_SIM_ARGS passes options to the simulator (see tools/orvik-sim --help);
# ORVIK_NO_SIM=1 leaves it out.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/setup-deps
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target orvik-monitor
mkdir -p build/run
cd build/run
echo "demo: running in $(pwd)"

if [ "${ORVIK_NO_SIM:-0}" = 1 ]; then
  exec "$root/build/orvik-monitor" "$@"
fi

line="$(pwd)/orvik-sim.tty"
control="$(pwd)/orvik-sim.ctl"
rm -f "$line"
# shellcheck disable=SC2086 # the options are meant to split
/usr/bin/python3 "$root/tools/orvik-sim" --link "$line" --control "$control" ${ORVIK_SIM_ARGS:-} \
  >orvik-sim.out 2>orvik-sim.log &
sim=$!
# shellcheck disable=SC2317 # called by the trap
stop_sim() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
}
trap stop_sim EXIT

for _ in $(seq 100); do
  [ -e "$line" ] && break
  kill -0 "$sim" 2>/dev/null || { cat orvik-sim.log >&2; exit 1; }
  sleep 0.05
done
[ -e "$line" ] || { echo "demo: the simulator did not come up" >&2; exit 1; }
echo "demo: simulator on $(head -n1 orvik-sim.out) as $line, faults to $control"

status=0
"$root/build/orvik-monitor" --port "$line" "$@" || status=$?
exit "$status"
