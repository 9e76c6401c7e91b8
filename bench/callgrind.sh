#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Instructions per operation of the driver, counted by callgrind (exact and
# repeatable, unlike timings), split into
#   library    the driver's own code (LiuDrv.cpp): all that is not below
#   transport  the simulated chip behind the in-process binding: the driver's
#              calls of open and ioctl
#   trace      the host's trace facility (libliuTrace): the driver's calls of
#              initTraceSet and tracePrintf
#   stdio      the C library's printing and sleeping called by the driver:
#              the dump's fprintf/fwrite/fputc, the start-up printf and usleep
# and printed as a Markdown table, per call and per register access, with
# the ratio of the whole to the transport alone (what the same frames cost as
# bare transfers).
#
# The whole is the inclusive cost of the calls of liuDrv_ functions made by
# the operation table (tests/support/Operations.cpp), through which the
# driver runs every row; each part is the inclusive cost of the calls the
# library's functions make into it.  Both are read from callgrind's own
# output file (calls= lines); callgrind_annotate's per-function totals are
# not used because it splits a function by the source file of its inlined
# parts.
#
# Usage: callgrind.sh [-n COUNT] [-t TRACE-LEVEL] DRIVER [OPERATION...]
#   DRIVER       the liu_callgrind_driver executable (LIU_BUILD_BENCH=ON)
#   -n COUNT     calls per operation (default 100; "init" always runs once)
#   -t LEVEL     LIU_TRACE for the console trace facility: off, error
#                (default: what a host normally runs with), call, detail.
#                Lines that pass the filter go to a scratch file.
#   OPERATION    operations to count (default: every one, see DRIVER --list)
# Needs valgrind.
set -euo pipefail

usage() {
    echo "Usage: callgrind.sh [-n COUNT] [-t TRACE-LEVEL] DRIVER [OPERATION...]" >&2
    exit 2
}

count=100
trace=error
while getopts "n:t:" option; do
    case $option in
    n) count=$OPTARG ;;
    t) trace=$OPTARG ;;
    *) usage ;;
    esac
done
shift $((OPTIND - 1))
[ "$#" -ge 1 ] || usage
driver=$1
shift
if ! command -v valgrind >/dev/null; then
    echo "callgrind.sh: valgrind is not installed (apt-get install valgrind)" >&2
    exit 1
fi
operations=("$@")
if [ "${#operations[@]}" -eq 0 ]; then
    mapfile -t operations < <("$driver" --list)
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "| operation | transfers | total | library | transport | trace | stdio | library per transfer | vs bare transfers |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
for operation in "${operations[@]}"; do
    out="$work/$operation.out"
    if ! LIU_TRACE=$trace LD_BIND_NOW=1 valgrind --tool=callgrind --callgrind-out-file="$out" \
        --compress-strings=no --compress-pos=no --toggle-collect=liuBench_measure \
        "$driver" "$operation" "$count" >"$work/stdout" 2>"$work/stderr"; then
        echo "callgrind.sh: $operation failed:" >&2
        cat "$work/stderr" >&2
        exit 1
    fi
    # The driver's line: "operation NAME calls COUNT transfers PER-CALL".
    summary=$(grep "^operation " "$work/stdout")
    awk -v summary="$summary" '
        /^fl=/ { file = substr($0, 4); next }
        /^fn=/ { callerFile = file; next }
        /^cfn=/ { callee = substr($0, 5); sub(/@.*/, "", callee); next }
        /^calls=/ { pending = 1; next }
        pending {
            pending = 0
            if (callerFile ~ /LiuDrv\.cpp$/) {
                if (callee ~ /^(ioctl|__ioctl_time64|open|open64|__open_2|__open64_2)$/)
                    transport += $2
                else if (callee ~ /^(tracePrintf|initTraceSet)$/)
                    tracing += $2
                else if (callee ~ /^(_IO_)?(fprintf|fwrite|fputc|putc|printf)$|^usleep$/)
                    stdio += $2
            } else if (callerFile ~ /(^|\/)Operations\.cpp$/ &&
                       callee ~ /^liuDrv_/) {
                entered += $2
            }
            next
        }
        /^summary:/ { total = $2 }
        END {
            split(summary, field, " ")
            name = field[2]; calls = field[4]; transfers = field[6]
            library = entered - transport - tracing - stdio
            perTransfer = transfers > 0 ? sprintf("%.0f", library / calls / transfers) : "-"
            # The same frames as bare transfers would cost the transport alone.
            versusBare = transport > 0 ? sprintf("%.2f", entered / transport) : "-"
            printf "| %s | %d | %.0f | %.0f | %.0f | %.0f | %.0f | %s | %s |\n", name, transfers,
                total / calls, library / calls, transport / calls, tracing / calls,
                stdio / calls, perTransfer, versusBare
        }' "$out"
done
