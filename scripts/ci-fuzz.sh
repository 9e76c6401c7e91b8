#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Bounded fuzz run: builds the libFuzzer target liu_fuzz (clang, AddressSanitizer
# and UndefinedBehaviorSanitizer) into build-fuzz and runs it for
# $LIU_FUZZ_SECONDS (default 60) from the seed corpus in tests/fuzz/corpus.
# An input that crashes it or breaks one of its checks is copied to
# tests/fuzz/regressions/ (replayed from then on by the test fuzz_replay) and
# fails the run; commit it together with the fix.
# Build directory: $LIU_FUZZ_BUILD_DIR, default build-fuzz.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LIU_FUZZ_BUILD_DIR:-$top/build-fuzz}
seconds=${LIU_FUZZ_SECONDS:-60}
jobs=${LIU_JOBS:-$(nproc)}
start=$SECONDS
step() { echo "== ci-fuzz: $* ($((SECONDS - start)) s)"; }

step "dependencies"
"$top/scripts/deps.sh" clang libclang-rt-14-dev

step "configure"
cmake -S "$top" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIU_BUILD_FUZZ=ON -DLIU_BUILD_TOOLS=OFF \
    -DLIU_SIM_BINDING=inproc >/dev/null
step "build"
cmake --build "$build" --target liu_fuzz -j"$jobs" >/dev/null

step "fuzzing for $seconds s"
corpus=$build/corpus
artifacts=$build/artifacts
rm -rf "$artifacts"
mkdir -p "$corpus" "$artifacts"
log=$build/fuzz.log
status=0
# New inputs go to the build's corpus; the seeds in the tree stay as they are.
ASAN_OPTIONS="abort_on_error=1:detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1" \
    "$build/tests/fuzz/liu_fuzz" -max_total_time="$seconds" -max_len=512 -timeout=10 \
    -rss_limit_mb=1024 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$corpus" "$top/tests/fuzz/corpus" >"$log" 2>&1 || status=$?
grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added)' "$log" || true

crashes=$(find "$artifacts" -type f | sort)
if [ "$status" -ne 0 ] || [ -n "$crashes" ]; then
    tail -n 60 "$log"
    for crash in $crashes; do
        cp "$crash" "$top/tests/fuzz/regressions/"
        echo "ci-fuzz: kept $(basename "$crash") in tests/fuzz/regressions/" >&2
    done
    echo "ci-fuzz: the fuzz target failed (status $status); full log in $log" >&2
    exit 1
fi
step "liud's request parser" && mkdir -p "$build/liud-corpus" && cmake --build "$build" --target liud_fuzz -j"$jobs" >/dev/null && { "$build/tests/liud/liud_fuzz" -max_total_time="${LIU_LIUD_FUZZ_SECONDS:-30}" -max_len=4200 -timeout=10 -close_fd_mask=2 -artifact_prefix="$artifacts/" "$build/liud-corpus" "$top/tests/liud/corpus" >"$build/liud-fuzz.log" 2>&1 || { tail -n 40 "$build/liud-fuzz.log"; echo "ci-fuzz: liud_fuzz failed; the input is in $artifacts" >&2; exit 1; }; }
step "done: no crash, every check held"
