#!/usr/bin/env bash
# run-fuzzer.sh <target> <seed dir> <work dir> <seconds>
# Runs one libFuzzer target on a scratch copy of its seeds; fails on any crash, leak or time-out.
set -euo pipefail
target=$1 seeds=$2 work=$3 seconds=$4
rm -rf "$work" && mkdir -p "$work"
[ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$target" "$work" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
