#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Two figures of a liud running under liusim (measure.sh starts it):
  - an alarm change raised through liusim's control socket until liud has
    logged it (the time in its log line) and until its metrics file shows it;
  - the round trip of control requests on one connection, median and 99th
    percentile, for a request that stays in liud (poll) and one that reads
    the chip (show 0: 11 transfers).
Usage: latency.py LIUSIM CTL SOCKET METRICS LOG [TRIALS]"""
import datetime
import os
import socket
import statistics
import sys
import time

liusim, ctl, path, metrics, log = sys.argv[1:6]
trials = int(sys.argv[6]) if len(sys.argv) > 6 else 40


def logged_times():
    with open(log) as file:
        return [line for line in file if "port 3: LOS" in line]


control = socket.socket(socket.AF_UNIX)
control.connect(ctl)  # one connection: no process start in the figures
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
    stamp = logged_times()[-1].split("(")[1].rstrip(")\n")
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

with socket.socket(socket.AF_UNIX) as client:
    client.connect(path)
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
