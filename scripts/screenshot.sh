#!/usr/bin/env bash
# screenshot.sh <out.png> [settings.xml]
# Starts the built monitor in a scratch folder on a virtual X display and saves a
# picture of its window.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(realpath -m "$1")
settings=${2:-}
run=$(mktemp -d)
trap 'kill $app $xvfb 2>/dev/null || true; rm -rf "$run"' EXIT
[ -n "$settings" ] && cp "$settings" "$run/settings.xml"
display=:97
Xvfb $display -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
sleep 1
(cd "$run" && DISPLAY=$display QT_QPA_PLATFORM=xcb "$root/build/orvik-monitor") & app=$!
sleep 4
DISPLAY=$display import -window root -crop 1166x557+0+0 "$out"
echo "screenshot: $out"
