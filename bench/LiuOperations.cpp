// SPDX-License-Identifier: MIT
#include "LiuOperations.h"

#include "LiuDrv.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace liubench {
namespace {

constexpr std::uint8_t kLoopbackRegister = 0x2B;
constexpr std::uint8_t kPulseTemplateRegister = 0x23;
constexpr std::uint8_t kUserWaveformCode = 0x0C;
constexpr std::uint16_t kRefBPort = 5;

// Out-parameters of the get operations; their values do not matter here.
int value = 0;
std::uint8_t byte = 0;
std::int32_t alarms[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];

void selectUserWaveform() {
    liuDrv_write(kPulseTemplateRegister, kPort, kUserWaveformCode, 1);
}

// The line code getter answers only when the transmit and receive line code
// fields agree; other operations (and the benchmarks' bare replays of their
// register writes) may leave them apart.
void agreeLineCodes() {
    liuDrv_setLineCode(kPort, LIUDRV_LINE_CODE_2);
}

// The waveform read-out reports pulse template 1 (E1, see LiuDrv.h), which
// carries no line build-out or line length code: those getters answer -1
// after their full read-out, the line type getter 0.
constexpr Operation kOperations[] = {
    {"write", nullptr, [] { return liuDrv_write(kLoopbackRegister, kPort, 0x00, 1); }, 0, false},
    {"read", nullptr, [] { return liuDrv_read(kLoopbackRegister, kPort, &byte); }, 0, false},
    {"setLineType", nullptr, [] { return liuDrv_setLineType(kPort, LIUDRV_LINE_TYPE_E1); }, 0,
     false},
    {"getLineType", nullptr, [] { return liuDrv_getLineType(kPort, &value); }, 0, false},
    {"setLineCode", nullptr, [] { return liuDrv_setLineCode(kPort, LIUDRV_LINE_CODE_2); }, 0,
     false},
    {"getLineCode", agreeLineCodes, [] { return liuDrv_getLineCode(kPort, &value); }, 0, false},
    {"setLineBuildOut", nullptr, [] { return liuDrv_setLineBuildOut(kPort, 2); }, 0, false},
    {"getLineBuildOut", nullptr, [] { return liuDrv_getLineBuildOut(kPort, &value); }, -1, false},
    {"setLineLength", nullptr, [] { return liuDrv_setLineLength(kPort, 3); }, 0, false},
    {"getLineLength", nullptr, [] { return liuDrv_getLineLength(kPort, &value); }, -1, false},
    {"setHaulType1", nullptr, [] { return liuDrv_setHaulType(kPort, LIUDRV_HAUL_1); }, 0, false},
    {"setHaulType2", nullptr, [] { return liuDrv_setHaulType(kPort, LIUDRV_HAUL_2); }, 0, false},
    {"getHaulType", nullptr, [] { return liuDrv_getHaulType(kPort, &value); }, 0, false},
    {"setLoopRemote", nullptr, [] { return liuDrv_setLoopRemote(kPort, 1); }, 0, false},
    {"getLoopRemote", nullptr, [] { return liuDrv_getLoopRemote(kPort, &value); }, 0, false},
    {"setLoopAnalog", nullptr, [] { return liuDrv_setLoopAnalog(kPort, 0); }, 0, false},
    {"getLoopAnalog", nullptr, [] { return liuDrv_getLoopAnalog(kPort, &value); }, 0, false},
    {"setLoopDigital", nullptr, [] { return liuDrv_setLoopDigital(kPort, 1); }, 0, false},
    {"getLoopDigital", nullptr, [] { return liuDrv_getLoopDigital(kPort, &value); }, 0, false},
    {"setPowerupTx", nullptr, [] { return liuDrv_setPowerupTx(kPort, 1); }, 0, false},
    {"getPowerupTx", nullptr, [] { return liuDrv_getPowerupTx(kPort, &value); }, 0, false},
    {"setPowerupRx", nullptr, [] { return liuDrv_setPowerupRx(kPort, 1); }, 0, false},
    {"getPowerupRx", nullptr, [] { return liuDrv_getPowerupRx(kPort, &value); }, 0, false},
    {"setRefAClock", nullptr, [] { return liuDrv_setRefAClock(kPort); }, 0, false},
    {"setRefBClock", nullptr, [] { return liuDrv_setRefBClock(kRefBPort); }, 0, false},
    {"hasLos", nullptr, [] { return liuDrv_hasLos(kPort); }, 0, false},
    {"hasPrbs", nullptr, [] { return liuDrv_hasPrbs(kPort); }, 0, false},
    {"isLiuConnected", nullptr, [] { return liuDrv_isLiuConnected(); }, 0, false},
    {"alarmHandler", nullptr, [] { return liuDrv_alarmHandler(alarms); }, 0, false},
    {"dumpPulseShapeParam", selectUserWaveform, [] { return liuDrv_dumpPulseShapeParam(kPort); }, 0,
     true},
    {"setInOutType", nullptr,
     [] {
         liuDrv_setInOutType(LIUDRV_INOUT_SYMMETRICAL);
         return 0;
     },
     0, false},
    {"broadcastMode", nullptr,
     [] {
         liuDrv_broadcastMode(1);
         return 0;
     },
     0, false},
};

} // namespace

std::span<const Operation> operations() {
    return kOperations;
}

const Operation* findOperation(std::string_view name) {
    for (const Operation& operation : kOperations) {
        if (name == operation.name) {
            return &operation;
        }
    }
    return nullptr;
}

QuietStderr::QuietStderr(bool active) {
    if (!active) {
        return;
    }
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ < 0 || null < 0) {
        std::perror("QuietStderr");
        if (null >= 0) {
            close(null);
        }
        return;
    }
    dup2(null, STDERR_FILENO);
    close(null);
}

QuietStderr::~QuietStderr() {
    if (saved_ < 0) {
        return;
    }
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
}

} // namespace liubench
