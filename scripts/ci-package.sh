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
#     contents as the package table below says; the consumer built again
#     against the unpacked packages;
#  4. check-exports.sh on every libliuDrv.so built, installed and packaged.
source "$(dirname "$0")/ci-lib.sh"
amd64_build=${LIU_BUILD_DIR:-$top/build}
armhf_build=${LIU_ARMHF_BUILD_DIR:-$top/build-armhf}
work=$top/build-ci-package
consumer=$top/tests/consumer
version=$(sed -n 's/^project(libliuDrv VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
libc='libc6 \(>= [0-9.]+\)'

# The packages of one tree, a line each: name, Depends (a regular expression
# for the whole field) and the files it holds, for ARCH and TRIPLE.
row() { # NAME DEPENDS FILE...: one line, its three fields separated by tabs
    local name=$1 depends=$2
    shift 2
    printf '%s\t%s\t%s\n' "$name" "$depends" "$*"
}
package_table() {
    local lib=usr/lib/$2
    row libliudrv1 "$libc" "$lib/libliuDrv.so.1" "$lib/libliuDrv.so.$version"
    row libliutrace1 "$libc, libgcc-s1 \(>= [0-9.]+\), libstdc\+\+6 \(>= [0-9.]+\)" "$lib/libliuTrace.so.1"
    row libliudrv-dev "libliutrace1 \(= $version\), libliudrv1 \(= $version\)" usr/include/LiuDrv.h \
        usr/include/LiuTrace.h "$lib/libliuDrv.so" "$lib/libliuTrace.so" "$lib/pkgconfig/liuDrv.pc" \
        "$lib/pkgconfig/liuTrace.pc" "$lib/cmake/LiuDrv/LiuDrvConfig.cmake" "$lib/cmake/LiuDrv/LiuDrvTargets.cmake"
    local ours="libliutrace1 \(= $version\), libliudrv1 \(= $version\)"
    # What a board installs (library, liuctl, liud) pulls neither umockdev nor
    # GLib: only our libraries and these.
    local runtime='(libc6|libgcc-s1|libstdc\+\+6|libedit2|libinih1|libsystemd0)( \([^)]*\))?'
    row liuctl "$ours(, $runtime)*" usr/bin/liuctl usr/share/man/man1/liuctl.1.gz
    row liud "$ours(, $runtime)*" usr/sbin/liud usr/lib/systemd/system/liud.service \
        usr/share/doc/liud/examples/liud.conf usr/share/man/man8/liud.8.gz usr/share/man/man5/liud.conf.5.gz
    [ "$1" = amd64 ] || return 0 # liusim needs umockdev, liu-snmp net-snmp: PC packages
    row liusim "umockdev, .*" usr/bin/liusim usr/share/man/man1/liusim.1.gz
    # liu-snmp talks to liud over its socket: neither liud nor the driver.
    local snmp='(libc6|libgcc-s1|libstdc\+\+6|libinih1|libsnmp40)( \([^)]*\))?'
    row liu-snmp "$snmp(, $snmp)*" usr/sbin/liu-snmp usr/lib/systemd/system/liu-snmp.service \
        usr/share/man/man8/liu-snmp.8.gz usr/share/doc/liu-snmp/examples/liu-snmp.conf \
        usr/share/doc/liu-snmp/examples/snmpd-liu.conf
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
        deb=$build/packages/${name}_${version}_$arch.deb
        [ -f "$deb" ] || fail "package $deb not built"
        [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$deb: not $arch"
        field=$(dpkg-deb -f "$deb" Depends)
        [[ "$field" =~ ^${depends}$ ]] || fail "$deb: Depends '$field' does not match '$depends'"
        contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
        for file in $files; do
            grep -qx "./$file" <<<"$contents" || fail "$deb: $file missing"
        done
        dpkg-deb -x "$deb" "$unpacked"
        echo "package $(basename "$deb"): Depends: $field"
    done
    "$top/scripts/check-exports.sh" "$unpacked/usr/lib/$triple/libliuDrv.so.1"
    make -s -C "$consumer" OUT="$work/$arch-from-packages" CC="$cc" PKG_CONFIG_SYSROOT_DIR="$unpacked" PKG_CONFIG_LIBDIR="$unpacked/usr/lib/$triple/pkgconfig"
done

# ---- 4. exported symbols -----------------------------------------------------------
step "exported symbols of the built and installed libraries"
for lib in "$amd64_build/drvs/liuDrv/libliuDrv.so" "$amd64_lib/libliuDrv.so.1" \
    "$armhf_build/drvs/liuDrv/libliuDrv.so" "$armhf_lib/libliuDrv.so.1"; do
    "$top/scripts/check-exports.sh" "$lib"
done
step "done"
