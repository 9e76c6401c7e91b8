// SPDX-License-Identifier: MIT
// Golden files: the expected behaviour of the library's operations as data,
// written by hand.  A file is a list of cases; each case runs on the chip as
// LiuSimTest leaves it and executes its lines in order:
//
//   case NAME                        a new case
//   set chN|chN-M|global REG=VAL...  chip registers (0x36: the alarm status), or
//   set NAME=VAL...                  library globals: lineType inoutType inited
//                                    liuTyp maxPorts maxLius maxPortsLiu
//   fail K | failopen | allowopen   fail the K-th transfer from here; refuse the open
//   call OP ARG... = RESULT [out=V]  an operation of the table (Operations.h);
//                                    ARG "null": a null out-parameter (written only
//                                    with result 0); the lines that follow are
//                                    everything the call must do, in order:
//     W chN REG <- VAL [FAILED]      a write and its detail line (or its error line)
//     R chN REG -> VAL | -- FAILED   a read (a failed one with its error line)
//     C|D|E TEXT                     a call, detail or error trace line (\n: newline,
//                                    $table: the alarm buffer's address)
//     readout chN TEMPLATE           the waveform read-out of port N: 64 sample
//                                    address writes and reads, its 67 trace lines
//     dumpsamples chN                the pulse shape dump's 64 sample writes and reads
//     polled chN|chN-M [K]           the alarm poll's six (K) reads of 0x36 of each channel
//     I NAME FIRST LAST LEVEL MASK   a trace set registration
//     out|err |TEXT|                 a line printed on standard output / error, last
//   run OP ARG... = RESULT [out=V]   a call whose transfers and traces are not compared
//   check ... (as set)               registers or globals to expect
//   table N|N-M E1 E2 E3 E4 E5 E6    rows of the last alarm table handed back
//   rmw OP PORT ARG REG BEFORE AFTER set OP(PORT, ARG) reads BEFORE, writes AFTER
//   decode OP PORT REG=VAL... -> V   OP on those registers hands back (or returns) V;
//                                    V "refused": -1, nothing handed back
#pragma once

#include "LiuModel.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace golden {

struct Case {
    std::string name; // file stem and case name, a valid test name
    std::string file;
    std::vector<std::pair<int, std::string>> lines; // number, text
};

// Every case of the file, or one case that reports why it could not be read.
std::vector<Case> load(const std::string& path);
std::string testName(const ::testing::TestParamInfo<Case>& info);
inline void PrintTo(const Case& golden, std::ostream* out) {
    *out << golden.file << ": " << golden.name;
}
// Runs the case with GoogleTest expectations.
void run(const Case& golden, liusim::LiuModel& chip);
// The lines as one text, for comparisons that show their differences.
std::string joined(const std::vector<std::string>& lines);

} // namespace golden
