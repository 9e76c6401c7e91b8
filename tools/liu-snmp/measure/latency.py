#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""liu-snmp on the demo board, on this machine: snmpd (AgentX master),
snmptrapd, liud under liusim with examples/liud.conf and liu-snmp with
examples/liu-snmp.conf (its paths replaced by the command line), each
started by the test harness in a temporary directory and ended at the end.
Prints
  - the time from an alarm change in liusim (LOS on port 3 raised or
    cleared through its control socket) until snmptrapd has logged the
    dsx1LineStatusChange, median and worst; and the part of it after
    liud's poll (the time in liud's watch event): liu-snmp, snmpd, snmptrapd;
  - snmpwalk of the DS1-MIB as an operator sees it.
Usage: PYTHONPATH=tests/support tools/liu-snmp/measure/latency.py BUILD [TRIALS]"""
import datetime
import json
import os
import socket
import statistics
import sys
import time

import liutest

top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
liutest.use_build(sys.argv[1])
trials = int(sys.argv[2]) if len(sys.argv) > 2 else 40
NOTIFICATION = ".1.3.6.1.2.1.10.18.15.0.1"

snmp = liutest.Snmp()
liud = liutest.Liud(config=os.path.join(top, "examples/liud.conf"), log=False)
snmp.subagent(os.path.join(top, "examples/liu-snmp.conf"), liud.socket)
walk = lambda: snmp.client("snmpwalk", ".1.3.6.1.2.1.10.18", options=["-On"]).stdout
liutest.wait_for(lambda: walk().count("\n") == 8 * 18, 20, "the eight rows")

control = socket.socket(socket.AF_UNIX)
control.connect(liud.ctl_path)  # one connection: no process start in the figures
replies = control.makefile("rb")
watch = liud.connect()
watch.settimeout(None)
watch.sendall(b"watch\n")
events = watch.makefile("rb")
delays, after_poll = [], []
for trial in range(trials):
    before = len(snmp.notifications(NOTIFICATION))
    time.sleep(0.2 + 0.037 * (trial % 5))  # out of step with the poll
    start_time = time.monotonic()
    control.sendall(f"alarm 3 los {'on' if trial % 2 == 0 else 'off'}\n".encode())
    assert replies.readline() == b"ok\n"
    while len(snmp.notifications(NOTIFICATION)) == before:
        time.sleep(0.0005)
    delays.append(time.monotonic() - start_time)
    wall = time.time()
    polled = datetime.datetime.strptime(json.loads(events.readline())["time"],
                                        "%Y-%m-%dT%H:%M:%S.%fZ")
    after_poll.append(wall - polled.replace(tzinfo=datetime.timezone.utc).timestamp())
print(f"alarm change in liusim to dsx1LineStatusChange at snmptrapd: median "
      f"{statistics.median(delays) * 1000:.0f} ms, worst {max(delays) * 1000:.0f} ms "
      f"({trials} changes, liud polls every 100 ms)")
print(f"of which after liud's poll: median {statistics.median(after_poll) * 1000:.0f} ms, "
      f"worst {max(after_poll) * 1000:.0f} ms")
print(walk(), end="")
