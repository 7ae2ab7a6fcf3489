#!/usr/bin/env bash
# The fleet's configuration as packaged, on loopback: a broker with a user per room, the
# exporter and Prometheus (packaging/fleet/, only ports, secrets and intervals changed by sed)
# watching two monitors on simulators. Each room's battery shows its simulator's voltage under
# its own site, the drifting battery raises the emergency alert, and a killed monitor's room
# turns offline by the broker's last will.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: fleet_test.sh <build dir>}" && pwd)
fleet=$src/packaging/fleet
tmp=$(mktemp -d /tmp/orvik-fleet.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in "$tmp"/*.log "$tmp"/room-*/*.log; do [ -e "$f" ] && { echo "--- $f" >&2; tail -n 8 "$f" >&2; }; done
  exit 1
}
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
start() { # log, command...: in the background, remembered for the cleanup
  local log=$1
  shift
  "$@" >"$log" 2>&1 &
  pids+=($!)
}
# Bounded: seconds, what is awaited, the check.
wait_for() {
  local deadline=$((SECONDS + $1)) what=$2
  shift 2
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "no $what within the time"
    sleep 1
  done
}
# The one value of an instant query, or nothing.
query() {
  curl -sf --max-time 3 "http://127.0.0.1:$prom_port/api/v1/query" --data-urlencode "query=$1" |
    python3 -c 'import json, sys; r = json.load(sys.stdin)["data"]["result"]; print(r[0]["value"][1] if len(r) == 1 else "")' ||
    true
}
between() { # query, low, high
  local v
  v=$(query "$1")
  [ -n "$v" ] && awk -v v="$v" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'
}
firing() { # alert name, site, battery
  curl -sf --max-time 3 "http://127.0.0.1:$prom_port/api/v1/alerts" | python3 -c '
import json, sys
name, site, battery = sys.argv[1:]
alerts = json.load(sys.stdin)["data"]["alerts"]
sys.exit(not any(a["state"] == "firing" and a["labels"].get("alertname") == name and
                 a["labels"].get("site") == site and a["labels"].get("battery") == battery for a in alerts))' "$@"
}

promtool check config "$fleet/prometheus.yml" >/dev/null || fail "prometheus.yml does not pass promtool"
promtool check rules "$fleet/rules.yml" >/dev/null || fail "rules.yml does not pass promtool"
amtool check-config "$fleet/alertmanager.yml" >/dev/null || fail "alertmanager.yml does not pass amtool"

mqtt_port=$(free_port) exporter_port=$(free_port) prom_port=$(free_port)
password=fleet-$$
for user in orvik-exporter room-a room-b; do
  mosquitto_passwd -b "$tmp/orvik.passwd" "$user" "$password" 2>/dev/null ||
    mosquitto_passwd -c -b "$tmp/orvik.passwd" "$user" "$password"
done
cp "$fleet/orvik.acl" "$tmp/"
# A plain listener on loopback; as root the broker would drop to a user who cannot read $tmp.
sed -e "s/^listener 8883$/listener $mqtt_port 127.0.0.1/" -e '/^\(cafile\|certfile\|keyfile\|tls_version\|persistence_location\) /d' \
  -e "s#/etc/mosquitto/#$tmp/#" -e 's/^persistence true$/persistence false/' "$fleet/mosquitto.conf" >"$tmp/mosquitto.conf"
echo "user $(id -un)" >>"$tmp/mosquitto.conf"
sed -e "s#ssl://mqtt.example.net:8883#tcp://127.0.0.1:$mqtt_port#" -e '/^  \(ca_cert\|client_cert\|client_key\):/d' \
  -e "s/exporter-password/$password/" "$fleet/mqtt-exporter.yaml" >"$tmp/mqtt-exporter.yaml"
sed -e 's/_interval: 30s$/_interval: 1s/' -e "s/localhost:9641/127.0.0.1:$exporter_port/" \
  -e "s/localhost:9093/127.0.0.1:$(free_port)/" "$fleet/prometheus.yml" >"$tmp/prometheus.yml"
cp "$fleet/rules.yml" "$tmp/"
if ! grep -q "listener $mqtt_port" "$tmp/mosquitto.conf" || ! grep -q "tcp://127.0.0.1:$mqtt_port" "$tmp/mqtt-exporter.yaml" ||
  ! grep -q "scrape_interval: 1s" "$tmp/prometheus.yml"; then
  fail "the packaged files no longer take the test's settings"
fi

start "$tmp/mosquitto.log" mosquitto -c "$tmp/mosquitto.conf"
start "$tmp/exporter.log" prometheus-mqtt-exporter -config "$tmp/mqtt-exporter.yaml" \
  -listen-address 127.0.0.1 -listen-port "$exporter_port"
start "$tmp/prometheus.log" prometheus --config.file="$tmp/prometheus.yml" --storage.tsdb.path="$tmp/tsdb" \
  --web.listen-address="127.0.0.1:$prom_port"

# Room a at 13.5 V with battery 4 of module 0 drifting into an emergency, room b at 13.0 V.
declare -A sim_args=([room-a]="--drift 0:3:volt --drift-step 0.7 --drift-max 2.0" [room-b]="--volts 13.0")
declare -A monitor
for room in room-a room-b; do
  mkdir "$tmp/$room"
  # shellcheck disable=SC2086 # the options are meant to split
  start "$tmp/$room/sim.log" python3 "$src/tools/orvik-sim" --link "$tmp/$room/sim.tty" \
    --control "$tmp/$room/sim.ctl" ${sim_args[$room]}
  wait_for 10 "simulator of $room" test -e "$tmp/$room/sim.tty"
  {
    echo '<!DOCTYPE settings>'
    echo '<settings>'
    echo " <com_port>$tmp/$room/sim.tty</com_port>"
    echo ' <mode>false</mode>'
    for msd in 0 1 2 3 4 5; do
      for mkp in 0 1 2 3 4 5 6 7; do echo " <group_id msd=\"$msd\" mkp=\"$mkp\">$((msd + 1))</group_id>"; done
    done
    echo " <room_name>$room</room_name>"
    echo ' <mqtt_enabled>true</mqtt_enabled>'
    echo ' <mqtt_host>127.0.0.1</mqtt_host>'
    echo " <mqtt_port>$mqtt_port</mqtt_port>"
    echo " <mqtt_user>$room</mqtt_user>"
    echo " <mqtt_password>$password</mqtt_password>"
    echo '</settings>'
  } >"$tmp/$room/settings.xml"
  (cd "$tmp/$room" && exec "$build/orvik-monitor" --port "$tmp/$room/sim.tty" --start >monitor.log 2>&1) &
  pids+=($!)
  monitor[$room]=$!
done

# Default level ± its spread (0.08 V a battery, 0.01 V noise): the rooms cannot be mixed up.
wait_for 60 "voltage of room-a's battery 02_5" between 'orvik_battery_voltage_volts{site="room-a",battery="02_5"}' 13.35 13.65
wait_for 20 "voltage of room-b's battery 02_5" between 'orvik_battery_voltage_volts{site="room-b",battery="02_5"}' 12.85 13.15
wait_for 20 "room-a online" between 'orvik_room_online{site="room-a"}' 1 1
wait_for 30 "emergency alert for room-a's battery 00_4" firing OrvikBatteryEmergency room-a 00_4
firing OrvikBatteryEmergency room-b 00_4 && fail "room-b's steady battery 00_4 in emergency"

# One room's user cannot speak for another: the broker drops this.
mosquitto_pub -p "$mqtt_port" -u room-a -P "$password" -r -t orvik/room-b/status -m '{"online":0}'
# Not the monitor's own goodbye: the broker's last will, at once as the socket closes with the
# process (after a lost network, when the keepalive of 30 s × 1.5 runs out).
kill -9 "${monitor[room-a]}"
wait_for 60 "offline status of the killed room-a" between 'orvik_room_online{site="room-a"}' 0 0
between 'orvik_room_online{site="room-b"}' 1 1 || fail "room-b went offline with room-a, or by room-a's user"
echo "fleet: both rooms seen, emergency fired, the killed room went offline after $SECONDS s"
