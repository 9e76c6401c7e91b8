#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every C and C++ file git tracks is as clang-format (.clang-format) writes
# it; the ones that are not are listed with what would change.
source "$(dirname "$0")/ci-lib.sh"
"$top/scripts/deps.sh" clang-format
cd "$top"
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if ! clang-format --dry-run -Werror "${files[@]}"; then
    fail "not formatted: run clang-format -i on the files above"
fi
step "${#files[@]} files formatted"
