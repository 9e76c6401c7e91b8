#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole test suite once more, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (LIU_SANITIZE=ON: -fsanitize=address,undefined,
# no recovery) into build-asan, then run by ctest.  Any sanitizer report
# fails its test and so this script.
#
# umockdev's preload: the test executables link it after the sanitizer
# runtimes, so ASan still comes first; programs started under LD_PRELOAD
# (liusim's children, umockdev-wrapper) would fail ASan's link-order check,
# which is relaxed here for them (liusim also relaxes it itself).  Leak
# checking stays on.  The build is unoptimised: with the sanitizers'
# instrumentation an optimised build takes about 2.5 times longer to compile,
# more than the tests gain from it.
# Build directory: $LIU_ASAN_BUILD_DIR, default build-asan.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LIU_ASAN_BUILD_DIR:-$top/build-asan}
jobs=${LIU_JOBS:-$(nproc)}
start=$SECONDS
step() { echo "== ci-sanitize: $* ($((SECONDS - start)) s)"; }

step "dependencies"
"$top/scripts/deps.sh"

step "configure"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DLIU_SANITIZE=ON >/dev/null
step "build"
cmake --build "$build" -j"$jobs" >/dev/null

export ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
step "tests"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$jobs"

step "done"
