// SPDX-License-Identifier: MIT
#include "TraceRecorder.h"

#include "LiuDrv.h"
#include "TraceText.h"

#include <mutex>

namespace liutrace {
namespace {

struct Recorder {
    std::mutex lock;
    std::vector<TraceRecord> records;
    std::vector<TraceSetRegistration> registrations;
    int16_t setId = kDefaultTraceSetId;
};

Recorder& recorder() {
    static Recorder instance;
    return instance;
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

int initCalls() {
    std::lock_guard guard(recorder().lock);
    return static_cast<int>(recorder().registrations.size());
}

void setTraceSetId(int16_t id) {
    std::lock_guard guard(recorder().lock);
    recorder().setId = id;
}

void clear() {
    std::lock_guard guard(recorder().lock);
    recorder().records.clear();
    recorder().registrations.clear();
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
    va_list args;
    va_start(args, format);
    std::string text = liutrace::formatText(format, args);
    va_end(args);

    auto& state = liutrace::recorder();
    std::lock_guard guard(state.lock);
    state.records.push_back({id, level, mask, source != nullptr ? source : "", line,
                             format != nullptr ? format : "", std::move(text)});
    return 0;
}
