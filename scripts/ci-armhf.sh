#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Board build in CI: installs the cross toolchain (deps-armhf.sh), configures
# and builds the armhf preset (tests with the in-process chip binding), runs
# every test under qemu-arm, checks the exported symbols of the armhf
# libliuDrv.so and reports its size.
# Build directory: $LIU_ARMHF_BUILD_DIR, default build-armhf.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LIU_ARMHF_BUILD_DIR:-$top/build-armhf}
jobs=${LIU_JOBS:-$(nproc)}
start=$SECONDS
step() { echo "== ci-armhf: $* ($((SECONDS - start)) s)"; }

step "dependencies"
"$top/scripts/deps-armhf.sh"

step "configure"
cd "$top"
cmake --preset armhf -B "$build"
step "build"
cmake --build "$build" -j"$jobs"

step "tests under qemu-arm"
# The soak suite (minutes of polling) runs on the PC only: under emulation it
# would take most of the CI budget and proves nothing the PC run does not.
ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$jobs" \
    -LE "${LIU_ARMHF_EXCLUDE_LABELS:-soak}"

step "exported symbols"
lib="$build/drvs/liuDrv/libliuDrv.so"
"$top/scripts/check-exports.sh" "$lib"

step "size of the armhf libliuDrv.so (bytes)"
arm-linux-gnueabihf-size "$(readlink -f "$lib")"

step "done"
