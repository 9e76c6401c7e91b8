#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The library-level suites (labels lib, hardening, sim: the library, the
# chip model, the in-process binding; no tools) built with AddressSanitizer
# and UndefinedBehaviorSanitizer (asan preset: Debug, LIU_SANITIZE=ON, the
# in-process chip binding) into build-asan ($LIU_ASAN_BUILD_DIR) and run.
# Any sanitizer report fails its test and so this script.
source "$(dirname "$0")/ci-lib.sh"
build=${LIU_ASAN_BUILD_DIR:-$top/build-asan}
step "dependencies"
"$top/scripts/deps.sh"
step "configure"
cmake --preset asan -S "$top" -B "$build" >/dev/null
step "build"
cmake --build "$build" -j"$jobs" >/dev/null
step "tests"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$jobs" \
    -L '^(lib|hardening|sim)$' -E umockdev
step "done"
