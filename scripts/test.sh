#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the dependencies, builds (scripts/build.sh) and runs every test.
source "$(dirname "$0")/ci-lib.sh"
"$top/scripts/deps.sh"
"$top/scripts/build.sh"
step "built; tests"
ctest --test-dir "${LIU_BUILD_DIR:-$top/build}" --output-on-failure --no-tests=error -j"$jobs"
step "tests passed"
