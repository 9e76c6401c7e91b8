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
    std::vector<TraceSetRegistration> registrations;
    std::vector<std::string> stream;
    int16_t setId = kDefaultTraceSetId;
};

Recorder& recorder() {
    static Recorder instance;
    return instance;
}

char levelLetter(int level) {
    switch (level) {
    case LIUDRV_TRACE_LEVEL_ERROR:
        return 'E';
    case LIUDRV_TRACE_LEVEL_CALL:
        return 'C';
    case LIUDRV_TRACE_LEVEL_DETAIL:
        return 'D';
    default:
        return '?';
    }
}

} // namespace

std::vector<TraceRecord> records() {
    std::lock_guard guard(recorder().lock);
    return recorder().records;
}

std::vector<TraceSetRegistration> registrations() {
    std::lock_guard guard(recorder().lock);
    return recorder().registrations;
}

std::vector<std::string> stream() {
    std::lock_guard guard(recorder().lock);
    return recorder().stream;
}

void noteTransfer(std::string text) {
    std::lock_guard guard(recorder().lock);
    recorder().stream.push_back(std::move(text));
}

void setTraceSetId(int16_t id) {
    std::lock_guard guard(recorder().lock);
    recorder().setId = id;
}

void clear() {
    std::lock_guard guard(recorder().lock);
    recorder().records.clear();
    recorder().registrations.clear();
    recorder().stream.clear();
    recorder().setId = kDefaultTraceSetId;
}

} // namespace liutrace

extern "C" int initTraceSet(const char* name, int first, int last, int defaultLevel,
                            unsigned int mask, int16_t* id) {
    auto& state = liutrace::recorder();
    std::lock_guard guard(state.lock);
    state.registrations.push_back(
        {name != nullptr ? name : "", first, last, defaultLevel, mask, id != nullptr});
    if (id == nullptr) {
        return -1;
    }
    *id = state.setId;
    return 0;
}

extern "C" int tracePrintf(int id, int level, unsigned int mask, const char* source, int line,
                           const char* format, ...) {
    std::string text;
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        char buffer[512];
        const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
        text.assign(buffer, length < 0 ? 0 : std::min<std::size_t>(length, sizeof buffer - 1));
    }
    auto& state = liutrace::recorder();
    std::lock_guard guard(state.lock);
    state.stream.push_back(std::string(1, liutrace::levelLetter(level)) + ' ' + text);
    state.records.push_back({id, level, mask, source != nullptr ? source : "", line,
                             format != nullptr ? format : "", std::move(text), liuTsId});
    return 0;
}
