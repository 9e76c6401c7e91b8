#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The figures of docs/liud.md, measured on liud under liusim:
#   1. instructions per turn of liud's loop and per 8-port alarm poll, with
#      callgrind collecting only liud::Daemon::turn() (--toggle-collect),
#      split into transfers, trace facility, library and liud
#      (callgrind_cycle.py);
#   2. alarm change to log line and to metrics file, and control request
#      round trips (latency.py).
# Usage: tools/liud/measure/measure.sh [BUILD]   (default build-rel: a Release
# build with tools, e.g. cmake --preset amd64-release -B build-rel)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
build=${1:-$top/build-rel}
liusim=$build/sim/liusim/liusim
liud=$build/tools/liud/liud
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The example configuration without audits (they are not poll cycles).
sed 's/^audit_interval = .*/audit_interval = off/' "$top/examples/liud.conf" >"$work/liud.conf"
printf '\n[global]\nmetrics = %s\n' "$work/liud.prom" >>"$work/liud.conf"

wait_socket() {
    for _ in $(seq 300); do
        [ -S "$1" ] && return 0
        sleep 0.1
    done
    echo "measure: liud did not come up" >&2
    exit 1
}

echo "== 1. instructions (callgrind, 10 s of polls)"
"$liusim" -- valgrind --tool=callgrind --toggle-collect='liud::Daemon::turn()' \
    --callgrind-out-file="$work/callgrind.out" "$liud" --config "$work/liud.conf" \
    --socket "$work/cg.sock" 2>"$work/callgrind.log" &
wait_socket "$work/cg.sock"
sleep 10
kill -TERM $!
wait $! || true
python3 "$here/callgrind_cycle.py" "$work/callgrind.out"

echo "== 2. latencies and round trips"
"$liusim" --ctl "$work/liusim.sock" -- "$liud" --config "$work/liud.conf" \
    --socket "$work/liud.sock" 2>"$work/liud.log" &
wait_socket "$work/liud.sock"
sleep 0.5
python3 "$here/latency.py" "$liusim" "$work/liusim.sock" "$work/liud.sock" "$work/liud.prom" \
    "$work/liud.log"
kill -TERM $!
wait $! || true
