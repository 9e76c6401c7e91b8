#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The figures of docs/liud.md, measured on liud under liusim with
examples/liud.conf (without audits: they are not poll cycles), each run
started by the test harness in a temporary directory:
  1. instructions per turn of liud's loop and per 8-port alarm poll, with
     callgrind collecting only liud::Daemon::turn() (--toggle-collect),
     split into transfers, trace facility, library and liud
     (callgrind_cycle.py);
  2. an alarm change raised through liusim's control socket until liud has
     logged it (the time in its log line) and until its metrics file shows
     it; the round trip of control requests on one connection, median and
     99th percentile, for a request that stays in liud (poll) and one that
     reads the chip (show 0: 11 transfers).
Usage: PYTHONPATH=tests/support tools/liud/measure/measure.py [BUILD [TRIALS]]
(BUILD default build-rel: a Release build with tools, e.g.
cmake --preset amd64-release -B build-rel)"""
import datetime
import os
import signal
import socket
import statistics
import subprocess
import sys
import time

import liutest

here = os.path.dirname(os.path.abspath(__file__))
top = os.path.dirname(os.path.dirname(os.path.dirname(here)))
liutest.use_build(sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "build-rel"))
trials = int(sys.argv[2]) if len(sys.argv) > 2 else 40
metrics = os.path.join(liutest.scratch("metrics-"), "liud.prom")
with open(os.path.join(top, "examples/liud.conf")) as example:
    config = example.read().replace("audit_interval = 60s", "audit_interval = off")
config += f"\n[global]\nmetrics = {metrics}\n"

print("== 1. instructions (callgrind, 10 s of polls)", flush=True)
profile = os.path.join(liutest.scratch("callgrind-"), "callgrind.out")
liud = liutest.Liud(config_text=config, log=False, wrapper=[
    "valgrind", "--tool=callgrind", "--toggle-collect=liud::Daemon::turn()",
    "--callgrind-out-file=" + profile])
time.sleep(10)
liud.signal(signal.SIGTERM)
liud.proc.wait(60)
subprocess.run([sys.executable, os.path.join(here, "callgrind_cycle.py"), profile], check=True)

print("== 2. latencies and round trips", flush=True)
liud = liutest.Liud(config_text=config, log=False)
time.sleep(0.5)


def logged_times():
    return [line for line in liud.stderr().splitlines() if "port 3: LOS" in line]


control = socket.socket(socket.AF_UNIX)
control.connect(liud.ctl_path)  # one connection: no process start in the figures
replies = control.makefile("rb")
logged, shown = [], []
for trial in range(trials):
    state = "on" if trial % 2 == 0 else "off"
    want = f'liud_alarm_active{{port="3",indication="LOS"}} {1 if state == "on" else 0}'
    before = len(logged_times())
    time.sleep(0.037 * (trial % 5))  # not in step with the poll interval
    start, wall = time.monotonic(), time.time()
    control.sendall(f"alarm 3 los {state}\n".encode())
    assert replies.readline() == b"ok\n"
    while want not in open(metrics).read():
        time.sleep(0.0005)
    shown.append(time.monotonic() - start)
    while len(logged_times()) == before:
        time.sleep(0.001)
    stamp = logged_times()[-1].split("(")[1].rstrip(")")
    at = datetime.datetime.strptime(stamp, "%Y-%m-%dT%H:%M:%S.%fZ").replace(
        tzinfo=datetime.timezone.utc).timestamp()
    logged.append(at - wall)

print(f"alarm change to liud's log line: median {statistics.median(logged) * 1000:.1f} ms, "
      f"max {max(logged) * 1000:.1f} ms ({trials} changes)")
print(f"alarm change to the metrics file: median {statistics.median(shown) * 1000:.1f} ms, "
      f"max {max(shown) * 1000:.1f} ms")
for line in open(metrics):
    if line.startswith("liud_poll_duration_seconds"):
        print(f"duration of the last poll (48 transfers through liusim): "
              f"{float(line.split()[1]) * 1000:.1f} ms")

with liud.connect() as client:
    answers = client.makefile("rb")
    for request in (b"poll\n", b"show 0\n"):
        times = []
        for _ in range(500):
            start = time.monotonic()
            client.sendall(request)
            answers.readline()
            times.append(time.monotonic() - start)
        times.sort()
        print(f"round trip of '{request.decode().strip()}': median {statistics.median(times) * 1000:.2f} ms, "
              f"99th percentile {times[int(len(times) * 0.99)] * 1000:.2f} ms")
liud.stop()
