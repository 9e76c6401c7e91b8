#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Instructions of liud's loop from a callgrind profile collected on
liud::Daemon::turn() (--toggle-collect): per turn and per alarm poll, split
into the SPI transfers (the library's calls of ioctl), the trace facility
(its calls of tracePrintf), the library's own code and liud's own code.
Reads callgrind's calls= lines (the inclusive cost of each call site)."""
import re
import sys

names = {}
calls = {}  # (caller, callee) -> [count, inclusive Ir]
total = 0
caller = callee = None
pending = None
with open(sys.argv[1]) as profile:
    for line in profile:
        match = re.match(r"(c?fn)=\((\d+)\)(?: (.*))?", line)
        if match:
            kind, number, name = match.groups()
            if name:
                names[number] = name.strip()
            if kind == "fn":
                caller = names[number]
            else:
                callee = names[number]
            continue
        if line.startswith("calls="):
            pending = int(line.split("=")[1].split()[0])
            continue
        if pending is not None:
            edge = calls.setdefault((caller, callee), [0, 0])
            edge[0] += pending
            edge[1] += int(line.split()[1])
            pending = None
            continue
        if line.startswith(("summary:", "totals:")):
            total = int(line.split()[1])


def edges(caller_pattern, callee_pattern):
    count = cost = 0
    for (a, b), (n, ir) in calls.items():
        if re.search(caller_pattern, a or "") and re.fullmatch(callee_pattern, b or ""):
            count, cost = count + n, cost + ir
    return count, cost


turns = edges(r"Daemon::run\(\)", r"liud::Daemon::turn\(\)")[0]
polls, poll_ir = edges(r"Daemon::turn\(\)", r"liud::Daemon::pollAlarms\(\)")
handler = edges(r"Daemon::pollAlarms", r"liuDrv_alarmHandler")[1]
transfers = edges(r"liuDrv_", r"\(anonymous namespace\)::transferFrame.*")[0]
transport = edges(r"transferFrame|liuDrv_read|liuDrv_write", r"ioctl")[1]
trace = edges(r"liuDrv_|anonymous namespace", r"tracePrintf")[1]
library = handler - transport - trace
rest = total - transport - trace - library
print(f"turns {turns}, alarm polls {polls}, transfers {transfers} ({transfers / max(polls, 1):.0f} per poll)")
print(f"per poll: library {library / polls:.0f}, liud {rest / polls:.0f}, together "
      f"{(library + rest) / polls:.0f} instructions (outside transfers {transport / polls:.0f} "
      f"and trace {trace / polls:.0f}); pollAlarms alone {(poll_ir - transport - trace - library) / polls:.0f}")
