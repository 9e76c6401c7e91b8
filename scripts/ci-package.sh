#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Install and packaging checks from the trees CI has built: the PC tree of
# scripts/test.sh (build/, $LIU_BUILD_DIR) and the board tree of ci-armhf.sh
# (build-armhf/, $LIU_ARMHF_BUILD_DIR); work directory build-ci-package/.
#  1. cmake --install: amd64 into a prefix, armhf into a sysroot (DESTDIR);
#     the files a user relies on are there, the soname is versioned;
#  2. tests/consumer built against each installed tree both ways
#     (pkg-config, find_package) and run: on amd64 under the installed
#     liusim and without a chip, on armhf under qemu-arm without a chip;
#  3. the Debian packages (CPack) of each tree: architecture, dependencies and
#     contents as the package table below says; no error or warning from
#     lintian; the copyright file machine-readable, the changelog's version
#     the package's; liud Type=notify with a watchdog and linked with
#     libsystemd; no run path in any packaged binary; the consumer built
#     again against the unpacked packages;
#  4. check-exports.sh on every libliuDrv.so built, installed and packaged;
#  5. the amd64 packages installed with dpkg on this machine (as root),
#     installed again over themselves, and purged: every file dpkg lists is
#     there, nothing appears that dpkg does not list, liud's group exists,
#     and after the purge nothing of them is left but the group, as Debian
#     leaves system groups.
source "$(dirname "$0")/ci-lib.sh"
amd64_build=${LIU_BUILD_DIR:-$top/build}
armhf_build=${LIU_ARMHF_BUILD_DIR:-$top/build-armhf}
work=$top/build-ci-package
consumer=$top/tests/consumer
version=$(sed -n 's/^project(libliuDrv VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
# The packages' version: the changelog's top entry (CMake refuses a project
# version without one).
debversion=$(dpkg-parsechangelog -l "$top/packaging/changelog" -S Version)
[ "${debversion%-*}" = "$version" ] || fail "packaging/changelog is at $debversion, the project at $version"
libc='libc6 \(>= [0-9.]+\)'

# The packages of one tree, a line each: name, Depends (a regular expression
# for the whole field) and the files it holds, for ARCH and TRIPLE.  Every
# package also holds its copyright file, changelog and lintian overrides.
row() { # NAME DEPENDS FILE...: one line, its three fields separated by tabs
    local name=$1 depends=$2
    shift 2
    printf '%s\t%s\t%s\n' "$name" "$depends" "$* usr/share/doc/$name/copyright \
usr/share/doc/$name/changelog.Debian.gz usr/share/lintian/overrides/$name"
}
package_table() {
    local lib=usr/lib/$2
    row libliudrv1 "$libc" "$lib/libliuDrv.so.1" "$lib/libliuDrv.so.$version"
    row libliutrace1 "$libc, libgcc-s1 \(>= [0-9.]+\), libstdc\+\+6 \(>= [0-9.]+\)" "$lib/libliuTrace.so.1"
    row libliudrv-dev "libliutrace1 \(= $debversion\), libliudrv1 \(= $debversion\)" usr/include/LiuDrv.h \
        usr/include/LiuTrace.h "$lib/libliuDrv.so" "$lib/libliuTrace.so" "$lib/pkgconfig/liuDrv.pc" \
        "$lib/pkgconfig/liuTrace.pc" "$lib/cmake/LiuDrv/LiuDrvConfig.cmake" "$lib/cmake/LiuDrv/LiuDrvTargets.cmake"
    local ours="libliutrace1 \(= $debversion\), libliudrv1 \(= $debversion\)"
    # What a board installs (library, liuctl, liud) pulls neither umockdev nor
    # GLib: only our libraries and these (liud: systemd-sysusers for its group).
    local runtime='(libc6|libgcc-s1|libstdc\+\+6|libedit2|libinih1|libsystemd0)( \([^)]*\))?'
    local sysusers='systemd \| systemd-standalone-sysusers \| systemd-sysusers'
    row liuctl "$ours(, $runtime)*" usr/bin/liuctl usr/share/man/man1/liuctl.1.gz
    row liud "$ours, $sysusers(, $runtime)*" usr/sbin/liud usr/lib/systemd/system/liud.service \
        usr/lib/sysusers.d/liud.conf usr/share/doc/liud/examples/liud.conf usr/share/doc/liud/liud.md.gz \
        usr/share/man/man8/liud.8.gz usr/share/man/man5/liud.conf.5.gz
    [ "$1" = amd64 ] || return 0 # liusim needs umockdev, liu-snmp net-snmp: PC packages
    row liusim "umockdev, .*" usr/bin/liusim usr/share/man/man1/liusim.1.gz
    # liu-snmp talks to liud over its socket: neither liud nor the driver.
    local snmp='(libc6|libgcc-s1|libstdc\+\+6|libinih1|libsnmp40)( \([^)]*\))?'
    row liu-snmp "$snmp(, $snmp)*" usr/sbin/liu-snmp usr/lib/systemd/system/liu-snmp.service \
        usr/share/man/man8/liu-snmp.8.gz usr/share/doc/liu-snmp/examples/liu-snmp.conf \
        usr/share/doc/liu-snmp/examples/snmpd-liu.conf usr/share/doc/liu-snmp/snmp.md.gz
}

# with_run_path FILE...: those of FILE... that are ELF files with a run path.
with_run_path() {
    local file dynamic
    for file in "$@"; do
        dynamic=$(LC_ALL=C readelf -d "$file" 2>/dev/null || true)
        if grep -qE '\((RUNPATH|RPATH)\)' <<<"$dynamic"; then
            echo "$file"
        fi
    done
}

[ -f "$amd64_build/CMakeCache.txt" ] || fail "no PC tree in $amd64_build: run scripts/test.sh first"
[ -f "$armhf_build/CMakeCache.txt" ] || fail "no board tree in $armhf_build: run scripts/ci-armhf.sh first"
step "dependencies"
"$top/scripts/deps.sh"
"$top/scripts/deps-armhf.sh"
rm -rf "$work"
mkdir -p "$work"

# ---- 1. install ---------------------------------------------------------------
amd64_root=$work/stage-amd64
armhf_root=$work/stage-armhf
step "install"
cmake --install "$amd64_build" --prefix "$amd64_root/usr" >/dev/null
DESTDIR=$armhf_root cmake --install "$armhf_build" >/dev/null
for arch in amd64 armhf; do
    root=$amd64_root triple=x86_64-linux-gnu prefix=$amd64_root/usr
    if [ "$arch" = armhf ]; then
        root=$armhf_root triple=arm-linux-gnueabihf prefix=/usr
    fi
    lib=$root/usr/lib/$triple
    package_table "$arch" "$triple" | while IFS=$'\t' read -r _ _ files; do
        for file in $files; do
            [ -e "$root/$file" ] || fail "$arch install: $file missing"
        done
    done
    [ "$(readlink "$lib/libliuDrv.so")" = libliuDrv.so.1 ] || fail "$arch: libliuDrv.so does not link to .so.1"
    LC_ALL=C readelf -d "$lib/libliuDrv.so.$version" | grep -q 'SONAME.*\[libliuDrv\.so\.1\]' ||
        fail "$arch: soname of libliuDrv is not libliuDrv.so.1"
    grep -qx "prefix=$prefix" "$lib/pkgconfig/liuDrv.pc" || fail "$arch: liuDrv.pc does not name $prefix"
done
# The sysroot's prefix is /usr: its programs find the libraries as the
# system's, without a run path.
stray=$(with_run_path "$armhf_root"/usr/bin/* "$armhf_root"/usr/sbin/*)
[ -z "$stray" ] || fail "armhf sysroot: programs with a run path: $stray"

# ---- 2. the consumer ------------------------------------------------------------
# expect_run LABEL STATUS TEXT COMMAND...: exit status and a line of the output.
expect_run() {
    local label=$1 status=$2 text=$3 output actual=0
    shift 3
    output=$("$@" 2>&1) || actual=$?
    [ "$actual" -eq "$status" ] && grep -qF -- "$text" <<<"$output" ||
        fail "$label: exit $actual, expected $status with '$text':"$'\n'"$output"
    echo "ok: $label"
}
step "consumers"
amd64_lib=$amd64_root/usr/lib/x86_64-linux-gnu
armhf_lib=$armhf_root/usr/lib/arm-linux-gnueabihf
make -s -C "$consumer" OUT="$work/consumer-amd64" PKG_CONFIG_LIBDIR="$amd64_lib/pkgconfig"
cmake -S "$consumer" -B "$work/amd64-cmake" -DCMAKE_PREFIX_PATH="$amd64_root/usr" >/dev/null
make -s -C "$consumer" OUT="$work/consumer-armhf" CC=arm-linux-gnueabihf-gcc \
    PKG_CONFIG_SYSROOT_DIR="$armhf_root" PKG_CONFIG_LIBDIR="$armhf_lib/pkgconfig"
cmake -S "$consumer" -B "$work/armhf-cmake" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-armhf.cmake" \
    -DLIU_SYSROOT="$armhf_root" >/dev/null
for way in amd64 armhf; do
    cmake --build "$work/$way-cmake" >/dev/null
done
for program in "$work/consumer-amd64" "$work/amd64-cmake/consumer"; do
    expect_run "$program under liusim" 0 "consumer: port 4 line code 2, transmitter up, receiver up" \
        env LD_LIBRARY_PATH="$amd64_lib" "$amd64_root/usr/bin/liusim" -- "$program"
    expect_run "$program without a chip" 1 "liuDrv_init: open failed!" \
        env LD_LIBRARY_PATH="$amd64_lib" "$program"
done
for program in "$work/consumer-armhf" "$work/armhf-cmake/consumer"; do
    expect_run "$program under qemu-arm without a chip" 1 "liuDrv_init: open failed!" \
        env LD_LIBRARY_PATH="$armhf_lib" qemu-arm -L /usr/arm-linux-gnueabihf "$program"
done
# Installed tools run from their prefix without LD_LIBRARY_PATH (run path $ORIGIN/../lib...).
for tool in bin/liuctl bin/liusim sbin/liud sbin/liu-snmp; do
    expect_run "installed $tool" 0 "$version" "$amd64_root/usr/$tool" --version
done
# The systemd units as installed, ExecStart pointed at the installed daemons
# and Documentation= at the installed manual pages.
mkdir -p "$work/units"
for daemon in liud liu-snmp; do
    sed "s|^ExecStart=/usr/sbin/|ExecStart=$amd64_root/usr/sbin/|" \
        "$amd64_root/usr/lib/systemd/system/$daemon.service" >"$work/units/$daemon.service"
    grep -q "^ExecStart=$amd64_root/usr/sbin/$daemon\b" "$work/units/$daemon.service" ||
        fail "$daemon.service does not start /usr/sbin/$daemon"
    MANPATH="$amd64_root/usr/share/man" systemd-analyze verify "$work/units/$daemon.service" ||
        fail "$daemon.service does not pass systemd-analyze verify"
    echo "ok: $daemon.service passes systemd-analyze verify"
done

# ---- 3. packages ----------------------------------------------------------------
# The copyright file every package ships: machine-readable (DEP-5), every
# file covered, every license with its text.
/usr/bin/python3 - "$top/packaging/copyright" <<'PYTHON' || fail "packaging/copyright is not a machine-readable copyright file"
import sys
from debian.copyright import Copyright
with open(sys.argv[1], encoding="utf-8") as source:
    copyright = Copyright(source, strict=True)
texts = {p.license.synopsis for p in copyright.all_license_paragraphs() if p.license.text}
covered = copyright.find_files_paragraph("any/file")
assert covered is not None, "no Files: * paragraph"
for paragraph in copyright.all_files_paragraphs():
    assert paragraph.license.text or paragraph.license.synopsis in texts, paragraph.license.synopsis
PYTHON
for arch in amd64 armhf; do
    build=$amd64_build triple=x86_64-linux-gnu cc=cc
    if [ "$arch" = armhf ]; then
        build=$armhf_build triple=arm-linux-gnueabihf cc=arm-linux-gnueabihf-gcc
    fi
    step "$arch packages"
    rm -rf "$build/packages"
    (cd "$build" && cpack -G DEB >/dev/null)
    unpacked=$work/unpacked-$arch
    package_table "$arch" "$triple" | while IFS=$'\t' read -r name depends files; do
        deb=$build/packages/${name}_${debversion}_$arch.deb
        [ -f "$deb" ] || fail "package $deb not built"
        [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$deb: not $arch"
        field=$(dpkg-deb -f "$deb" Depends)
        [[ "$field" =~ ^${depends}$ ]] || fail "$deb: Depends '$field' does not match '$depends'"
        contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
        for file in $files; do
            grep -qx "./$file" <<<"$contents" || fail "$deb: $file missing"
        done
        dpkg-deb -x "$deb" "$unpacked"
        cmp -s "$unpacked/usr/share/doc/$name/copyright" "$top/packaging/copyright" ||
            fail "$deb: its copyright file is not packaging/copyright"
        changelog=$(zcat "$unpacked/usr/share/doc/$name/changelog.Debian.gz" | dpkg-parsechangelog -l - -S Version)
        [ "$changelog" = "$(dpkg-deb -f "$deb" Version)" ] || fail "$deb: changelog at $changelog"
        echo "package $(basename "$deb"): Depends: $field"
    done
    # Overrides ship in the packages, each with its reason.
    lintian --fail-on error,warning "$build"/packages/*.deb || fail "$arch packages: lintian reports errors or warnings"
    echo "ok: lintian reports no error and no warning on the $arch packages"
    mapfile -t files < <(find "$unpacked" -type f)
    stray=$(with_run_path "${files[@]}")
    [ -z "$stray" ] || fail "$arch packages: binaries with a run path: $stray"
    # liud's group as the postinst's systemd-sysusers creates it on a system
    # without it (this machine has it already: scripts/deps.sh).
    sysroot=$work/sysusers-$arch
    mkdir -p "$sysroot/etc" "$sysroot/usr/lib/sysusers.d"
    cp "$unpacked/usr/lib/sysusers.d/liud.conf" "$sysroot/usr/lib/sysusers.d/"
    systemd-sysusers --root="$sysroot" liud.conf
    gid=$(sed -n 's/^liu:x:\([0-9]*\):$/\1/p' "$sysroot/etc/group")
    [ -n "$gid" ] && [ "$gid" -lt 1000 ] || fail "$arch liud: its sysusers.d file does not make liu a system group"
    # The board's liud as the PC's: ready when configured, watched by systemd.
    unit=$unpacked/usr/lib/systemd/system/liud.service
    grep -qx 'Type=notify' "$unit" && grep -qE '^WatchdogSec=[1-9]' "$unit" ||
        fail "$arch liud.service: not Type=notify with WatchdogSec="
    grep -qF '[libsystemd.so.0]' <<<"$(LC_ALL=C readelf -d "$unpacked/usr/sbin/liud")" ||
        fail "$arch liud does not link libsystemd.so.0"
    echo "ok: $arch liud is Type=notify with a watchdog and links libsystemd.so.0"
    "$top/scripts/check-exports.sh" "$unpacked/usr/lib/$triple/libliuDrv.so.1"
    make -s -C "$consumer" OUT="$work/$arch-from-packages" CC="$cc" PKG_CONFIG_SYSROOT_DIR="$unpacked" PKG_CONFIG_LIBDIR="$unpacked/usr/lib/$triple/pkgconfig"
done

# ---- 4. exported symbols -----------------------------------------------------------
step "exported symbols of the built and installed libraries"
for lib in "$amd64_build/drvs/liuDrv/libliuDrv.so" "$amd64_lib/libliuDrv.so.1" \
    "$armhf_build/drvs/liuDrv/libliuDrv.so" "$armhf_lib/libliuDrv.so.1"; do
    "$top/scripts/check-exports.sh" "$lib"
done

# ---- 5. dpkg: install, install again, purge ---------------------------------------
# On this machine, as root: the amd64 packages (the armhf ones cannot be
# installed beside them) go through what an operator's dpkg does with them.
# A run of this script on the same machine waits for the other's to end.
step "amd64 packages installed, installed again and purged with dpkg"
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}
dpkg_run() { # dpkg ARGS..., waiting while apt or another dpkg holds its lock
    local output tries=0
    until output=$(LC_ALL=C as_root dpkg "$@" 2>&1); do
        if grep -q 'lock' <<<"$output" && [ $((tries += 1)) -lt 60 ]; then
            sleep 2
            continue
        fi
        fail "dpkg $*:"$'\n'"$output"
    done
}
# Every path of the trees a package may touch, dpkg's and apt's state aside.
snapshot() {
    find /etc /usr /var/lib /opt -xdev \( -path /var/lib/dpkg -o -path /var/lib/apt \) -prune \
        -o -print 2>/dev/null | LC_ALL=C sort
}
# unowned PATH...: those of PATH... that no installed package lists.
unowned() {
    [ "$#" -gt 0 ] || return 0
    LC_ALL=C dpkg-query -S "$@" 2>&1 >/dev/null | sed -n 's/^dpkg-query: no path found matching pattern //p'
}
# What the maintainer scripts may add beside the packages' files: the units'
# state of deb-systemd-helper (gone with the purge), and the backups
# systemd-sysusers makes of the group files when it adds liud's group.
scripts_state='^/var/lib/systemd/deb-systemd-helper-enabled(/|$)'
group_backups='^/etc/(group|gshadow)-$'
mapfile -t packages < <(package_table amd64 x86_64-linux-gnu | cut -f1)
debs=()
for name in "${packages[@]}"; do
    debs+=("$amd64_build/packages/${name}_${debversion}_amd64.deb")
done
exec 9>/run/lock/liudrv-ci-package.lock
flock 9
trap 'as_root dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true' EXIT
dpkg_run --purge "${packages[@]}"
before=$(snapshot)

dpkg_run --install "${debs[@]}"
for name in "${packages[@]}"; do
    [ "$(dpkg-query -W -f='${Status}' "$name")" = "install ok installed" ] || fail "$name is not installed"
    while IFS= read -r path; do
        [ -e "$path" ] || [ -L "$path" ] || fail "$name: $path, which dpkg lists, is missing"
    done < <(dpkg-query -L "$name")
done
installed=$(snapshot)
mapfile -t added < <(comm -13 <(echo "$before") <(echo "$installed") | grep -Ev "$scripts_state|$group_backups")
stray=$(unowned "${added[@]}")
[ -z "$stray" ] || fail "installed: files that no package lists:"$'\n'"$stray"
[ -z "$(comm -23 <(echo "$before") <(echo "$installed"))" ] || fail "installing removed files"
gid=$(getent group liu | cut -d: -f3) || fail "installed: no group liu"
[ "$gid" -lt 1000 ] || fail "installed: liu is not a system group (gid $gid)"
grep -qF 'libliuDrv.so.1 ' <<<"$(ldconfig -p)" || fail "installed: libliuDrv.so.1 is not in the loader's cache"
for tool in /usr/bin/liuctl /usr/sbin/liud /usr/sbin/liu-snmp /usr/bin/liusim; do
    expect_run "$tool from the package" 0 "$version" "$tool" --version
done
echo "ok: ${#packages[@]} packages installed, every listed file there, no other (group liu, gid $gid)"

dpkg_run --install "${debs[@]}"
[ "$(snapshot)" = "$installed" ] || fail "installed again: the files differ:"$'\n'"$(diff <(echo "$installed") <(snapshot))"
echo "ok: installed again over the same version, the same files"

dpkg_run --purge "${packages[@]}"
purged=$(snapshot)
mapfile -t added < <(comm -13 <(echo "$before") <(echo "$purged") | grep -Ev "$group_backups")
stray=$(unowned "${added[@]}")
[ -z "$stray" ] || fail "purged: left behind:"$'\n'"$stray"
[ -z "$(comm -23 <(echo "$before") <(echo "$purged"))" ] || fail "purging removed files it did not install"
getent group liu >/dev/null || fail "purged: the group liu is gone (Debian leaves system groups)"
echo "ok: purged, nothing left but the system group liu"
trap - EXIT
step "done"
