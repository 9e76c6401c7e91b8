#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks a built libliuDrv.so: its dynamic symbols are exactly the names in
# drvs/liuDrv/exported-symbols.txt, and libc is its only NEEDED library.
# Usage: check-exports.sh LIBRARY [TOOL-PREFIX]   (e.g. arm-linux-gnueabihf-)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
lib=$1
prefix=${2:-}
expected="$top/drvs/liuDrv/exported-symbols.txt"

actual=$("${prefix}nm" -D --defined-only "$lib" | awk '{print $3}' | sort)
if ! diff -u <(sort "$expected") <(echo "$actual"); then
    echo "check-exports: $lib exports other names than $expected" >&2
    exit 1
fi
needed=$("${prefix}readelf" -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
if [ "$needed" != "libc.so.6" ]; then
    echo "check-exports: $lib needs: $needed (expected libc.so.6 only)" >&2
    exit 1
fi
echo "check-exports: $lib exports $(echo "$actual" | wc -l) names, needs only libc"
