// SPDX-License-Identifier: MIT
#include "Operations.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace liuops {
namespace {

using A = const int*;
using O = Out*;

// clang-format off
std::uint16_t u16(int value) { return static_cast<std::uint16_t>(value); }
std::uint8_t u8(int value) { return static_cast<std::uint8_t>(value); }
std::int32_t* value(O out) { return out != nullptr ? &out->value : nullptr; }

constexpr Failure kFailed{1, nullptr};
constexpr Failure kLineTypeFailed{-1, "liuDrv_getLineType failed"};

// A set operation (port, code or state) and a get operation (port, out).
#define SET(op, port, arg)                                                                         \
    {#op, 2, [](A a, O) { return liuDrv_##op(u16(a[0]), a[1]); }, {port, arg}, Guard::Port,       \
     false, false, kFailed, kFailed, 0}
#define GET(op, port, failure)                                                                     \
    {#op, 1, [](A a, O o) { return liuDrv_##op(u16(a[0]), value(o)); }, {port}, Guard::Port, true, \
     false, failure, failure, 0}

const Operation kOperations[] = {
    {"write", 4, [](A a, O) { return liuDrv_write(u8(a[0]), u16(a[1]), u8(a[2]), a[3]); },
     {0x2B, 3, 0x5C, 1}, Guard::None, false, false, kFailed, kFailed, 0},
    {"read", 2, [](A a, O o) { return liuDrv_read(u8(a[0]), u16(a[1]), o ? &o->byte : nullptr); },
     {0x24, 5}, Guard::None, true, false, kFailed, kFailed, 0},
    {"init", 2, [](A a, O) { return liuDrv_init(a[0], u8(a[1])); },
     {2, 8}, Guard::None, false, true, kFailed, kFailed, 0},
    {"setInOutType", 1, [](A a, O) { return liuDrv_setInOutType(a[0]), 0; },
     {2}, Guard::None, false, false, kFailed, kFailed, 0},
    {"broadcastMode", 1, [](A a, O) { return liuDrv_broadcastMode(a[0]), 0; },
     {1}, Guard::None, false, false, kFailed, kFailed, 0},
    {"isLiuConnected", 0, [](A, O) { return liuDrv_isLiuConnected(); },
     {}, Guard::None, false, false, kFailed, kFailed, 0},
    {"setLineType", 2, [](A a, O) { return liuDrv_setLineType(u16(a[0]), a[1]); }, {1, 1},
     Guard::Port, false, false, {1, "liuDrv_setLineType: liuDrv_pulsMaskConfiguration(1,1) failed!"},
     {1, "liuDrv_setLineType: liuDrv_pulsMaskConfiguration(1,1) failed!"}, 0},
    GET(getLineType, 2, kLineTypeFailed),
    {"dumpPulseShapeParam", 1, [](A a, O) { return liuDrv_dumpPulseShapeParam(u16(a[0])); },
     {6}, Guard::None, false, true, kFailed, kFailed, 0},
    SET(setLineCode, 4, 1),
    GET(getLineCode, 4, kFailed),
    SET(setLineBuildOut, 5, 3),
    GET(getLineBuildOut, 5, (Failure{-1, "liuDrv_getLineBuildOut failed"})),
    SET(setLineLength, 1, 5),
    GET(getLineLength, 1, (Failure{-1, "liuDrv_getLineLength failed"})),
    {"setHaulType", 2, [](A a, O) { return liuDrv_setHaulType(u16(a[0]), a[1]); },
     {2, 2}, Guard::Port, false, false, kFailed, kLineTypeFailed, 0},
    GET(getHaulType, 7, kFailed),
    SET(setLoopRemote, 0, 1),
    GET(getLoopRemote, 0, kFailed),
    SET(setLoopAnalog, 3, 7),
    GET(getLoopAnalog, 3, kFailed),
    SET(setLoopDigital, 7, 0),
    GET(getLoopDigital, 7, kFailed),
    SET(setPowerupTx, 1, 1),
    GET(getPowerupTx, 1, kFailed),
    SET(setPowerupRx, 2, -1),
    GET(getPowerupRx, 2, kFailed),
    {"setRefAClock", 1, [](A a, O) { return liuDrv_setRefAClock(u16(a[0])); },
     {5}, Guard::Port, false, false, kFailed, kFailed, 3},
    {"setRefBClock", 1, [](A a, O) { return liuDrv_setRefBClock(u16(a[0])); },
     {2}, Guard::Port, false, false, kFailed, kFailed, 3},
    {"hasLos", 1, [](A a, O) { return liuDrv_hasLos(u16(a[0])); },
     {3}, Guard::None, false, false, {LIUDRV_STATUS_LOS, nullptr}, {LIUDRV_STATUS_LOS, nullptr}, 0},
    {"hasPrbs", 1, [](A a, O) { return liuDrv_hasPrbs(u16(a[0])); },
     {7}, Guard::None, false, false, {LIUDRV_STATUS_PRBS, nullptr}, {LIUDRV_STATUS_PRBS, nullptr}, 0},
    {"alarmHandler", 0, [](A, O o) { return liuDrv_alarmHandler(o != nullptr ? o->table : nullptr); },
     {}, Guard::Inited, true, false, {0, nullptr}, {0, nullptr}, 1},
};
// clang-format on

} // namespace

void Out::reset() {
    value = kUntouched;
    byte = kUntouchedByte;
    std::ranges::fill(std::span(&table[0][0], sizeof table / 4), kUntouched);
}

bool Out::untouched() const {
    return value == kUntouched && byte == kUntouchedByte &&
           std::ranges::count(std::span(&table[0][0], sizeof table / 4), kUntouched) ==
               sizeof table / 4;
}

std::span<const Operation> operations() {
    return kOperations;
}

const Operation* findOperation(std::string_view name) {
    const auto found = std::find_if(std::begin(kOperations), std::end(kOperations),
                                    [&](const Operation& op) { return name == op.name; });
    return found != std::end(kOperations) ? found : nullptr;
}

QuietStderr::QuietStderr() : saved(dup(STDERR_FILENO)) {
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null, STDERR_FILENO);
    close(null);
}

QuietStderr::~QuietStderr() {
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
}

} // namespace liuops
