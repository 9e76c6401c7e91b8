#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Install and packaging checks in CI, for the PC (amd64) and the board (armhf):
#  1. release builds of the library, trace facility and tools (the armhf tree
#     of ci-armhf.sh is reused when it exists);
#  2. cmake --install: amd64 into a prefix, armhf into a sysroot (DESTDIR);
#     every file a user relies on is there, the soname is versioned;
#  3. the consumer (tests/consumer) built against each installed tree both
#     ways, pkg-config (Makefile) and find_package (CMakeLists.txt), and run:
#     on amd64 under the installed liusim, on armhf under qemu-arm;
#  4. Debian packages (CPack DEB) inspected with dpkg-deb: names, contents,
#     architecture and dependencies (what a board installs, libraries, liuctl
#     and liud, pulls neither umockdev nor GLib; liu-snmp neither liud nor
#     the driver); the consumer built again against the unpacked packages;
#     the systemd units of liud and liu-snmp pass systemd-analyze verify;
#  5. check-exports.sh on every libliuDrv.so built, installed and packaged.
# Work directory: $LIU_PACKAGE_WORK_DIR, default build-ci-package.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${LIU_PACKAGE_WORK_DIR:-$top/build-ci-package}
armhf_build=${LIU_ARMHF_BUILD_DIR:-$top/build-armhf}
jobs=${LIU_JOBS:-$(nproc)}
version=$(sed -n 's/^project(libliuDrv VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
start=$SECONDS
step() { echo "== ci-package: $* ($((SECONDS - start)) s)"; }
fail() {
    echo "ci-package: $*" >&2
    exit 1
}

step "dependencies"
"$top/scripts/deps.sh"
"$top/scripts/deps-armhf.sh"
rm -rf "$work/stage" "$work/consumer" "$work/unpacked"
mkdir -p "$work"

# ---- 1. release builds -------------------------------------------------------
amd64_build=$work/amd64
step "amd64 release build"
cmake --preset amd64-release -B "$amd64_build" -DLIU_BUILD_TESTS=OFF >/dev/null
cmake --build "$amd64_build" -j"$jobs"
step "armhf release build"
if [ ! -f "$armhf_build/CMakeCache.txt" ]; then
    armhf_build=$work/armhf
    cmake --preset armhf -B "$armhf_build" -DLIU_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$armhf_build" -j"$jobs"

# ---- 2. install ----------------------------------------------------------------
amd64_prefix=$work/stage/amd64
armhf_sysroot=$work/stage/armhf-sysroot
amd64_libdir=$amd64_prefix/lib/x86_64-linux-gnu
armhf_libdir=$armhf_sysroot/usr/lib/arm-linux-gnueabihf

step "install amd64 into a prefix"
cmake --install "$amd64_build" --prefix "$amd64_prefix" >/dev/null
step "install armhf into a sysroot (DESTDIR)"
DESTDIR=$armhf_sysroot cmake --install "$armhf_build" >/dev/null

# check_tree ROOT PREFIX INCLUDEDIR LIBDIR TOOL...: the installed files a
# user relies on (directories relative to ROOT; PREFIX as the .pc files name it).
check_tree() {
    local root=$1 prefix=$2 includedir=$3 libdir=$4
    shift 4
    local path
    for path in "$includedir/LiuDrv.h" "$includedir/LiuTrace.h" \
        "$libdir/libliuDrv.so.$version" "$libdir/libliuTrace.so.$version" \
        "$libdir/pkgconfig/liuDrv.pc" "$libdir/pkgconfig/liuTrace.pc" \
        "$libdir/cmake/LiuDrv/LiuDrvConfig.cmake" \
        "$libdir/cmake/LiuDrv/LiuDrvConfigVersion.cmake" \
        "$libdir/cmake/LiuDrv/LiuDrvTargets.cmake" "$@"; do
        [ -f "$root/$path" ] || fail "$root: $path missing"
    done
    [ "$(readlink "$root/$libdir/libliuDrv.so")" = libliuDrv.so.1 ] ||
        fail "$root: libliuDrv.so does not link to libliuDrv.so.1"
    [ "$(readlink "$root/$libdir/libliuDrv.so.1")" = "libliuDrv.so.$version" ] ||
        fail "$root: libliuDrv.so.1 does not link to libliuDrv.so.$version"
    LC_ALL=C readelf -d "$root/$libdir/libliuDrv.so.$version" | grep -q 'SONAME.*\[libliuDrv\.so\.1\]' ||
        fail "$root: soname of libliuDrv is not libliuDrv.so.1"
    grep -qx "prefix=$prefix" "$root/$libdir/pkgconfig/liuDrv.pc" ||
        fail "$root: liuDrv.pc does not name the prefix $prefix"
    echo "installed tree $root: complete"
}
amd64_tools=()
[ -f "$amd64_build/tools/liuctl/liuctl" ] && amd64_tools+=(bin/liuctl share/man/man1/liuctl.1.gz)
[ -f "$amd64_build/tools/liud/liud" ] && amd64_tools+=(sbin/liud lib/systemd/system/liud.service
    share/man/man8/liud.8.gz share/man/man5/liud.conf.5.gz share/doc/liud/examples/liud.conf)
[ -f "$amd64_build/sim/liusim/liusim" ] && amd64_tools+=(bin/liusim share/man/man1/liusim.1.gz)
[ -f "$amd64_build/tools/liu-snmp/liu-snmp" ] && amd64_tools+=(sbin/liu-snmp
    lib/systemd/system/liu-snmp.service share/man/man8/liu-snmp.8.gz
    share/doc/liu-snmp/examples/liu-snmp.conf share/doc/liu-snmp/examples/snmpd-liu.conf)
armhf_tools=()
[ -f "$armhf_build/tools/liuctl/liuctl" ] && armhf_tools+=(usr/bin/liuctl)
[ -f "$armhf_build/tools/liud/liud" ] && armhf_tools+=(usr/sbin/liud)
check_tree "$amd64_prefix" "$amd64_prefix" include lib/x86_64-linux-gnu "${amd64_tools[@]}"
check_tree "$armhf_sysroot" /usr usr/include usr/lib/arm-linux-gnueabihf "${armhf_tools[@]}"

# ---- 3. the consumer, both ways ----------------------------------------------
consumer_src=$top/tests/consumer
out=$work/consumer
mkdir -p "$out"

step "consumer against the amd64 prefix: pkg-config and find_package"
make -s -C "$consumer_src" OUT="$out/amd64-pkgconfig" \
    PKG_CONFIG_PATH="$amd64_libdir/pkgconfig"
cmake -S "$consumer_src" -B "$out/amd64-cmake" -DCMAKE_PREFIX_PATH="$amd64_prefix" >/dev/null
cmake --build "$out/amd64-cmake"

step "consumer against the armhf sysroot: pkg-config and find_package"
make -s -C "$consumer_src" OUT="$out/armhf-pkgconfig" CC=arm-linux-gnueabihf-gcc \
    PKG_CONFIG_SYSROOT_DIR="$armhf_sysroot" PKG_CONFIG_LIBDIR="$armhf_libdir/pkgconfig"
cmake -S "$consumer_src" -B "$out/armhf-cmake" \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-armhf.cmake" -DLIU_SYSROOT="$armhf_sysroot" >/dev/null
cmake --build "$out/armhf-cmake"
grep -q "LiuDrv_DIR:PATH=$armhf_libdir/cmake/LiuDrv" "$out/armhf-cmake/CMakeCache.txt" ||
    fail "armhf consumer did not find the LiuDrv package in the sysroot"

for program in "$out/amd64-pkgconfig" "$out/amd64-cmake/consumer"; do
    LC_ALL=C readelf -d "$program" | grep -q 'NEEDED.*\[libliuDrv\.so\.1\]' ||
        fail "$program does not need libliuDrv.so.1"
done

step "run the consumers"
# expect_run LABEL EXPECTED_STATUS EXPECTED_TEXT COMMAND...: runs a program
# and checks its exit status and that its output holds the text.
expect_run() {
    local label=$1 status=$2 text=$3 output
    shift 3
    set +e
    output=$("$@" 2>&1)
    local actual=$?
    set -e
    if [ "$actual" -ne "$status" ] || ! grep -qF -- "$text" <<<"$output"; then
        echo "$output" >&2
        fail "$* exited $actual (expected $status with '$text')"
    fi
    echo "ok: $label: exit $status, $(grep -F -- "$text" <<<"$output" | head -1)"
}
for way in pkgconfig cmake; do
    program=$out/amd64-$way
    [ "$way" = cmake ] && program=$out/amd64-cmake/consumer
    if [ -x "$amd64_prefix/bin/liusim" ]; then
        # The installed liusim serves the simulated chip to the consumer.
        expect_run "amd64 consumer ($way) under liusim" 0 \
            "consumer: port 4 line code 2, transmitter up, receiver up" \
            env LD_LIBRARY_PATH="$amd64_libdir" "$amd64_prefix/bin/liusim" -- "$program"
    fi
    # Without a chip the library loads, traces through libliuTrace and refuses.
    expect_run "amd64 consumer ($way) without a chip" 1 "liuDrv_init: open failed!" \
        env LD_LIBRARY_PATH="$amd64_libdir" "$program"
done
for way in pkgconfig cmake; do
    program=$out/armhf-$way
    [ "$way" = cmake ] && program=$out/armhf-cmake/consumer
    file -b "$program" | grep -q "ELF 32-bit LSB.*ARM" || fail "$program is not an armhf program"
    expect_run "armhf consumer ($way) under qemu-arm, without a chip" 1 "liuDrv_init: open failed!" \
        env LD_LIBRARY_PATH="$armhf_libdir" qemu-arm -L /usr/arm-linux-gnueabihf "$program"
done
for tool in bin/liuctl sbin/liud sbin/liu-snmp; do
    if [ -x "$amd64_prefix/$tool" ]; then
        expect_run "installed $tool" 0 "$version" \
            env LD_LIBRARY_PATH="$amd64_libdir" "$amd64_prefix/$tool" --version
    fi
done
if [ -f "$amd64_prefix/lib/systemd/system/liud.service" ] && command -v systemd-analyze >/dev/null; then
    # The unit as installed, its ExecStart pointed at the installed liud.
    mkdir -p "$work/unit"
    sed "s|^ExecStart=/usr/sbin/liud|ExecStart=$amd64_prefix/sbin/liud|" \
        "$amd64_prefix/lib/systemd/system/liud.service" >"$work/unit/liud.service"
    grep -q "^ExecStart=$amd64_prefix/sbin/liud " "$work/unit/liud.service" ||
        fail "liud.service: ExecStart does not start /usr/sbin/liud"
    # Its Documentation= pages are the installed ones.
    MANPATH="$amd64_prefix/share/man" systemd-analyze verify "$work/unit/liud.service" ||
        fail "liud.service does not pass systemd-analyze verify"
    echo "ok: liud.service passes systemd-analyze verify"
fi
if [ -f "$amd64_prefix/lib/systemd/system/liu-snmp.service" ] && command -v systemd-analyze >/dev/null; then
    mkdir -p "$work/unit"
    sed "s|^ExecStart=/usr/sbin/liu-snmp|ExecStart=$amd64_prefix/sbin/liu-snmp|" \
        "$amd64_prefix/lib/systemd/system/liu-snmp.service" >"$work/unit/liu-snmp.service"
    grep -q "^ExecStart=$amd64_prefix/sbin/liu-snmp$" "$work/unit/liu-snmp.service" ||
        fail "liu-snmp.service: ExecStart does not start /usr/sbin/liu-snmp"
    MANPATH="$amd64_prefix/share/man" systemd-analyze verify "$work/unit/liu-snmp.service" ||
        fail "liu-snmp.service does not pass systemd-analyze verify"
    echo "ok: liu-snmp.service passes systemd-analyze verify"
fi

# ---- 4. Debian packages --------------------------------------------------------
# check_package DEB ARCH DEPENDS-REGEX PATH...: architecture, dependencies
# (a regular expression for the whole field) and contents of one package.
check_package() {
    local deb=$1 arch=$2 depends=$3
    shift 3
    [ -f "$deb" ] || fail "package $deb not built"
    local field contents path
    field=$(dpkg-deb -f "$deb" Architecture)
    [ "$field" = "$arch" ] || fail "$deb: Architecture $field, expected $arch"
    field=$(dpkg-deb -f "$deb" Depends)
    [[ "$field" =~ ^${depends}$ ]] || fail "$deb: Depends '$field' does not match '$depends'"
    contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
    for path in "$@"; do
        grep -qx "./$path" <<<"$contents" || fail "$deb: $path missing"
    done
    echo "package $(basename "$deb"): Depends: $field"
}

# check_packages BUILD ARCH MULTIARCH: builds and inspects the packages of one
# build, unpacks them and builds the consumer against the unpacked tree.
check_packages() {
    local build=$1 arch=$2 triple=$3
    local dir=$build/packages
    rm -rf "$dir"
    (cd "$build" && cpack -G DEB >/dev/null)
    local lib=usr/lib/$triple
    local libc='libc6 \(>= [0-9.]+\)'
    check_package "$dir/libliudrv1_${version}_$arch.deb" "$arch" "$libc" \
        "$lib/libliuDrv.so.1" "$lib/libliuDrv.so.$version"
    check_package "$dir/libliutrace1_${version}_$arch.deb" "$arch" \
        "$libc, libgcc-s1 \(>= [0-9.]+\), libstdc\+\+6 \(>= [0-9.]+\)" \
        "$lib/libliuTrace.so.1" "$lib/libliuTrace.so.$version"
    check_package "$dir/libliudrv-dev_${version}_$arch.deb" "$arch" \
        "libliutrace1 \(= $version\), libliudrv1 \(= $version\)" \
        usr/include/LiuDrv.h usr/include/LiuTrace.h "$lib/libliuDrv.so" "$lib/libliuTrace.so" \
        "$lib/pkgconfig/liuDrv.pc" "$lib/pkgconfig/liuTrace.pc" \
        "$lib/cmake/LiuDrv/LiuDrvConfig.cmake" "$lib/cmake/LiuDrv/LiuDrvConfigVersion.cmake" \
        "$lib/cmake/LiuDrv/LiuDrvTargets.cmake"
    local deb ours="libliutrace1 \(= $version\), libliudrv1 \(= $version\)"
    # What a board installs pulls neither umockdev nor GLib: only these.
    local runtime='(libc6|libgcc-s1|libstdc\+\+6|libedit2|libinih1|libsystemd0)( \([^)]*\))?'
    local board="$ours(, $runtime)*"
    check_package "$dir/liuctl_${version}_$arch.deb" "$arch" "$board" usr/bin/liuctl \
        usr/share/man/man1/liuctl.1.gz
    check_package "$dir/liud_${version}_$arch.deb" "$arch" "$board" usr/sbin/liud \
        usr/lib/systemd/system/liud.service usr/share/doc/liud/examples/liud.conf \
        usr/share/man/man8/liud.8.gz usr/share/man/man5/liud.conf.5.gz
    if [ -f "$build/tools/liu-snmp/liu-snmp" ]; then
        # Neither liud nor the driver: net-snmp's library, inih, the C++ runtime.
        local snmp='(libc6|libgcc-s1|libstdc\+\+6|libinih1|libsnmp40)( \([^)]*\))?'
        check_package "$dir/liu-snmp_${version}_$arch.deb" "$arch" "$snmp(, $snmp)*" \
            usr/sbin/liu-snmp usr/lib/systemd/system/liu-snmp.service \
            usr/share/man/man8/liu-snmp.8.gz usr/share/doc/liu-snmp/examples/liu-snmp.conf \
            usr/share/doc/liu-snmp/examples/snmpd-liu.conf
    fi
    if [ -f "$build/sim/liusim/liusim" ]; then
        check_package "$dir/liusim_${version}_$arch.deb" "$arch" "umockdev, .*" usr/bin/liusim \
            usr/share/man/man1/liusim.1.gz
    fi
    [ ! -e "$dir/liudrv-tools_${version}_$arch.deb" ] || fail "liudrv-tools is built again"
    local unpacked=$work/unpacked/$arch
    mkdir -p "$unpacked"
    for deb in "$dir"/*.deb; do
        dpkg-deb -x "$deb" "$unpacked"
    done
    "$top/scripts/check-exports.sh" "$unpacked/$lib/libliuDrv.so.1"
    local cc=cc
    [ "$arch" = armhf ] && cc=arm-linux-gnueabihf-gcc
    make -s -C "$consumer_src" OUT="$out/$arch-from-packages" CC="$cc" \
        PKG_CONFIG_SYSROOT_DIR="$unpacked" PKG_CONFIG_LIBDIR="$unpacked/$lib/pkgconfig"
    echo "consumer built against the unpacked $arch packages"
}
step "amd64 packages"
check_packages "$amd64_build" amd64 x86_64-linux-gnu
step "armhf packages"
check_packages "$armhf_build" armhf arm-linux-gnueabihf

# ---- 5. exported symbols ---------------------------------------------------------
step "exported symbols of the built and installed libraries"
for lib in "$amd64_build/drvs/liuDrv/libliuDrv.so" "$amd64_libdir/libliuDrv.so.1" \
    "$armhf_build/drvs/liuDrv/libliuDrv.so" "$armhf_libdir/libliuDrv.so.1"; do
    "$top/scripts/check-exports.sh" "$lib"
done

step "done"
