// SPDX-License-Identifier: MIT
#include "BenchRows.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace liubench {
namespace {

std::uint16_t port(const int* args) {
    return static_cast<std::uint16_t>(args[0]);
}

// The line code getter answers only when the transmit and receive line code
// fields of its port agree; other rows (and the benchmarks' bare replays of
// their register writes) may leave them apart.
void agreeLineCodes(const int* args) {
    liuDrv_setLineCode(port(args), LIUDRV_LINE_CODE_2);
}

// The dump prints the waveform only of a port set to the user pulse template.
void selectUserWaveform(const int* args) {
    constexpr std::uint8_t kPulseTemplateRegister = 0x23;
    constexpr std::uint8_t kUserWaveformCode = 0x0C;
    liuDrv_write(kPulseTemplateRegister, port(args), kUserWaveformCode, 1);
}

// What differs from a call that returns 0 and needs nothing before it.  The
// waveform read-out of the simulated chip reports pulse template 1 (E1),
// which carries no line build-out or line length code: those getters answer
// -1 after their full read-out.
struct Need {
    const char* operation;
    int result;
    void (*prepare)(const int* args);
    bool once;
};

constexpr Need kNeeds[] = {
    {"init", 0, nullptr, true},
    {"getLineCode", 0, agreeLineCodes, false},
    {"getLineBuildOut", -1, nullptr, false},
    {"getLineLength", -1, nullptr, false},
    {"dumpPulseShapeParam", 0, selectUserWaveform, false},
};

// Rows beyond the table's example, each after the operation's own row.
struct Variant {
    const char* operation;
    const char* name;
    int args[4];
};

constexpr Variant kVariants[] = {
    {"setHaulType", "setHaulType1", {2, LIUDRV_HAUL_1}}, // the example: haul 2
};

const liuops::Operation& operationNamed(const char* name) {
    const liuops::Operation* operation = liuops::findOperation(name);
    if (operation == nullptr) {
        std::fprintf(stderr, "bench: no operation \"%s\" in the operation table\n", name);
        std::abort();
    }
    return *operation;
}

Row rowOf(const liuops::Operation& operation, const char* name, const int* args) {
    Row row{name, &operation, {args[0], args[1], args[2], args[3]}, 0, nullptr, false};
    for (const Need& need : kNeeds) {
        if (&operationNamed(need.operation) == &operation) {
            row.result = need.result;
            row.prepare = need.prepare;
            row.once = need.once;
        }
    }
    return row;
}

std::vector<Row> allRows() {
    std::vector<Row> all;
    const liuops::Operation& init = operationNamed("init");
    all.push_back(rowOf(init, init.name, init.example));
    for (const liuops::Operation& operation : liuops::operations()) {
        if (&operation == &init) {
            continue;
        }
        all.push_back(rowOf(operation, operation.name, operation.example));
        for (const Variant& variant : kVariants) {
            if (&operationNamed(variant.operation) == &operation) {
                all.push_back(rowOf(operation, variant.name, variant.args));
            }
        }
    }
    return all;
}

} // namespace

std::span<const Row> rows() {
    static const std::vector<Row> all = allRows();
    return all;
}

const Row* findRow(std::string_view name) {
    for (const Row& row : rows()) {
        if (name == row.name) {
            return &row;
        }
    }
    return nullptr;
}

int startUp() {
    liuops::Out out;
    return findRow("init")->call(out);
}

} // namespace liubench
