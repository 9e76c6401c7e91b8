#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages the board (armhf) build, its tests under
# emulation and the packaging checks need, on an amd64 Debian machine:
#   cross compiler and binutils    g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf
#   user-mode emulation            qemu-user (qemu-arm)
#   GoogleTest for the target      libgtest-dev:armhf libgmock-dev:armhf (multiarch)
#   target C/C++ runtime           libc6:armhf libstdc++6:armhf (dpkg-shlibdeps
#                                  computes the armhf packages' dependencies from them)
#   packaging and consumer checks  dpkg-dev pkgconf file make
#   liud's configuration parser    libinih-dev:armhf
#   liud's notifications           libsystemd-dev:armhf (readiness, watchdog)
#   optional: line editing for liuctl on the board  libedit-dev:armhf
# Idempotent: packages already present are not touched, and apt-get runs
# only when something is missing.  Needs root (or sudo) for the install.
set -euo pipefail

required=(
    g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf
    qemu-user
    libc6:armhf libstdc++6:armhf
    libgtest-dev:armhf libgmock-dev:armhf libinih-dev:armhf libsystemd-dev:armhf
    dpkg-dev pkgconf file make
)
optional=(libedit-dev:armhf)

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"
}

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

missing=()
for package in "${required[@]}"; do
    installed "$package" || missing+=("$package")
done
missing_optional=()
for package in "${optional[@]}"; do
    installed "$package" || missing_optional+=("$package")
done
[ "${#missing[@]}" -eq 0 ] && [ "${#missing_optional[@]}" -eq 0 ] && exit 0
# The optional ones are tried once per machine: a stamp remembers a failure.
stamp=/var/tmp/liudrv-deps-armhf.optional-failed
if [ "${#missing[@]}" -eq 0 ] && [ -e "$stamp" ]; then
    exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx armhf; then
    echo "deps-armhf: adding the armhf architecture"
    $sudo dpkg --add-architecture armhf
fi
# A mirror in the middle of a sync can fail one index; the install below
# tells whether what is needed could be had.
$sudo apt-get update -qq || echo "deps-armhf: apt-get update reported errors, going on" >&2

export DEBIAN_FRONTEND=noninteractive
if [ "${#missing[@]}" -gt 0 ]; then
    echo "deps-armhf: installing ${missing[*]}"
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ "${#missing_optional[@]}" -gt 0 ]; then
    echo "deps-armhf: installing (optional) ${missing_optional[*]}"
    if ! $sudo apt-get install -y -qq --no-install-recommends "${missing_optional[@]}"; then
        echo "deps-armhf: ${missing_optional[*]} not installable here: liuctl for armhf is built without line editing" >&2
        $sudo touch "$stamp" || true
    fi
fi
