#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The suites on the in-process chip binding under valgrind memcheck, on the
# test build of scripts/test.sh ($LIU_BUILD_DIR, default build/): the failure
# sweep and the bad-input matrix, and each start-up test in a process of its
# own.  Zero memcheck errors and no definite leak; logs of failing runs stay
# in $build/valgrind/.
source "$(dirname "$0")/ci-lib.sh"
build=${LIU_BUILD_DIR:-$top/build}
step "dependencies, build"
"$top/scripts/deps.sh" valgrind
LIU_BUILD_DIR=$build "$top/scripts/build.sh"
logs=$build/valgrind
rm -rf "$logs"
mkdir -p "$logs"
startup=$build/tests/lib/test_lib_startup
{
    echo "$build/tests/hardening/test_failure_sweep"
    echo "$build/tests/hardening/test_bad_input"
    "$startup" --gtest_list_tests |
        awk -v exe="$startup" '/^[^ ]/ { suite = $1; next } { print exe " --gtest_filter=" suite $1 }'
} >"$logs/runs.txt"
step "$(wc -l <"$logs/runs.txt") runs under valgrind"
run() {
    local log="$1/run$BASHPID.log"
    valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
        --read-inline-info=no --quiet "${@:2}" >"$log" 2>&1 && rm "$log" || echo "FAILED: ${*:2}"
}
export -f run
failures=$(xargs -P"$jobs" -L1 bash -c 'run "$@"' run "$logs" <"$logs/runs.txt")
[ -z "$failures" ] || fail "$failures; logs in $logs"
step "done: no memcheck error"
