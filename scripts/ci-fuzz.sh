#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Bounded fuzz runs: the libFuzzer targets below, built with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer (preset fuzz) into
# build-fuzz ($LIU_FUZZ_BUILD_DIR), each for $LIU_FUZZ_SECONDS (default 30)
# from the seeds in its directory's corpus/ and the crash inputs kept in its
# regressions/.  A new crashing input is copied to regressions/ (commit it
# with the fix) and fails the run.
source "$(dirname "$0")/ci-lib.sh"
build=${LIU_FUZZ_BUILD_DIR:-$top/build-fuzz}
seconds=${LIU_FUZZ_SECONDS:-30}
# One line per fuzz target: its CMake target, its directory in the tree and
# the longest input it takes (the library's API sequences are short; liud's
# requests reach the control socket's 4 KiB line limit).
targets=(
    "liu_fuzz tests/fuzz 512"
    "liud_fuzz tests/liud 4200"
)
step "dependencies"
"$top/scripts/deps.sh" clang libclang-rt-14-dev
step "configure, build"
(cd "$top" && cmake --preset fuzz -B "$build" >/dev/null)
cmake --build "$build" -j"$jobs" --target "${targets[@]%% *}" >/dev/null
for entry in "${targets[@]}"; do
    read -r target dir max_len <<<"$entry"
    step "$target for $seconds s"
    work=$build/$target
    rm -rf "$work/artifacts"
    mkdir -p "$work/corpus" "$work/artifacts"
    status=0
    ASAN_OPTIONS="abort_on_error=1:detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1" \
        "$(find "$build" -type f -name "$target" -perm -u+x | head -1)" -max_total_time="$seconds" \
        -max_len="$max_len" -close_fd_mask=2 -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" "$top/$dir/corpus" "$top/$dir/regressions" \
        >"$work/fuzz.log" 2>&1 || status=$?
    grep -E '^stat::(number_of_executed_units|new_units_added)' "$work/fuzz.log" || true
    crashes=$(find "$work/artifacts" -type f)
    if [ "$status" -ne 0 ] || [ -n "$crashes" ]; then
        tail -n 40 "$work/fuzz.log"
        [ -z "$crashes" ] || cp $crashes "$top/$dir/regressions/"
        fail "$target failed (status $status), crash inputs kept in $dir/regressions/"
    fi
done
step "done"
