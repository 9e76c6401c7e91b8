// SPDX-License-Identifier: MIT
// The library's trace calls pass through liud on their way to libliuTrace:
// liud defines tracePrintf, which the library's calls bind to first, counts
// the error traces of failed transfers ("<op>: SPI read failure!", for reads
// and writes alike) for the metrics, and hands every call on unchanged to
// the next definition, libliuTrace's.
#include "TraceTap.h"

#include "LiuDrv.h"
#include "LiuTrace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>

namespace {

std::atomic<std::uint64_t> failed{0};

using TracePrintf = int (*)(int, int, unsigned int, const char*, int, const char*, ...);

TracePrintf next() {
    static const auto function = reinterpret_cast<TracePrintf>(dlsym(RTLD_NEXT, "tracePrintf"));
    return function;
}

} // namespace

std::uint64_t liud::failedTransfers() {
    return failed.load();
}

extern "C" int tracePrintf(int id, int level, unsigned int mask, const char* source, int line,
                           const char* format, ...) {
    if (level < LIUDRV_TRACE_LEVEL_ERROR && level < liuTrace_level()) {
        return 0; // filtered out anyway: nothing to count, nothing to format
    }
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    static constexpr char kFailedTransfer[] = "SPI read failure!";
    const std::size_t length = std::strlen(text);
    if (level == LIUDRV_TRACE_LEVEL_ERROR && length >= sizeof kFailedTransfer - 1 &&
        std::strcmp(text + length - (sizeof kFailedTransfer - 1), kFailedTransfer) == 0) {
        ++failed;
    }
    const TracePrintf forward = next();
    return forward != nullptr ? forward(id, level, mask, source, line, "%s", text) : 0;
}
