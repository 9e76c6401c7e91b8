// SPDX-License-Identifier: MIT
// The writable columns of a SET request, in the phases net-snmp runs it:
// every value checked before any is made (check, reserve), then made
// (apply), undone when another part of the request failed (undo), and
// forgotten at the end (finish).  dsx1LoopbackConfig switches the chip's
// loopbacks through liud; the notification switches are liu-snmp's own.
// Answers are SNMP error statuses (SNMP_ERR_*).
#pragma once

#include "Columns.h"
#include "Lines.h"

#include <cstddef>
#include <vector>

namespace liusnmp {

// Switches a port's loopbacks on the chip.
class LoopbackSwitch {
  public:
    virtual ~LoopbackSwitch() = default;
    // Each of loops that differs in to, in turn, loops following what was
    // done; false when one was refused or liud went.
    virtual bool setLoops(unsigned port, Loops& loops, const Loops& to) = 0;
};

class Writes {
  public:
    Writes(Lines& lines, LoopbackSwitch& loops, LineEvents& events)
        : lines_(lines), loops_(loops), events_(events) {}

    // The column (nullptr: none the table serves) of the line (nullptr:
    // no such row) and the value's type, length and number.
    int check(Table table, const Column* column, const Line* line, u_char type, std::size_t length,
              long value) const;
    // Loopbacks are switched through liud: it must be there.
    int reserve(Table table, oid column) const;
    int apply(Table table, oid column, Line& line, long value);
    int undo(Table table, oid column, Line& line);
    void finish() { made_.clear(); }

  private:
    // What a column of a line was before apply changed it.
    struct Made {
        Table table;
        oid column;
        unsigned port;
        long value;
        Loops loops;
    };
    const Made* made(Table table, oid column, unsigned port) const;

    Lines& lines_;
    LoopbackSwitch& loops_;
    LineEvents& events_;
    std::vector<Made> made_;
};

} // namespace liusnmp
