#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks a built libliuDrv.so (PC or board build): its exported symbols are
# exactly the names in drvs/liuDrv/exported-symbols.txt, libc is its only
# NEEDED library, and it imports no allocator (malloc and its family,
# operator new): the library uses no heap.  The binutils are picked by the library's ELF machine
# (arm-linux-gnueabihf-readelf for ARM) unless a tool prefix is given.
# Usage: check-exports.sh LIBRARY [TOOL-PREFIX]   (e.g. arm-linux-gnueabihf-)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "$#" -lt 1 ] || [ "$#" -gt 2 ]; then
    echo "Usage: check-exports.sh LIBRARY [TOOL-PREFIX]" >&2
    exit 2
fi
lib=$1
expected="$top/drvs/liuDrv/exported-symbols.txt"
if [ ! -f "$lib" ]; then
    echo "check-exports: $lib: no such file" >&2
    exit 1
fi

machine=$(LC_ALL=C readelf -h "$lib" | sed -n 's/^ *Machine: *//p')
if [ "$#" -eq 2 ]; then
    prefix=$2
else
    case "$machine" in
    ARM) prefix=arm-linux-gnueabihf- ;;
    *) prefix= ;;
    esac
fi
readelf="${prefix}readelf"
if ! command -v "$readelf" >/dev/null; then
    echo "check-exports: $readelf not found (install binutils-${prefix%-})" >&2
    exit 1
fi

# Defined global and weak symbols of the dynamic symbol table, without any
# version suffix.
actual=$(LC_ALL=C "$readelf" --dyn-syms -W "$lib" |
    awk '$1 ~ /^[0-9]+:$/ && $7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK") &&
         $4 != "SECTION" && $4 != "FILE" { sub(/@.*/, "", $8); print $8 }' | sort -u)
if ! diff -u <(sort -u "$expected") <(echo "$actual"); then
    echo "check-exports: $lib exports other names than $expected" >&2
    exit 1
fi

needed=$(LC_ALL=C "$readelf" -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
if [ "$needed" != "libc.so.6" ]; then
    echo "check-exports: $lib needs: $(echo $needed) (expected libc.so.6 only)" >&2
    exit 1
fi
allocators=$(LC_ALL=C "$readelf" --dyn-syms -W "$lib" |
    awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }' |
    grep -E '^(malloc|calloc|realloc|reallocarray|free|aligned_alloc|posix_memalign|memalign|valloc|pvalloc|strn?dup|_Zn[wa].*)$' || true)
if [ -n "$allocators" ]; then
    echo "check-exports: $lib imports an allocator: $(echo $allocators)" >&2
    exit 1
fi
soname=$(LC_ALL=C "$readelf" -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
echo "check-exports: $lib ($machine${soname:+, soname $soname}) exports" \
    "$(echo "$actual" | wc -l) names, needs only libc, imports no allocator"
