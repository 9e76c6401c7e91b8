#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages the build, the demo and the tests need.
# Idempotent: packages already present are not touched, and apt-get runs
# only when something is missing.  Needs root (or sudo) for the install.
set -euo pipefail

packages=(
    cmake g++ make pkg-config ccache
    googletest libgtest-dev libgmock-dev
    umockdev libumockdev-dev libglib2.0-dev
    libedit-dev
)
if [ "$#" -gt 0 ]; then
    packages+=("$@")
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
        missing+=("$package")
    fi
done
[ "${#missing[@]}" -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "deps: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
