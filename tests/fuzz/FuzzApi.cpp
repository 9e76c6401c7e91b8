// SPDX-License-Identifier: MIT
// Fuzz target: an input is a sequence of calls of the operation table with
// ports, codes, channels and null out-parameters from the input, mixed with
// failed transfers, alarm indications and any register contents.  After
// every call it checks what a long-running host relies on, whatever it gave:
// results 0, 1, -1 (or the alarm reader's mask); out-parameters written only
// with result 0, and the alarm table then holding 1, 2 or 3 (1 in entry 0 and
// beyond the port count); a port beyond the count or a null out-parameter
// refused without a transfer; the library still initialised.  A broken promise aborts; memory
// errors are the sanitizers'.  scripts/ci-fuzz.sh runs it.
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

struct Input {
    const std::uint8_t* data;
    const std::uint8_t* end;
    int byte() { return data == end ? 0 : *data++; }
    // Mostly valid ports and codes, the edges around them, now and then anything.
    int port() {
        static constexpr int kEdges[] = {7, 8, 15, 16, 255, 256, 0xFFFE, 0xFFFF};
        const int b = byte();
        return b < 0x80 ? b & 0x07 : b < 0xC0 ? kEdges[b & 0x07] : byte() | byte() << 8;
    }
    int code() {
        static constexpr int kEdges[] = {INT_MIN, -1, 0, 255, 256, INT_MAX, 1, 2};
        const int b = byte();
        return b < 0x80 ? (b & 0x0F) - 2 : kEdges[b & 0x07];
    }
};

liusim::LiuModel& chip() {
    return liusim::SimChip::start().model();
}

void call(const liuops::Operation& op, const int* args, bool null) {
    liuops::Out out;
    const std::uint64_t before = chip().transferCount();
    std::optional<liuops::QuietStderr> quiet;
    if (op.prints) {
        quiet.emplace();
    }
    const int result = op.call(args, null ? nullptr : &out);
    const bool transferred = chip().transferCount() != before;
    expect(result == 0 || result == 1 || result == -1 || result == op.failed.result, op.name,
           result);
    const int ports = std::string(op.name).starts_with("setRef") ? std::min<int>(liuDrv_maxPorts, 8)
                                                                 : liuDrv_maxPorts;
    if (op.guard == Guard::Port && args[0] >= ports) {
        expect(result == -1 && !transferred, "port beyond the count accepted", args[0]);
    }
    if (null && op.handsBack && op.guard != Guard::Inited) {
        expect(result == -1 && !transferred, "null out-parameter accepted", result);
    }
    if (result != 0 || null || op.guard != Guard::Inited) {
        expect(result == 0 || out.untouched(), "out-parameter written", result);
        return;
    }
    for (int port = 0; port < LIUDRV_ALARM_PORTS; ++port) {
        for (int entry = 0; entry < LIUDRV_ALARM_ENTRIES; ++entry) {
            const std::int32_t state = out.table[port][entry];
            const bool fixed = entry == 0 || port >= liuDrv_maxPorts;
            expect(fixed ? state == 1 : state >= 1 && state <= 3, "alarm table entry", state);
        }
    }
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
        call(op, args, (in.byte() & 0x0F) == 0);
    } else if (action < 0xD0) {
        in.byte() & 1 ? chip().failFrom(1 + in.byte() % 64)
                      : chip().failTransfer(1 + in.byte() % 160);
    } else if (action < 0xD8) {
        chip().clearFaults();
    } else {
        chip().setReg(in.byte() % 16, static_cast<std::uint8_t>(0x20 + in.byte() % 0x20),
                      static_cast<std::uint8_t>(in.byte()));
    }
    liutrace::clear();
    expect(liuDrv_inited == 1, "library left the initialised state");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    liusim::SimChip::start();
    expect(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8) == 0, "start-up failed");
    return 0;
}

// Each input starts from a chip at power-on and the globals start-up left.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    liusim::SimChip::start().powerOn();
    liuDrv_inoutType = LIUDRV_INOUT_SYMMETRICAL;
    liuDrv_lineType = LIUDRV_LINE_TYPE_E1;
    liuDrv_maxPorts = 8;
    liutrace::clear();
    Input in{data, data + size};
    for (int calls = 0; calls < 256 && in.data != in.end; ++calls) {
        step(in);
    }
    return 0;
}
