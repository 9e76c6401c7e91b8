// SPDX-License-Identifier: MIT
// The rows of the benchmark tables: every operation of the operation table
// (tests/support/Operations.h) with the table's example arguments, plus what
// a benchmark needs beyond the table: the result every call returns on a
// healthy chip, the chip state the first call needs, and extra rows for
// another argument of the same operation (the haul type's other path).
// liuDrv_init runs once: its row is measured on its own, and startUp() runs
// it for every other row.
#pragma once

#include "Operations.h"

#include <span>
#include <string_view>

namespace liubench {

struct Row {
    const char* name; // in the tables; the operation's name, or a variant's
    const liuops::Operation* operation;
    int args[4];
    int result;                       // of every call on a healthy chip
    void (*prepare)(const int* args); // sets up what the result depends on; may be null
    bool once;                        // start-up: one call per process

    int call(liuops::Out& out) const { return operation->call(args, &out); }
};

// Every row, in the order of the tables (start-up first).
std::span<const Row> rows();
const Row* findRow(std::string_view name);

// liuDrv_init with the table's example arguments (symmetrical, 8 ports).
int startUp();

} // namespace liubench
