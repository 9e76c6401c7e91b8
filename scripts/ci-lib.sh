# SPDX-License-Identifier: MIT
# Prologue of the scripts/ci-*.sh steps and the build scripts, sourced by each:
#   top         the source tree          jobs   $LIU_JOBS, default nproc
#   step TEXT   prints TEXT with the seconds since the script started
#   fail TEXT   prints "SCRIPT: TEXT" on stderr and exits 1
# Every build goes through ccache (scripts/deps.sh installs it): CMake's
# launcher variables, and a base directory so that clones share the cache.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${LIU_JOBS:-$(nproc)}
script=$(basename "$0" .sh)
started=$SECONDS
step() { echo "== $script: $* ($((SECONDS - started)) s)"; }
fail() {
    echo "$script: $*" >&2
    exit 1
}
if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_BASEDIR=$top CCACHE_NOHASHDIR=true
fi
