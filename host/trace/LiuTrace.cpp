// SPDX-License-Identifier: MIT
// Console trace sink: initTraceSet/tracePrintf for hosts without a trace
// facility, writing the lines that pass the level filter to stderr.
#include "LiuTrace.h"

#include "LiuDrv.h"
#include "TraceText.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

namespace {

constexpr int kLevelNotChosen = -1;

std::atomic<int> minimumLevel{kLevelNotChosen};
std::atomic<int16_t> lastSetId{0};

std::optional<int> parseLevel(const char* text) {
    static constexpr struct {
        const char* name;
        int level;
    } kNames[] = {{"off", LIU_TRACE_SHOW_NONE},
                  {"error", LIU_TRACE_SHOW_ERRORS},
                  {"call", LIU_TRACE_SHOW_CALLS},
                  {"detail", LIU_TRACE_SHOW_DETAILS}};
    for (const auto& entry : kNames) {
        if (std::strcmp(text, entry.name) == 0) {
            return entry.level;
        }
    }
    char* end = nullptr;
    const long number = std::strtol(text, &end, 0);
    if (end == text || *end != '\0' || number < 0 || number > LIU_TRACE_SHOW_NONE) {
        return std::nullopt;
    }
    return static_cast<int>(number);
}

int levelFromEnvironment() {
    const char* text = std::getenv("LIU_TRACE");
    if (text == nullptr) {
        return LIU_TRACE_SHOW_ERRORS;
    }
    if (const auto level = parseLevel(text)) {
        return *level;
    }
    std::fprintf(stderr,
                 "liuTrace: ignoring LIU_TRACE=\"%s\": expected off, error, call, detail or a "
                 "number\n",
                 text);
    return LIU_TRACE_SHOW_ERRORS;
}

// The filter in force before the first line: LIU_TRACE, read once, unless a
// level was set before.
[[gnu::noinline, gnu::cold]] int chooseLevel() {
    static std::once_flag environmentRead;
    std::call_once(environmentRead, [] {
        int notChosen = kLevelNotChosen;
        if (minimumLevel.load() == kLevelNotChosen) {
            minimumLevel.compare_exchange_strong(notChosen, levelFromEnvironment());
        }
    });
    return minimumLevel.load();
}

// The filter in force.  Once a level is chosen this is one relaxed load: a
// line that the filter drops costs a handful of instructions, which matters
// because the driver traces every register write at detail level.
inline int currentLevel() {
    const int level = minimumLevel.load(std::memory_order_relaxed);
    if (level != kLevelNotChosen) [[likely]] {
        return level;
    }
    return chooseLevel();
}

std::string levelName(int level) {
    switch (level) {
    case LIUDRV_TRACE_LEVEL_ERROR:
        return "ERROR";
    case LIUDRV_TRACE_LEVEL_CALL:
        return "CALL";
    case LIUDRV_TRACE_LEVEL_DETAIL:
        return "DETAIL";
    default: {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(level));
        return hex;
    }
    }
}

// One line that passed the filter, formatted and written.  Out of line, so
// that tracePrintf itself stays a level check: it then needs no stack frame
// of its own for the lines the filter drops.
[[gnu::noinline]] void writeLine(int id, int level, const char* source, int line,
                                 const char* format, va_list args) {
    const std::string text = liutrace::formatText(format, args);
    std::string out = levelName(level) + ' ' + std::to_string(id) + ' ' +
                      (source != nullptr ? source : "?") + ':' + std::to_string(line) + ' ' + text;
    if (out.back() != '\n') {
        out += '\n';
    }
    std::fputs(out.c_str(), stderr);
}

} // namespace

extern "C" {

LIU_TRACE_API void liuTrace_setLevel(int level) {
    minimumLevel.store(level);
}

LIU_TRACE_API int liuTrace_level(void) {
    return currentLevel();
}

LIU_TRACE_API int initTraceSet(const char* /*name*/, int /*first*/, int /*last*/,
                               int /*defaultLevel*/, unsigned int /*mask*/, int16_t* id) {
    currentLevel();
    if (id == nullptr) {
        return -1;
    }
    *id = static_cast<int16_t>(lastSetId.fetch_add(1) + 1);
    return 0;
}

LIU_TRACE_API int tracePrintf(int id, int level, unsigned int /*mask*/, const char* source,
                              int line, const char* format, ...) {
    if (level < currentLevel()) [[likely]] {
        return 0;
    }
    va_list args;
    va_start(args, format);
    writeLine(id, level, source, line, format, args);
    va_end(args);
    return 0;
}

} // extern "C"
