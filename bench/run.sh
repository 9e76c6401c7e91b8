#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Measures the driver's cost beside the SPI bus and prints every number of
# docs/performance.md as Markdown:
#   1. transfers per operation and heap allocations: the golden files of
#      tests/lib/golden (test_lib) and tests/perf/test_allocations.cpp
#   2. time per operation, against the same frames as bare transfers
#      (Google Benchmark), and the bus time of those frames at 1 MHz
#   3. instructions per operation and per transfer (callgrind), split into
#      library, transport, trace facility and stdio
#   4. the CPU share of one alarm poll on a 1 GHz core
#   5. the size of libliuDrv.so for amd64 and, with the cross compiler,
#      for armhf
# Usage: bench/run.sh [--quick]      (--quick: fewer repetitions and calls)
# Installs what it needs first (scripts/deps.sh), builds (Release, as shipped)
# into build-bench/
# (LIU_BENCH_BUILD_DIR) and build-bench-armhf/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LIU_BENCH_BUILD_DIR:-$top/build-bench}
armhf=${build}-armhf
repetitions=10
minTime=0.2
calls=100
if [ "${1:-}" = "--quick" ]; then
    repetitions=3
    minTime=0.02
    calls=10
elif [ "$#" -gt 0 ]; then
    echo "Usage: bench/run.sh [--quick]" >&2
    exit 2
fi

"$top/scripts/deps.sh" libbenchmark-dev valgrind >&2
# Release as the packages and the board are built; -g only names the source
# files in callgrind's output (it changes no code).
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g -DCMAKE_C_FLAGS=-g \
    -DLIU_BUILD_BENCH=ON -DLIU_BUILD_TOOLS=OFF -DLIU_SIM_BINDING=inproc >&2
cmake --build "$build" -j"$(nproc)" \
    --target liuDrv liu_bench liu_callgrind_driver_shared test_lib test_allocations >&2

echo "## Transfers (tests/lib/golden) and heap allocations (tests/perf)"
echo
ctest --test-dir "$build" -R "^(lib\.golden|perf\.allocations)$" -j"$(nproc)" --output-on-failure |
    grep -E "tests passed|tests failed|Failed"
echo

# The shared library, as a host loads it.
driver=$build/bench/liu_callgrind_driver_shared

echo "## Time per operation (median of $repetitions, CPU time)"
echo
csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
"$build/bench/liu_bench" --benchmark_repetitions="$repetitions" \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_min_time="$minTime" --benchmark_format=csv >"$csv" 2>/dev/null
awk -F, -v names="$("$driver" --list | tr "\n" " ")" '
    # name,iterations,real_time,cpu_time,time_unit,...,error_occurred,error_message,"frames"
    /^name,/ { gsub("\"", ""); for (i = 1; i <= NF; ++i) column[$i] = i; next }
    {
        if (!("cpu_time" in column) || $0 !~ /^"/) next
        gsub("\"", "")
        split($1, part, "/")
        kind = part[1]; name = part[2]
        base = name
        sub(/_(mean|median|stddev|cv)$/, "", base)
        if ($column["error_occurred"] == "true") failed[base] = 1
        if (name !~ /_median$/) next
        name = base
        time = $column["cpu_time"]
        if ($column["time_unit"] == "us") time *= 1000
        if ($column["time_unit"] == "ms") time *= 1000000
        if (kind == "lib") { lib[name] = time; frames[name] = $column["frames"] + 0 }
        else bare[name] = time
    }
    END {
        count = split(names, order, " ")
        print "| operation | transfers | bus time at 1 MHz | driver | bare transfers | ratio |"
        print "|---|---:|---:|---:|---:|---:|"
        for (i = 1; i <= count; ++i) {
            name = order[i]
            if (name in failed) { printf "| %s | failed | | | | |\n", name; continue }
            if (!(name in lib)) continue
            printf "| %s | %d | %d us | %.1f us | %.1f us | %.2f |\n", name, frames[name],
                frames[name] * 24, lib[name] / 1000, bare[name] / 1000, lib[name] / bare[name]
        }
    }' "$csv"
echo

echo "## Instructions per operation (callgrind, $calls calls, trace filter: errors only)"
echo
table=$("$top/bench/callgrind.sh" -n "$calls" "$driver")
echo "$table"
echo
echo "## Instructions with every trace line formatted (LIU_TRACE=detail, written to a file)"
echo
"$top/bench/callgrind.sh" -n "$calls" -t detail "$driver" \
    write read setLineType getLineType setRefAClock alarmHandler
echo

echo "## CPU share of one alarm poll (8 ports) on a 1 GHz core at 1 instruction per cycle"
echo
echo "$table" | awk -F'|' '$2 ~ /^ alarmHandler / {
    transfers = $3; library = $5; tracing = $7
    bus = transfers * 24
    printf "library %d instructions = %.1f us, with the trace facility %.1f us; ", library,
        library / 1000, (library + tracing) / 1000
    printf "bus %d x 24 us = %d us; share %.2f %%\n", transfers, bus,
        100 * (library + tracing) / 1000 / bus
}'
echo

echo "## Size of libliuDrv.so (Release, as packaged and as the board preset builds it; bytes)"
echo
echo '```'
size "$build/drvs/liuDrv/libliuDrv.so."*.*.* | sed "s|$build/||"
if command -v arm-linux-gnueabihf-g++ >/dev/null && [ -f "$top/cmake/toolchain-armhf.cmake" ]; then
    cmake -S "$top" -B "$armhf" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-armhf.cmake" \
        -DLIU_BUILD_TESTS=OFF -DLIU_BUILD_TOOLS=OFF >&2
    cmake --build "$armhf" -j"$(nproc)" --target liuDrv >&2
    arm-linux-gnueabihf-size "$armhf/drvs/liuDrv/libliuDrv.so."*.*.* | tail -n 1 |
        sed "s|$armhf/|armhf: |"
else
    echo "armhf: cross compiler or cmake/toolchain-armhf.cmake missing, not measured"
fi
echo '```'
