// SPDX-License-Identifier: MIT
// Fuzz target: one input is a sequence of calls into the driver library with
// ports, codes and null pointers taken from the input, interleaved with
// actions on the simulated chip (failed transfers, alarm indications, raw
// register contents).  After every call the target checks what the library
// promises whatever it is given:
//  - results are 0, 1 or -1 (the alarm readers: 0 or their own mask);
//  - out-parameters are written only with result 0, and then hold a value
//    of the operation's range (a register read: the register's content);
//  - a port at or beyond the port count is refused without a transfer;
//  - the alarm state table holds only 1, 2 and 3, and entry 0 and the rows
//    at or beyond liuDrv_maxPorts hold 1;
//  - every trace line carries the trace mask, a known level with its id, the
//    one source path and a positive line number.
// A broken promise aborts with a message; memory errors and undefined
// behaviour are the sanitizers' to report.
//
// The library starts once per process (liuDrv_init(2, 8) at the first
// input); each input then starts from a chip at power-on.
#include "FuzzApi.h"

#include "LiuDrvInternal.h"
#include "SimChip.h"
#include "TraceRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kPorts = 8;
constexpr int32_t kSentinel = 0x5A5AA5A5;
constexpr uint8_t kByteSentinel = 0xA5;
constexpr std::size_t kMaxCalls = 256;

[[noreturn]] void broken(const char* what, int detail) {
    std::fprintf(stderr, "liu fuzz: broken promise: %s (%d)\n", what, detail);
    std::abort();
}

void expect(bool holds, const char* what, int detail = 0) {
    if (!holds) {
        broken(what, detail);
    }
}

// Takes bytes off the front of the input; 0 once it is used up.
class Input {
  public:
    Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return size_ == 0; }
    uint8_t byte() {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }
    uint16_t word() { return static_cast<uint16_t>(byte() | byte() << 8); }
    uint32_t quad() { return static_cast<uint32_t>(word()) | static_cast<uint32_t>(word()) << 16; }

    // Mostly valid ports and the edges around them, now and then any number.
    uint16_t port() {
        const uint8_t b = byte();
        switch (b >> 5) {
        case 0:
        case 1:
        case 2:
        case 3:
            return static_cast<uint16_t>(b & 0x07);
        case 4:
            return static_cast<uint16_t>(b & 0x1F);
        case 5: {
            static constexpr uint16_t kEdges[] = {7, 8, 15, 16, 255, 256, 0xFFFE, 0xFFFF};
            return kEdges[b & 0x07];
        }
        default:
            return word();
        }
    }

    // Codes around the valid ranges, the extremes, now and then any value.
    int code() {
        const uint8_t b = byte();
        switch (b >> 6) {
        case 0:
            return (b & 0x0F) - 2;
        case 1: {
            static constexpr int kEdges[] = {INT_MIN, INT_MIN + 1, -1,          0,
                                             255,     256,         INT_MAX - 1, INT_MAX};
            return kEdges[b & 0x07];
        }
        case 2:
            return static_cast<int>(quad());
        default:
            return b & 0x07;
        }
    }

  private:
    const uint8_t* data_;
    std::size_t size_;
};

liusim::LiuModel& chip() {
    return liusim::SimChip::start().model();
}

// The pulse shape dump prints on stderr; keep the fuzzer's output readable.
int quietly(int (*call)(uint16_t), uint16_t port) {
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null, STDERR_FILENO);
    const int rc = call(port);
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(null);
    close(saved);
    return rc;
}

struct Getter {
    int (*get)(uint16_t, int*);
    int first; // range of values the getter hands back
    int last;
};
constexpr Getter kGetters[] = {
    {liuDrv_getLineType, 1, 3},   {liuDrv_getLineCode, 1, 2},    {liuDrv_getLineBuildOut, 1, 4},
    {liuDrv_getLineLength, 1, 5}, {liuDrv_getHaulType, 1, 2},    {liuDrv_getLoopRemote, 0, 1},
    {liuDrv_getLoopAnalog, 0, 1}, {liuDrv_getLoopDigital, 0, 1}, {liuDrv_getPowerupTx, 0, 1},
    {liuDrv_getPowerupRx, 0, 1},
};

int (*const kSetters[])(uint16_t, int) = {
    liuDrv_setLineType,  liuDrv_setLineCode,   liuDrv_setLineBuildOut, liuDrv_setLineLength,
    liuDrv_setHaulType,  liuDrv_setLoopRemote, liuDrv_setLoopAnalog,   liuDrv_setLoopDigital,
    liuDrv_setPowerupTx, liuDrv_setPowerupRx,
};

void expectResult(int rc, const char* operation) {
    expect(rc == 0 || rc == 1 || rc == -1, operation, rc);
}

// A guarded operation on a port at or beyond the port count: -1, no transfer.
void expectGuard(uint16_t port, int portCount, int rc, uint64_t transfersBefore) {
    if (port >= portCount) {
        expect(rc == -1, "port beyond the count accepted", port);
        expect(chip().transferCount() == transfersBefore, "transfer for a refused port", port);
    }
}

void expectAlarmTable(const int32_t (&table)[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES]) {
    for (int port = 0; port < LIUDRV_ALARM_PORTS; ++port) {
        for (int entry = 0; entry < LIUDRV_ALARM_ENTRIES; ++entry) {
            const int32_t state = table[port][entry];
            if (entry == 0 || port >= liuDrv_maxPorts) {
                expect(state == LIUDRV_ALARM_INITIAL, "fixed alarm entry changed",
                       port * 10 + entry);
            } else {
                expect(state >= LIUDRV_ALARM_INITIAL && state <= LIUDRV_ALARM_INACTIVE,
                       "alarm entry out of range", state);
            }
        }
    }
}

void expectTraces() {
    static std::string source;
    for (const liutrace::TraceRecord& record : liutrace::records()) {
        expect(record.mask == LIUDRV_TRACE_MASK, "trace mask", static_cast<int>(record.mask));
        expect(record.line > 0, "trace line number", record.line);
        if (record.level == LIUDRV_TRACE_LEVEL_ERROR) {
            expect(record.id == LIUDRV_TRACE_ERROR_ID, "error trace id", record.id);
        } else {
            expect(record.level == LIUDRV_TRACE_LEVEL_CALL ||
                       record.level == LIUDRV_TRACE_LEVEL_DETAIL,
                   "trace level", record.level);
            expect(record.id == liuTsId, "trace id", record.id);
        }
        if (source.empty()) {
            source = record.source;
        }
        expect(!source.empty() && record.source == source, "trace source changed");
    }
    liutrace::clear();
}

// One call taken from the input.
void step(Input& in) {
    const uint8_t action = in.byte();
    const uint64_t before = chip().transferCount();
    switch (action % 16) {
    case 0:
    case 1:
    case 2: { // a set operation
        const auto& set = kSetters[in.byte() % (sizeof kSetters / sizeof kSetters[0])];
        const uint16_t port = in.port();
        const int rc = set(port, in.code());
        expectResult(rc, "set operation");
        expectGuard(port, liuDrv_maxPorts, rc, before);
        break;
    }
    case 3:
    case 4:
    case 5: { // a get operation, with a null out-pointer now and then
        const Getter& getter = kGetters[in.byte() % (sizeof kGetters / sizeof kGetters[0])];
        const uint16_t port = in.port();
        const bool null = (in.byte() & 0x0F) == 0;
        int value = kSentinel;
        const int rc = getter.get(port, null ? nullptr : &value);
        expectResult(rc, "get operation");
        expectGuard(port, liuDrv_maxPorts, rc, before);
        if (null) {
            expect(rc == -1, "null out-pointer accepted", rc);
            expect(chip().transferCount() == before, "transfer with a null out-pointer");
        } else if (rc != 0) {
            expect(value == kSentinel, "out-parameter written on failure", rc);
        } else {
            // The line type read-back may leave the value as the caller set it.
            expect((value >= getter.first && value <= getter.last) ||
                       (getter.get == liuDrv_getLineType && value == kSentinel),
                   "out-parameter out of range", value);
        }
        break;
    }
    case 6: { // reference clock outputs: ports 0..7 only
        const uint16_t port = in.port();
        const int rc = (in.byte() & 1) != 0 ? liuDrv_setRefAClock(port) : liuDrv_setRefBClock(port);
        expectResult(rc, "reference clock");
        expectGuard(port, liuDrv_maxPorts < 8 ? liuDrv_maxPorts : 8, rc, before);
        break;
    }
    case 7: { // alarm readers: 0 or their mask
        const uint16_t port = in.port();
        const bool los = (in.byte() & 1) != 0;
        const int rc = los ? liuDrv_hasLos(port) : liuDrv_hasPrbs(port);
        const int mask = los ? LIUDRV_STATUS_LOS : LIUDRV_STATUS_PRBS;
        expect(rc == 0 || rc == mask, "alarm reader result", rc);
        break;
    }
    case 8: { // alarm poll, into a buffer or none
        int32_t table[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];
        std::fill(&table[0][0], &table[0][0] + LIUDRV_ALARM_PORTS * LIUDRV_ALARM_ENTRIES,
                  kSentinel);
        const bool null = (in.byte() & 0x07) == 0;
        const int rc = liuDrv_alarmHandler(null ? nullptr : table);
        expect(rc == 0, "alarm poll result", rc);
        const int polled = liuDrv_maxPorts < LIUDRV_ALARM_PORTS ? liuDrv_maxPorts : 16;
        expect(chip().transferCount() - before == static_cast<uint64_t>(6 * polled),
               "alarm poll transfers", static_cast<int>(chip().transferCount() - before));
        if (!null) {
            expectAlarmTable(table);
        }
        break;
    }
    case 9: { // register read, with a null pointer now and then
        const uint8_t reg = in.byte();
        const uint16_t channel = in.port();
        const bool null = (in.byte() & 0x0F) == 0;
        const unsigned bank = channel == LIUDRV_CHANNEL_GLOBAL ? 0u : channel & 0x0Fu;
        const uint8_t expected = chip().reg(bank, reg);
        uint8_t value = kByteSentinel;
        const int rc = liuDrv_read(reg, channel, null ? nullptr : &value);
        expectResult(rc, "register read");
        if (rc == 0) {
            expect(value == expected, "register read value", value);
        } else {
            expect(value == kByteSentinel, "byte stored by a failed read", value);
        }
        if (null || channel == LIUDRV_CHANNEL_SECOND) {
            expect(rc != 0 && chip().transferCount() == before, "refused read transferred");
        }
        break;
    }
    case 10: { // register write
        const uint8_t reg = in.byte();
        const uint16_t channel = in.port();
        const uint8_t value = in.byte();
        const int rc = liuDrv_write(reg, channel, value, in.code());
        expect(rc == 0 || rc == 1, "register write result", rc);
        break;
    }
    case 11: { // start-up state: input/output type, connection check, dump
        const uint8_t what = in.byte() % 3;
        if (what == 0) {
            liuDrv_setInOutType(in.code());
        } else if (what == 1) {
            const int rc = liuDrv_isLiuConnected();
            expect(rc == 0 || rc == 1, "connection check result", rc);
        } else {
            const int rc = quietly(liuDrv_dumpPulseShapeParam, in.port());
            expectResult(rc, "pulse shape dump");
            expect(liuDrv_maxPorts == kPorts, "port count after the dump", liuDrv_maxPorts);
        }
        break;
    }
    case 12: // a failed transfer soon, or every transfer from then on
        if ((in.byte() & 3) == 0) {
            chip().failFrom(1 + in.byte() % 64);
        } else {
            chip().failTransfer(1 + in.byte() % 160);
        }
        break;
    case 13:
        chip().clearFaults();
        break;
    case 14: // alarm indications come and go
        chip().setAlarmStatus(in.byte() % 16, in.byte());
        break;
    default: { // any content in any register of the port registers the library uses
        const unsigned bank = in.byte() % 16;
        const auto reg = static_cast<uint8_t>(0x20 + in.byte() % 0x20);
        chip().setReg(bank, reg, in.byte());
        break;
    }
    }
    expect(liuDrv_inited == 1, "library left the initialised state");
    expectTraces();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    liusim::SimChip::start();
    std::fflush(stdout);
    if (liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, kPorts) != 0) {
        broken("start-up failed", liuDrv_maxPorts);
    }
    liutrace::clear();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    liusim::SimChip::start().powerOn();
    liuDrv_setInOutType(LIUDRV_INOUT_SYMMETRICAL);
    liuDrv_lineType = LIUDRV_LINE_TYPE_E1;
    liutrace::clear();
    Input in(data, size);
    for (std::size_t calls = 0; calls < kMaxCalls && !in.empty(); ++calls) {
        step(in);
    }
    return 0;
}
