// SPDX-License-Identifier: MIT
#include "TraceRecorder.h"

#include "LiuDrv.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace liutrace {
namespace {

struct Recorder {
    std::mutex lock;
    std::vector<TraceRecord> records;
    std::vector<std::string> stream;
    int16_t setId = kDefaultTraceSetId;
} recorder;

std::string format(const char* text, va_list args) {
    char buffer[512];
    const int length = std::vsnprintf(buffer, sizeof buffer, text, args);
    return std::string(buffer, length < 0 ? 0 : std::min<std::size_t>(length, sizeof buffer - 1));
}

} // namespace

// clang-format off
std::vector<TraceRecord> records() { std::lock_guard guard(recorder.lock); return recorder.records; }
std::vector<std::string> stream() { std::lock_guard guard(recorder.lock); return recorder.stream; }
void noteTransfer(std::string text) { std::lock_guard guard(recorder.lock); recorder.stream.push_back(std::move(text)); }
void setTraceSetId(int16_t id) { std::lock_guard guard(recorder.lock); recorder.setId = id; }
// clang-format on

void clear() {
    std::lock_guard guard(recorder.lock);
    recorder.records.clear();
    recorder.stream.clear();
    recorder.setId = kDefaultTraceSetId;
}

} // namespace liutrace

extern "C" int initTraceSet(const char* name, int first, int last, int defaultLevel,
                            unsigned int mask, int16_t* id) {
    char text[128];
    std::snprintf(text, sizeof text, "I %s %d %d %d 0x%x", name, first, last, defaultLevel, mask);
    std::lock_guard guard(liutrace::recorder.lock);
    liutrace::recorder.stream.push_back(text);
    *id = liutrace::recorder.setId;
    return 0;
}

extern "C" int tracePrintf(int id, int level, unsigned int mask, const char* source, int line,
                           const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = format != nullptr ? liutrace::format(format, args) : "";
    va_end(args);
    const char letter = level == LIUDRV_TRACE_LEVEL_ERROR    ? 'E'
                        : level == LIUDRV_TRACE_LEVEL_CALL   ? 'C'
                        : level == LIUDRV_TRACE_LEVEL_DETAIL ? 'D'
                                                             : '?';
    std::lock_guard guard(liutrace::recorder.lock);
    liutrace::recorder.stream.push_back(letter + (" " + text));
    liutrace::recorder.records.push_back({id, level, mask, source != nullptr ? source : "", line,
                                          format != nullptr ? format : "", std::move(text),
                                          liuTsId});
    return 0;
}
