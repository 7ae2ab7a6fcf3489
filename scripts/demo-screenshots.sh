#!/usr/bin/env bash
# demo-screenshots.sh [--modbus]
# Runs the demo on a virtual X display in a fresh run folder, presses «Старт», waits for the
# drifting battery to reach its emergency and saves a picture of every page into docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
mode=${1:-}
prefix=docs/demo${mode:+-modbus}
run=$(mktemp -d)
display=:96
Xvfb $display -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
trap 'kill $demo $xvfb 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$run"' EXIT
sleep 1
export DISPLAY=$display QT_QPA_PLATFORM=xcb ORVIK_RUN_DIR=$run
scripts/demo.sh $mode >"$run.log" 2>&1 & demo=$!
for _ in $(seq 300); do
  xdotool search --name "ОРВИК-Монитор" >/dev/null 2>&1 && break
  sleep 0.2
done
sleep 2
click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-1}"; }
shot() { import -window root -crop 1166x557+0+0 "$root/$prefix-$1.png"; echo "saved $prefix-$1.png"; }
click 55 61 14       # «Старт», then three or more sweeps
shot values
# While running, the group captions carry their means and the page buttons sit further right.
click 588 61 2       # «Отклонения»
shot deviations
click 703 61 2       # «Журнал»
shot journal
click 789 61 2       # «Настройки»
shot settings
echo "journal of the run:"
grep -c '<p>' "$run/journal.html" || true
