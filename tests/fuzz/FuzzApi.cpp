// SPDX-License-Identifier: MIT
// Fuzz target: one input is a sequence of calls of the operation table with
// ports, codes, channels and null out-parameters taken from the input, mixed
// with actions on the simulated chip (failed transfers, alarm indications,
// any register contents).  After every call it checks what the library
// promises whatever it is given, which a long-running host relies on:
//  - results are 0, 1 or -1, or the alarm reader's mask;
//  - out-parameters are written only with result 0, then within their range
//    (a register read: the register's content);
//  - a port at or beyond the port count, or a null out-parameter, is refused
//    without a transfer;
//  - a poll reads six times per port; the alarm table holds 1, 2 or 3, and 1
//    in entry 0 and in the rows beyond the port count;
//  - every trace line carries the mask, a known level with its id, the one
//    source and a positive line number; the library stays initialised.
// A broken promise aborts; memory errors are the sanitizers' to report.
#include "FuzzApi.h"
#include "Operations.h"
#include "SimChip.h"
#include "TraceRecorder.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

using liuops::Guard;

void expect(bool holds, const char* what, long detail = 0) {
    if (!holds) {
        std::fprintf(stderr, "liu fuzz: broken promise: %s (%ld)\n", what, detail);
        std::abort();
    }
}

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), end_(data + size) {}
    bool empty() const { return data_ == end_; }
    int byte() { return data_ == end_ ? 0 : *data_++; }
    // Mostly valid ports and the edges around them, now and then any number.
    int port() {
        static constexpr int kEdges[] = {7, 8, 15, 16, 255, 256, 0xFFFE, 0xFFFF};
        const int b = byte();
        return b < 0x80 ? b & 0x07 : b < 0xC0 ? kEdges[b & 0x07] : byte() | byte() << 8;
    }
    // Codes around the valid ranges and the extremes.
    int code() {
        static constexpr int kEdges[] = {INT_MIN, -1, 0, 255, 256, INT_MAX, 1, 2};
        const int b = byte();
        return b < 0x80 ? (b & 0x0F) - 2 : kEdges[b & 0x07];
    }

  private:
    const std::uint8_t* data_;
    const std::uint8_t* end_;
};

liusim::LiuModel& chip() {
    return liusim::SimChip::start().model();
}

// The highest value a get operation hands back (the lowest: 0 for switches, else 1).
int highest(const std::string& name) {
    return name == "getLineType"                            ? 3
           : name == "getLineBuildOut"                      ? 4
           : name == "getLineLength"                        ? 5
           : name == "getLineCode" || name == "getHaulType" ? 2
                                                            : 1;
}

void check(const liuops::Operation& op, const int* args, bool null) {
    const std::string name = op.name;
    liuops::Out out;
    const std::uint64_t before = chip().transferCount();
    const unsigned bank =
        args[1] == LIUDRV_CHANNEL_GLOBAL ? 0u : static_cast<unsigned>(args[1]) & 0x0F;
    const std::uint8_t content = chip().reg(bank, static_cast<std::uint8_t>(args[0]));
    const int result = op.call(args, null ? nullptr : &out);
    const long transfers = static_cast<long>(chip().transferCount() - before);
    expect(result == 0 || result == 1 || result == -1 || result == op.failed.result, op.name,
           result);
    const int portCount = std::min<int>(liuDrv_maxPorts, name.rfind("setRef", 0) == 0 ? 8 : 255);
    if (op.guard == Guard::Port && args[0] >= portCount) {
        expect(result == -1 && transfers == 0, "port beyond the count accepted", args[0]);
    }
    if (null && op.handsBack && op.guard != Guard::Inited) {
        expect(result == -1 && transfers == 0, "null out-parameter accepted", result);
    }
    if (result != 0 || null || !op.handsBack) {
        expect(out.untouched(), "out-parameter written", result);
    } else if (name == "read") {
        expect(out.byte == content, "register read value", out.byte);
    } else if (op.guard == Guard::Inited) {
        expect(transfers == 6 * std::min<long>(liuDrv_maxPorts, 16), "poll reads", transfers);
        for (int port = 0; port < LIUDRV_ALARM_PORTS; ++port) {
            for (int entry = 0; entry < LIUDRV_ALARM_ENTRIES; ++entry) {
                const std::int32_t state = out.table[port][entry];
                const bool fixed = entry == 0 || port >= liuDrv_maxPorts;
                expect(fixed ? state == 1 : state >= 1 && state <= 3, "alarm table entry", state);
            }
        }
    } else if (name != "getLineType" || out.value != liuops::kUntouched) {
        const int lowest = highest(name) == 1 ? 0 : 1;
        expect(out.value >= lowest && out.value <= highest(name), "value out of range", out.value);
    }
}

void checkTraces() {
    static std::string source;
    for (const liutrace::TraceRecord& record : liutrace::records()) {
        const bool error = record.level == LIUDRV_TRACE_LEVEL_ERROR;
        expect(error || record.level == LIUDRV_TRACE_LEVEL_CALL ||
                   record.level == LIUDRV_TRACE_LEVEL_DETAIL,
               "trace level", record.level);
        expect(record.id == (error ? LIUDRV_TRACE_ERROR_ID : record.setId), "trace id", record.id);
        expect(record.mask == LIUDRV_TRACE_MASK && record.line > 0, "trace mask or line",
               record.line);
        source = source.empty() ? record.source : source;
        expect(record.source == source, "trace source changed");
    }
    liutrace::clear();
}

void step(Input& in) {
    const int action = in.byte();
    const auto ops = liuops::operations();
    const liuops::Operation& op = ops[static_cast<std::size_t>(action) % ops.size()];
    if (action < 0xC0 && op.name != std::string("init")) {
        int args[4] = {in.port(), in.code(), in.byte(), in.code()};
        if (op.guard == Guard::None && op.arity > 1) { // register access: address, channel
            args[0] = in.byte();
            args[1] = in.port();
        }
        std::optional<liuops::QuietStderr> quiet;
        if (op.prints) {
            quiet.emplace();
        }
        check(op, args, (in.byte() & 0x0F) == 0);
    } else if (action < 0xD0) {
        in.byte() & 1 ? chip().failFrom(1 + in.byte() % 64)
                      : chip().failTransfer(1 + in.byte() % 160);
    } else if (action < 0xD8) {
        chip().clearFaults();
    } else if (action < 0xE8) {
        chip().setAlarmStatus(in.byte() % 16, static_cast<std::uint8_t>(in.byte()));
    } else {
        chip().setReg(in.byte() % 16, static_cast<std::uint8_t>(0x20 + in.byte() % 0x20),
                      static_cast<std::uint8_t>(in.byte()));
    }
    expect(liuDrv_inited == 1, "library left the initialised state");
    checkTraces();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    liusim::SimChip::start();
    expect(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8) == 0, "start-up failed");
    std::fflush(stdout);
    liutrace::clear();
    return 0;
}

// Each input starts from a chip at power-on and the globals start-up left.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    liusim::SimChip::start().powerOn();
    liuDrv_inoutType = LIUDRV_INOUT_SYMMETRICAL;
    liuDrv_lineType = LIUDRV_LINE_TYPE_E1;
    liuDrv_maxPorts = 8;
    liutrace::clear();
    Input in(data, size);
    for (int calls = 0; calls < 256 && !in.empty(); ++calls) {
        step(in);
    }
    return 0;
}
