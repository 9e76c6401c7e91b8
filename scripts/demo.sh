#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The main job: installs the dependencies, builds, and brings a board up on
# the simulated chip with liuctl (examples/bringup.liuctl): ports 0-3 E1,
# 4-7 T1 with build-outs, powered up and shown, then five seconds of alarm
# watching while examples/demo.scenario raises and clears LOS on port 2 and
# AIS on port 6, then shown again.
#
#   scripts/demo.sh         the liuctl bring-up
#   scripts/demo.sh host    the smallest host program (examples/bringup_host.c)
#                           and the SPI transfers the chip received
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LIU_BUILD_DIR:-$top/build}
"$top/scripts/deps.sh"
"$top/scripts/build.sh"

liusim="$build/sim/liusim/liusim"
case "${1:-liuctl}" in
liuctl)
    "$liusim" --scenario "$top/examples/demo.scenario" -- \
        "$build/tools/liuctl/liuctl" -x -f "$top/examples/bringup.liuctl"
    ;;
host)
    log=$(mktemp)
    trap 'rm -f "$log"' EXIT
    "$liusim" --log "$log" -- "$build/examples/bringup_host" 2 8
    echo
    echo "SPI transfers seen by the simulated chip ($(wc -l <"$log") in all), first 40:"
    head -n 40 "$log"
    ;;
*)
    echo "Usage: scripts/demo.sh [liuctl|host]" >&2
    exit 2
    ;;
esac
