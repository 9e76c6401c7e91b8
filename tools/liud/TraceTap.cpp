// SPDX-License-Identifier: MIT
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
const liutool::Log* errorLog = nullptr;

using TracePrintf = int (*)(int, int, unsigned int, const char*, int, const char*, ...);

TracePrintf next() {
    static const auto function = reinterpret_cast<TracePrintf>(dlsym(RTLD_NEXT, "tracePrintf"));
    return function;
}

bool endsWith(const char* text, const char* end) {
    const std::size_t length = std::strlen(text);
    const std::size_t tail = std::strlen(end);
    return length >= tail && std::strcmp(text + length - tail, end) == 0;
}

} // namespace

std::uint64_t liud::failedTransfers() {
    return failed.load();
}

liud::LibraryErrorLog::LibraryErrorLog(const liutool::Log& log) {
    errorLog = &log;
}

liud::LibraryErrorLog::~LibraryErrorLog() {
    errorLog = nullptr;
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
    if (level >= LIUDRV_TRACE_LEVEL_ERROR) {
        if (endsWith(text, "SPI read failure!")) {
            ++failed; // for reads and writes alike
            return 0;
        }
        if (errorLog != nullptr) {
            errorLog->write(liutool::Priority::Error, std::string("liuDrv: ") + text + " (" +
                                                          source + ":" + std::to_string(line) +
                                                          ")");
            return 0;
        }
    }
    const TracePrintf forward = next();
    return forward != nullptr ? forward(id, level, mask, source, line, "%s", text) : 0;
}
