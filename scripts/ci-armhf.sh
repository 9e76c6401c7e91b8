#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Board build in CI (build-armhf, $LIU_ARMHF_BUILD_DIR): the cross toolchain
# (deps-armhf.sh), the armhf preset, the shipped targets (library, trace
# facility, liuctl, liud, manual pages, the packages' documents) for
# ci-package.sh and the suites that exercise the ABI (labels lib, hardening:
# the library, its transfer records, every failure and refusal), run under
# qemu-arm; then the exported symbols and the size of the armhf libliuDrv.so.
source "$(dirname "$0")/ci-lib.sh"
build=${LIU_ARMHF_BUILD_DIR:-$top/build-armhf}
step "dependencies"
"$top/scripts/deps-armhf.sh"
step "configure"
cmake --preset armhf -S "$top" -B "$build" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
step "build"
cmake --build "$build" -j"$jobs" --target liuDrv liuTrace liuctl liud man package-docs \
    test_lib test_lib_startup test_failure_sweep test_bad_input >/dev/null
step "tests under qemu-arm"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$jobs" -L '^(lib|hardening)$'
step "exported symbols, size"
"$top/scripts/check-exports.sh" "$build/drvs/liuDrv/libliuDrv.so"
arm-linux-gnueabihf-size "$(readlink -f "$build/drvs/liuDrv/libliuDrv.so")"
step "done"
