#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures (once) and builds the PC tree into build/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LIU_BUILD_DIR:-$top/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" >/dev/null
