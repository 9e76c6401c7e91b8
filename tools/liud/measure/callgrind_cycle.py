#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Instructions of liud's loop from a callgrind profile collected on
liud::Daemon::turn() (--toggle-collect) while no alarm changes: per scan turn
(a turn of the loop that scans the alarm status registers,
liud::Daemon::scanAlarms(), and finds nothing changed) and per full alarm
poll (liud::Daemon::pollAlarms()), each split into the SPI transfers (the
library's calls of ioctl), the trace facility (its calls of tracePrintf), the
library's own code and liud's own code.  Reads callgrind's calls= lines (the
inclusive cost of each call site).
Usage: callgrind_cycle.py PROFILE"""
import re
import sys

names, objects = {}, {}
calls = {}  # (caller, callee) -> [count, inclusive Ir]
own = {}  # function -> its own Ir
library = set()  # the functions of libliuDrv
total = 0
obj = caller = callee = None
pending = None
with open(sys.argv[1]) as profile:
    for line in profile:
        match = re.match(r"(c?ob|c?fn)=\((\d+)\)(?: (.*))?", line)
        if match:
            kind, number, name = match.groups()
            table = objects if kind.endswith("ob") else names
            if name:
                table[number] = name.strip()
            if kind == "cob":
                continue
            if kind == "ob":
                obj = objects[number]
            elif kind == "fn":
                caller = names[number]
                if "libliuDrv" in obj:
                    library.add(caller)
            else:
                callee = names[number]
            continue
        if line.startswith("calls="):
            pending = int(line.split("=")[1].split()[0])
            continue
        if re.match(r"[+*\d-]", line):
            if pending is not None:
                edge = calls.setdefault((caller, callee), [0, 0])
                edge[0] += pending
                edge[1] += int(line.split()[1])
                pending = None
            elif len(line.split()) > 1:
                own[caller] = own.get(caller, 0) + int(line.split()[1])
            continue
        if line.startswith(("summary:", "totals:")):
            total = int(line.split()[1])


def edges(caller_pattern, callee_pattern):
    """Calls and their inclusive instructions from the functions matching caller_pattern
    (searched) to those matching callee_pattern (whole name)."""
    count = cost = 0
    for (a, b), (n, ir) in calls.items():
        if re.search(caller_pattern, a or "") and re.fullmatch(callee_pattern, b or ""):
            count, cost = count + n, cost + ir
    return count, cost


LIBRARY = "|".join("^" + re.escape(name) + "$" for name in library) or "^liuDrv_"
turns = edges(r"Daemon::run\(\)", r"liud::Daemon::turn\(\)")[0]
scans = edges(r"liud::", r"liud::Daemon::scanAlarms\(\)")[0]
# Every register access is one transfer through liuDrv_read: its own code, and one call of
# ioctl (here umockdev's preload and its round trip to liusim).
accesses = edges(r".", r"liuDrv_read")[0]
per_read = own.get("liuDrv_read", 0) / max(accesses, 1)
per_transfer = edges(LIBRARY, r"ioctl")[1] / max(accesses, 1)
# The full polls, whoever asked for them: everything pollAlarms did.
polls, handler = edges(r".", r"liuDrv_alarmHandler")
poll_all = own.get("liud::Daemon::pollAlarms()", 0) + edges(r"^liud::Daemon::pollAlarms\(\)$",
                                                             r".*")[1]
metrics = edges(r"Daemon::(turn|dueWork)", r"liud::Daemon::writeMetrics.*")[1]

# A scan turn: the reads of AlarmMonitor::scan() and all the rest of the turn (waiting,
# clients, timers, the chip's health) but the full polls and the metrics file, which come
# every few seconds.
reads, reads_ir = edges(r"AlarmMonitor::scan\(\)", r"liuDrv_read")
scan_library = reads * per_read
scan_liud = total - poll_all - metrics - reads_ir
health = edges(r"Daemon::scanAlarms\(\)", r"liud::BusHealth::observe.*")[1]

# A full poll: the library's poll (its code is all of the library's but the scans' reads)
# and what liud does around it.
poll_library = sum(own.get(name, 0) for name in library) - scan_library
poll_trace = edges(LIBRARY, r"tracePrintf")[1]
poll_transport = handler - poll_library - poll_trace

print(f"turns {turns}, scan turns {scans} ({reads / max(scans, 1):.0f} transfers each), "
      f"full polls {polls}; a transfer: the library's read {per_read:.0f} instructions, "
      f"ioctl {per_transfer:.0f}")
print(f"per scan turn: liud {scan_liud / scans:.0f} (of which the chip's health "
      f"{health / scans:.0f}), library {scan_library / scans:.0f}, together "
      f"{(scan_liud + scan_library) / scans:.0f} instructions (outside transfers "
      f"{(reads_ir - scan_library) / scans:.0f})")
if polls:
    print(f"per full poll: library {poll_library / polls:.0f}, liud "
          f"{(poll_all - handler) / polls:.0f}, together "
          f"{(poll_library + poll_all - handler) / polls:.0f} instructions (outside transfers "
          f"{poll_transport / polls:.0f} and trace {poll_trace / polls:.0f})")
