#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages the build, the demo and the tests need, and
# the system group liu of the example configuration
# (liud's tests: python3, promtool from prometheus; its unit check:
# systemd-analyze from systemd; manual pages: scdoc; liu-snmp: net-snmp's
# agent library, and snmpd, snmptrapd and the snmp clients for its test;
# the Debian packages: dpkg-dev for dpkg-shlibdeps and dpkg-parsechangelog,
# lintian, and python3-debian to read their copyright file).
# Idempotent: packages already present are not touched, and apt-get runs
# only when something is missing.  Needs root (or sudo) for the install.
set -euo pipefail

packages=(
    cmake g++ make pkg-config ccache
    googletest libgtest-dev libgmock-dev
    umockdev libumockdev-dev libglib2.0-dev
    libedit-dev
    nlohmann-json3-dev libinih-dev libsystemd-dev
    scdoc python3 prometheus systemd
    libsnmp-dev snmpd snmptrapd snmp
    dpkg-dev lintian python3-debian
)
if [ "$#" -gt 0 ]; then
    packages+=("$@")
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
# The system group liud's control_group names in the example configuration,
# as the liud package creates it: the demo and the tests run the example
# from the build tree.
getent group liu >/dev/null || $sudo groupadd --system liu

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
        missing+=("$package")
    fi
done
[ "${#missing[@]}" -eq 0 ] && exit 0

echo "deps: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
