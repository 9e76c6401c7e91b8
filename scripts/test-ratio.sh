#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# test-ratio.sh [REPO]: non-blank lines of the test tree against the rest of
# the code, from the files git tracks.
#   test lines: everything under tests/ (code, data, expected outputs, CMake)
#               plus any other tracked path with a test-like name
#               (test_*, *_test.*, *Test.*, testdata/, fixtures/)
#   code lines: every other tracked file except docs (*.md, docs/, LICENSE*),
#               dot-files at the top (.clang-format, .gitignore) and the
#               fuzz corpus.
# Prints one line: "tests N / code M = R%  (target 25-33%)" and exits 1
# when R is above 33%.
set -euo pipefail
repo=${1:-.}
cd "$repo"
count() { # reads paths on stdin, prints non-blank lines
    local n=0 f c
    while IFS= read -r f; do
        [ -f "$f" ] || continue
        grep -Iq . "$f" 2>/dev/null || continue # skip binary and empty files
        c=$(grep -cv '^[[:space:]]*$' "$f" || true)
        n=$((n + c))
    done
    echo "$n"
}
all=$(git ls-files)
is_test='^tests/|(^|/)(test_[^/]*|[^/]*_test\.[^/]*|[^/]*Test\.[^/]*|testdata/.*|fixtures/.*)$'
not_code='(^|/)(docs/.*|[^/]*\.md|LICENSE[^/]*|corpus/.*)$|^\.[^/]*$'
tests=$(grep -E "$is_test" <<<"$all" | grep -Ev '(^|/)corpus/' | count)
code=$(grep -Ev "$is_test" <<<"$all" | grep -Ev "$not_code" | count)
pct=$((code > 0 ? tests * 100 / code : 0))
echo "tests $tests / code $code = ${pct}%  (target 25-33%)"
[ "$pct" -le 33 ]
