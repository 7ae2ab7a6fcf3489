#!/usr/bin/env bash
# Sets up, builds and starts the monitor in its own run folder (build/run/), where it
# keeps settings.xml and the journal. Extra arguments go to the program.
#
# Without hardware: the device simulator (tools/orvik-sim) answers as 16 native modules on
# a pseudo-terminal, offered to the monitor as build/run/orvik-sim.tty (the last item of the
# "COM-порт" selector). Faults can be sent while it runs, for example
#   echo "silent 3" > build/run/orvik-sim.ctl
# Loss of communication: "silent-for 0 20" silences module 0 (group 1) for 20 s; after three
# sweeps without an answer the monitor raises «Нет связи: МСД 00», and journals the return.
# "move-all 1.5" moves every battery up by 1.5 V together (for the absolute limits).
# ORVIK_SIM_ARGS passes options to the simulator (see tools/orvik-sim --help);
# ORVIK_NO_SIM=1 leaves it out.
#
# scripts/demo.sh --modbus: the same against six simulated Modbus devices (addresses 1..6),
# in build/run-modbus/, whose settings.xml (written when there is none) selects the Modbus
# mode with six groups of batteries. Faults as above, for example
#   echo "late 3" > build/run-modbus/orvik-sim.ctl      echo "drift 2 5 volt" > ...
# (see tools/orvik-sim --modbus --help).
#
# scripts/demo.sh --mqtt (also with --modbus): a local MQTT broker on 127.0.0.1 (port
# ORVIK_MQTT_PORT, default 18830) beside the simulator, and the monitor publishing to it as
# the room "demo", in build/run-mqtt/ (build/run-modbus-mqtt/). The script prints the
# mosquitto_sub command that shows the room's messages.
#
# scripts/demo.sh --modbus-tcp (also with --modbus and --mqtt): the monitor serves the room
# read-only over Modbus TCP on 127.0.0.1 (port ORVIK_MODBUS_TCP_PORT, default 15020), in
# build/run-tcp/ (build/run-modbus-tcp/, ...). The script prints the mbpoll command that reads
# the first batteries' voltages (see docs/modbus-tcp.md).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
mode=native
mqtt=0
tcp=0
while [ $# -gt 0 ]; do
  case "$1" in
    --modbus) mode=modbus ;;
    --mqtt) mqtt=1 ;;
    --modbus-tcp) tcp=1 ;;
    *) break ;;
  esac
  shift
done
scripts/setup-deps --demo
# A new tree leaves out the tests and benchmarks, whose libraries the demo does not install;
# a tree scripts/test.sh configured keeps them.
options=()
[ -e build/CMakeCache.txt ] || options=(-DBUILD_TESTING=OFF -DORVIK_BENCH=OFF)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build build -j "$(nproc)" --target orvik-monitor manual
suffix=""
[ "$mode" = modbus ] && suffix="-modbus"
[ "$mqtt" = 1 ] && suffix="$suffix-mqtt"
[ "$tcp" = 1 ] && suffix="$suffix-tcp"
run=${ORVIK_RUN_DIR:-build/run$suffix}
mkdir -p "$run"
cd "$run"
echo "demo: running in $(pwd)"

# Modbus mode on the simulator's line: six groups (three rows of the table each for groups 1..4,
# two rows each for 5 and 6), device addresses 1..6, every group from the device's channel 0.
write_modbus_settings() {
  # No XML declaration: the program takes the first node as the settings element.
  echo '<!DOCTYPE settings>'
  echo '<settings>'
  echo " <com_port>$1</com_port>"
  echo ' <mode>true</mode>'
  local msd mkp group
  for msd in $(seq 0 15); do
    if [ "$msd" -lt 12 ]; then group=$((msd / 3 + 1)); else group=$(((msd - 12) / 2 + 5)); fi
    for mkp in $(seq 0 7); do
      echo " <group_id msd=\"$msd\" mkp=\"$mkp\">$group</group_id>"
    done
  done
  for group in 1 2 3 4 5 6; do echo " <ModbusAddr$group>$group</ModbusAddr$group>"; done
  for group in 1 2 3 4 5 6; do echo " <Dat$group>0</Dat$group>"; done
  write_limits
  write_mqtt
  write_modbus_tcp
  echo '</settings>'
}

mqtt_port=${ORVIK_MQTT_PORT:-18830}
# With --mqtt: publish to the local broker as the room "demo".
write_mqtt() {
  [ "$mqtt" = 1 ] || return 0
  echo ' <room_name>demo</room_name>'
  echo ' <mqtt_enabled>true</mqtt_enabled>'
  echo ' <mqtt_host>127.0.0.1</mqtt_host>'
  echo " <mqtt_port>$mqtt_port</mqtt_port>"
}

tcp_port=${ORVIK_MODBUS_TCP_PORT:-15020}
# With --modbus-tcp: serve the room on loopback only.
write_modbus_tcp() {
  [ "$tcp" = 1 ] || return 0
  echo ' <modbus_tcp_enabled>true</modbus_tcp_enabled>'
  echo ' <modbus_tcp_address>127.0.0.1</modbus_tcp_address>'
  echo " <modbus_tcp_port>$tcp_port</modbus_tcp_port>"
}

# Absolute limits for the demo's 13.5 V blocks: "move-all 1.0" crosses the warning, 1.5 the emergency.
write_limits() {
  echo ' <volt_abs_high_warning>14.40</volt_abs_high_warning>'
  echo ' <volt_abs_high_emergency>14.80</volt_abs_high_emergency>'
  echo ' <volt_abs_low_warning>12.00</volt_abs_low_warning>'
  echo ' <volt_abs_low_emergency>11.50</volt_abs_low_emergency>'
  echo ' <temp_abs_high_warning>40.0</temp_abs_high_warning>'
  echo ' <temp_abs_high_emergency>50.0</temp_abs_high_emergency>'
}

# Native mode on the simulator's line: modules 0..5 are groups 1..6.
write_native_settings() {
  echo '<!DOCTYPE settings>'
  echo '<settings>'
  echo " <com_port>$1</com_port>"
  echo ' <mode>false</mode>'
  local msd mkp
  for msd in 0 1 2 3 4 5; do
    for mkp in $(seq 0 7); do
      echo " <group_id msd=\"$msd\" mkp=\"$mkp\">$((msd + 1))</group_id>"
    done
  done
  write_limits
  write_mqtt
  write_modbus_tcp
  echo '</settings>'
}

# The sounds and the manual next to the journal, as an installed program has them.
for f in warning.wav crash.wav ORVIK-Monitor_manual.pdf; do
  [ -e "$f" ] || cp "$root/build/$f" .
done

line="$(pwd)/orvik-sim.tty"
control="$(pwd)/orvik-sim.ctl"
sim_mode=()
# One battery drifts away from its group: warning after two sweeps, emergency after three.
default_sim_args="--drift 0:3:volt --drift-step 0.7 --drift-max 2.0"
if [ "$mode" = modbus ]; then
  sim_mode=(--modbus)
  default_sim_args="--drift 1:3:volt --drift-step 0.7 --drift-max 2.0"

  [ -e settings.xml ] || write_modbus_settings "$line" >settings.xml
else
  [ -e settings.xml ] || write_native_settings "$line" >settings.xml
fi

if [ "${ORVIK_NO_SIM:-0}" = 1 ]; then
  exec "$root/build/orvik-monitor" "$@"
fi

rm -f "$line"
# shellcheck disable=SC2086 # the options are meant to split
/usr/bin/python3 "$root/tools/orvik-sim" "${sim_mode[@]}" --link "$line" --control "$control" ${ORVIK_SIM_ARGS:-$default_sim_args} \
  >orvik-sim.out 2>orvik-sim.log &
sim=$!
# shellcheck disable=SC2317 # called by the trap
stop_sim() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
}
broker=""
# shellcheck disable=SC2317 # called by the trap
stop_all() {
  stop_sim
  [ -z "$broker" ] || kill "$broker" 2>/dev/null || true
}
trap stop_all EXIT

if [ "$mqtt" = 1 ]; then
  printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest stderr\n' "$mqtt_port" >mosquitto.conf
  mosquitto -c mosquitto.conf 2>mosquitto.log &
  broker=$!
  sleep 0.5
  kill -0 "$broker" 2>/dev/null || { cat mosquitto.log >&2; exit 1; }
  echo "demo: MQTT broker on 127.0.0.1:$mqtt_port; the room's messages:"
  echo "  mosquitto_sub -h 127.0.0.1 -p $mqtt_port -v -t 'orvik/demo/#'"
fi

if [ "$tcp" = 1 ]; then
  echo "demo: Modbus TCP server on 127.0.0.1:$tcp_port once the monitor runs; the first batteries' voltages (0.01 V):"
  echo "  mbpoll -m tcp -a 1 -p $tcp_port -t 3 -r 1 -c 8 127.0.0.1"
fi

for _ in $(seq 100); do
  [ -e "$line" ] && break
  kill -0 "$sim" 2>/dev/null || { cat orvik-sim.log >&2; exit 1; }
  sleep 0.05
done
[ -e "$line" ] || { echo "demo: the simulator did not come up" >&2; exit 1; }
echo "demo: simulator on $(head -n1 orvik-sim.out) as $line, faults to $control"
echo "demo: press «Старт»; battery 4 of group 1 drifts into a warning and then an emergency"

status=0
"$root/build/orvik-monitor" --port "$line" "$@" || status=$?
exit "$status"
