#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The library's tests under valgrind memcheck, each test in its own process
# as ctest runs it: zero memcheck errors and no definite leak allowed.
#
# Runs on the test build of scripts/test.sh ($LIU_BUILD_DIR, default build/,
# built first if needed):
#  - every test of the hardening suites (every operation failed at every
#    transfer position, the bad-input matrix, the port counts), except the
#    soak (its own memory check) and all but five positions of the start-up
#    sweep (the positions only move where start-up stops);
#  - the fuzz inputs kept in the tree, replayed in one process;
#  - every $LIU_VALGRIND_EVERY-th test (default 20; 1: all) of each library
#    suite (tests/lib): these run on umockdev, whose testbed makes each
#    process take seconds under valgrind, so a sample keeps the CI's time.
# Logs of failing runs stay in $build/valgrind/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LIU_BUILD_DIR:-$top/build}
every=${LIU_VALGRIND_EVERY:-20}
jobs=${LIU_JOBS:-$(nproc)}
start=$SECONDS
step() { echo "== ci-valgrind: $* ($((SECONDS - start)) s)"; }

step "dependencies"
"$top/scripts/deps.sh" valgrind

step "build"
LIU_BUILD_DIR=$build "$top/scripts/build.sh"
executables=$(find "$build/tests" -maxdepth 2 -type f -perm -u+x \( -name 'test_lib_*' -o \
    -name 'test_alarms*' -o -name test_failure_sweep -o -name test_startup_sweep -o \
    -name test_bad_input -o -name test_port_counts \) | sort)
if [ -z "$executables" ]; then
    echo "ci-valgrind: no library or hardening test executables in $build/tests" >&2
    exit 1
fi

logs=$build/valgrind
rm -rf "$logs"
mkdir -p "$logs"

# One line per run: the executable and its arguments.
list=$logs/runs.txt
tests_of() {
    "$1" --gtest_list_tests "${@:2}" |
        awk -v exe="$1" '/^[^ ]/ { suite = $1; next } /^  / { print exe " --gtest_filter=" suite $1 }'
}
for exe in $executables; do
    case "$(basename "$exe")" in
    test_startup_sweep)
        # Reset, first transfer of port 0, end of port 0, start of port 1, last transfer.
        for position in 0001 0002 0144 0145 1145; do
            echo "$exe --gtest_filter=Positions/StartupFailure.StopsAtTheFailedTransferAndStaysInitialised/at$position"
        done
        tests_of "$exe" --gtest_filter='-Positions/StartupFailure.*'
        ;;
    test_failure_sweep | test_bad_input | test_port_counts) tests_of "$exe" ;;
    *) tests_of "$exe" | awk -v every="$every" '(NR - 1) % every == 0' ;;
    esac
done >"$list"
echo "$build/tests/fuzz/liu_fuzz_replay $top/tests/fuzz/corpus $top/tests/fuzz/regressions" >>"$list"

step "$(wc -l <"$list") runs under valgrind"
run_one() {
    local logs=$1 exe=$2
    shift 2
    local log
    log="$logs/$(basename "$exe")$(echo "$*" | tr -c 'A-Za-z0-9_.\n' '_' | cut -c1-150).log"
    if valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
        --errors-for-leak-kinds=definite --read-inline-info=no --quiet \
        "$exe" "$@" >"$log" 2>&1; then
        rm -f "$log"
    else
        echo "FAILED (status $?): $(basename "$exe") $*"
    fi
}
export -f run_one
failures=$(xargs -P"$jobs" -L1 bash -c 'run_one "$@"' run_one "$logs" <"$list")

if [ -n "$failures" ]; then
    echo "$failures"
    echo "ci-valgrind: $(echo "$failures" | wc -l) runs failed; logs in $logs" >&2
    exit 1
fi
step "done: $(wc -l <"$list") runs, no memcheck error"
