#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the dependencies, builds, and runs every test (one process per test).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh"
ctest --test-dir "${LIU_BUILD_DIR:-$top/build}" --output-on-failure -j"$(nproc)"
