#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures (once, preset default) and builds the PC tree into build/
# ($LIU_BUILD_DIR), with the install prefix /usr that the Debian packages are
# made from.
source "$(dirname "$0")/ci-lib.sh"
build=${LIU_BUILD_DIR:-$top/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
    (cd "$top" && cmake --preset default -B "$build" >/dev/null)
fi
cmake --build "$build" -j"$jobs" >/dev/null
