#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The main job: installs the dependencies, builds, and brings the library up
# on the simulated chip, printing what the host program saw and the SPI
# transfers the chip received.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LIU_BUILD_DIR:-$top/build}
"$top/scripts/deps.sh"
"$top/scripts/build.sh"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$build/sim/liusim" --log "$log" -- "$build/examples/bringup_host" 2 8
echo
echo "SPI transfers seen by the simulated chip ($(wc -l <"$log") in all), first 40:"
head -n 40 "$log"
