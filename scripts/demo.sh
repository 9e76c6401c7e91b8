#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The main job: installs the dependencies, builds, and shows a board on the
# simulated chip run the way it runs in service:
#
#   scripts/demo.sh         liud brought up from examples/liud.conf (one reset),
#                           liuctl attached to it: status, show, then two
#                           clients watching while examples/liud-demo.scenario
#                           makes alarms come and go; liud's log, its metrics
#                           file, and the count of reset frames on the bus
#   scripts/demo.sh liuctl  liuctl standalone, no liud (bring-up of a new board:
#                           examples/bringup.liuctl)
#   scripts/demo.sh host    the smallest host program (examples/bringup_host.c)
#                           and the SPI transfers the chip received
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LIU_BUILD_DIR:-$top/build}
"$top/scripts/deps.sh"
"$top/scripts/build.sh"

liusim="$build/sim/liusim/liusim"
liuctl="$build/tools/liuctl/liuctl"
liud="$build/tools/liud/liud"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case "${1:-liud}" in
liud)
    # The example configuration as it is, plus a metrics file in the demo's directory.
    config=$work/liud.conf
    { cat "$top/examples/liud.conf"; printf '\n[global]\nmetrics = %s\n' "$work/liud.prom"; } >"$config"
    echo "== liud --config examples/liud.conf (its log lines start with 'liud |')"
    "$liusim" --log "$work/spi.log" --ctl "$work/liusim.sock" \
        --scenario "$top/examples/liud-demo.scenario" -- \
        "$liud" --config "$config" --socket "$work/liud.sock" 2> >(sed -u 's/^/liud | /' >&2) &
    daemon=$!
    for _ in $(seq 100); do
        "$liuctl" --connect "$work/liud.sock" -c 'echo' >/dev/null 2>&1 && break
        sleep 0.1
    done
    echo
    echo "== liuctl attached to liud: what liud configured, what the chip holds"
    "$liuctl" --connect "$work/liud.sock" -x -c 'status; show'
    echo
    echo "== two liuctl clients watch liud's alarm changes (the second one as JSON)"
    "$liuctl" --connect "$work/liud.sock" --json -c 'watch 4.5' >"$work/second-client" &
    "$liuctl" --connect "$work/liud.sock" -x -c 'watch 4.5; show 2,6'
    wait $!
    sed 's/^/second client | /' "$work/second-client"
    echo
    echo "== liuctl init through liud: refused, nothing reset"
    "$liuctl" --connect "$work/liud.sock" -x -c 'init sym 8' || true
    kill -TERM "$daemon"
    wait "$daemon"
    echo
    echo "== liud's metrics file (node exporter textfile format), the alarm counters"
    grep -E '^liud_(up|alarm_changes_total\{port="(2|6)",indication="(LOS|AIS)"\})' "$work/liud.prom"
    echo
    echo "software reset frames on the SPI bus in the whole run: $(grep -c ' W global 0x04 <- 0x01' "$work/spi.log")"
    ;;
liuctl)
    "$liusim" --scenario "$top/examples/demo.scenario" -- \
        "$liuctl" --standalone -x -f "$top/examples/bringup.liuctl"
    ;;
host)
    "$liusim" --log "$work/spi.log" -- "$build/examples/bringup_host" 2 8
    echo
    echo "SPI transfers seen by the simulated chip ($(wc -l <"$work/spi.log") in all), first 40:"
    head -n 40 "$work/spi.log"
    ;;
*)
    echo "Usage: scripts/demo.sh [liud|liuctl|host]" >&2
    exit 2
    ;;
esac
