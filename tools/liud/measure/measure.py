#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The figures of docs/liud.md and docs/performance.md, measured on liud under
liusim with examples/liud.conf (8 ports, scanned every 10 ms, a full poll
every 5 s), each run started by the test harness in a temporary directory:
  1. the bus with no alarm change: the frames of an idle stretch in liusim's
     transfer log (scans, full polls, the audit), frames a second and the
     share of a 1 MHz bus;
  2. instructions per scan turn and per full poll, with callgrind collecting
     only liud::Daemon::turn() (--toggle-collect), split into transfers, trace
     facility, library and liud (callgrind_cycle.py);
  3. CHANGES alarm changes (LOS of each port in turn, raised and cleared
     through liusim's control socket at offsets spread over a scan interval)
     until liud's log line (the time in it), a watch event at a client and,
     where liu-snmp, snmpd and snmptrapd are there, the dsx1LineStatusChange
     at snmptrapd; the frames from the scan's read that saw each change to the
     end of the poll that published it, counted in the transfer log, and the
     latency on the board computed from them;
  4. the round trip of control requests on one connection, median and 99th
     percentile, for a request that stays in liud (poll) and one that reads
     the chip (show 0: 11 transfers).
Usage: PYTHONPATH=tests/support tools/liud/measure/measure.py [BUILD [CHANGES [SECONDS]]]
(BUILD default build-amd64-release: cmake --preset amd64-release; CHANGES
default 200; SECONDS of the idle stretch, default 60; 0: only 3 and 4)"""
import datetime
import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

import liutest

here = os.path.dirname(os.path.abspath(__file__))
top = os.path.dirname(os.path.dirname(os.path.dirname(here)))
liutest.use_build(sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "build-amd64-release"))
changes = int(sys.argv[2]) if len(sys.argv) > 2 else 200
seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 60
with open(os.path.join(top, "examples/liud.conf")) as example:
    config = example.read()
PORTS, SCAN, POLL = 8, 0.010, 5.0  # as examples/liud.conf says
FRAME = 24e-6  # 24 bits at 1 MHz
GAP = 10e-6  # assumed between two frames on the board: the next ioctl's way into the controller
NOTIFICATION = ".1.3.6.1.2.1.10.18.15.0.1"


def ms(value):
    return f"{value * 1000:.1f} ms"


def spread(values):
    values = sorted(values)
    return (f"median {ms(statistics.median(values))}, 95th percentile "
            f"{ms(values[int(len(values) * 0.95)])}, max {ms(values[-1])}")


def alarm_reads(log, mark=0):
    """The alarm status reads of the transfer log from its line mark on (the other frames
    left out: the audit's, a client's, each in its own turn of the loop) as liud's scans and
    polls, the reads with their times, the count of the other frames, the times of the first
    and the last frame."""
    timed = liutest.timed_transfers(log)[mark:]
    start = next(at for at in range(1, len(timed)) if timed[at][1].startswith("R ch0 0x36")
                 and not timed[at - 1][1].startswith("R ch0 0x36"))  # a scan or a poll begins
    reads = [entry for entry in timed[start:] if " 0x36 " in entry[1]]
    return (liutest.alarm_work(reads), reads, len(timed) - start - len(reads), timed[start][0],
            timed[-1][0])


def bus():
    print(f"== 1. the bus with no alarm change ({seconds:.0f} s, liusim's transfer log)",
          flush=True)
    liud = liutest.Liud(config_text=config)
    liud.request("echo")
    mark = len(liud.transfers())
    time.sleep(seconds)
    work, _, others, first, last = alarm_reads(liud.log, mark)
    liud.stop()
    duration = last - first
    scans = sum(kind == "scan" for kind, _, _ in work)
    polls = len(work) - scans
    frames = (PORTS * scans + 6 * PORTS * polls + others) / duration
    print(f"{duration:.1f} s: {scans} scans ({PORTS} frames each; {scans / duration:.1f} a "
          f"second, of {1 / SCAN:.0f}), {polls} full polls ({6 * PORTS} each), {others} other "
          f"frames (the audit's read-back): {frames:.1f} frames a second, "
          f"{frames * FRAME * 100:.2f} % of a 1 MHz bus at 24 us a frame "
          f"({frames * (FRAME + GAP) * 100:.2f} % with {GAP * 1e6:.0f} us between frames)")
    frames = PORTS / SCAN + 6 * PORTS / POLL
    print(f"by the configuration: {frames:.1f} frames a second, {frames * FRAME * 100:.2f} % "
          f"(the audit adds {others / duration:.1f} a second)")


def instructions():
    print("== 2. instructions (callgrind, 10 s without alarm changes)", flush=True)
    profile = os.path.join(liutest.scratch("callgrind-"), "callgrind.out")
    liud = liutest.Liud(config_text=config.replace("audit_interval = 60s", "audit_interval = off"),
                        log=False, wrapper=["valgrind", "--tool=callgrind",
                                            "--toggle-collect=liud::Daemon::turn()",
                                            "--callgrind-out-file=" + profile])
    # Counted from here: the requests that found liud ready are not scan turns.
    pid = liud.request("status")["daemon"]["pid"]
    subprocess.run(["callgrind_control", "--zero", str(pid)], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(10)
    liud.signal(signal.SIGTERM)
    liud.proc.wait(60)
    subprocess.run([sys.executable, os.path.join(here, "callgrind_cycle.py"), profile], check=True)


def latency():
    """The latency of each change: to liud's log line, to a watch event, to the notification;
    liud, left running for the round trips."""
    print(f"== 3. latency of {changes} alarm changes", flush=True)
    snmp = None
    if shutil.which("snmpd", path=os.environ["PATH"] + ":/usr/sbin") and os.path.exists(
            os.environ["LIU_SNMP"]):
        snmp = liutest.Snmp()
    liud = liutest.Liud(config_text=config)
    if snmp:
        snmp.subagent(os.path.join(top, "examples/liu-snmp.conf"), liud.socket)
        walk = lambda: snmp.client("snmpwalk", ".1.3.6.1.2.1.10.18.6", options=["-On"]).stdout
        liutest.wait_for(lambda: walk().count("\n") == 8 * 18, 20, "liu-snmp's eight rows")
    else:
        print("no liu-snmp or snmpd: the notifications are not measured")
    control = socket.socket(socket.AF_UNIX)
    control.connect(liud.ctl_path)  # one connection: no process start in the figures
    replies = control.makefile("rb")
    watch = liud.connect()
    watch.settimeout(None)
    watch.sendall(b"watch\n")
    events = []  # (arrival, event) at the watching client

    def receive():
        for line in watch.makefile("rb"):
            events.append((time.monotonic(), json.loads(line)))

    threading.Thread(target=receive, daemon=True).start()
    time.sleep(0.5)
    mark = len(liud.transfers())
    logged = lambda: [line for line in liud.stderr().splitlines()
                      if line.startswith(("<4>port", "<5>port"))]
    notifications = lambda: len(snmp.notifications(NOTIFICATION)) if snmp else 0
    to_log, to_watch, to_trap, sent, stamps = [], [], [], [], []
    for number in range(changes):
        port, state = number // 2 % PORTS, "on" if number % 2 == 0 else "off"
        lines, seen, traps = len(logged()), len(events), notifications()
        time.sleep(0.03 + SCAN * (number * 0.618034 % 1))  # at every phase of the scan
        wall, start = time.time(), time.monotonic()
        control.sendall(f"alarm {port} los {state}\n".encode())
        assert replies.readline() == b"ok\n"
        while snmp and notifications() == traps:
            time.sleep(0.0005)
        to_trap.append(time.monotonic() - start)
        liutest.wait_for(lambda: len(events) > seen and len(logged()) > lines, 10, "the change")
        to_watch.append(events[seen][0] - start)
        assert events[seen][1]["port"] == port, events[seen]
        stamp = logged()[lines].rpartition("(")[2].rstrip(")")
        stamps.append(datetime.datetime.strptime(stamp, "%Y-%m-%dT%H:%M:%S.%fZ").replace(
            tzinfo=datetime.timezone.utc).timestamp())
        sent.append(wall)
        to_log.append(stamps[-1] - wall)
    print(f"change to liud's log line: {spread(to_log)}")
    print(f"change to the watch event at a client: {spread(to_watch)}")
    if snmp:
        print(f"change to the dsx1LineStatusChange at snmptrapd: {spread(to_trap)}; after the "
              f"watch event: {spread([trap - event for trap, event in zip(to_trap, to_watch)])}")
    # Each change in liusim's log: the scan read that saw it, the end of the poll that scan
    # started and the frames from the one to the other.
    work, reads, _, _, _ = alarm_reads(liud.log, mark)
    seen_by_scan, at, previous = [], 0, None
    for number, (kind, _, registers) in enumerate(work):
        times = [when for when, _ in reads[at:at + len(registers)]]
        at += len(registers)
        if kind == "poll":  # the next scan compares with the poll's readings
            previous = liutest.poll_readings(registers)
            continue
        # A scan stops at the first port whose register changed and runs the poll at once.
        changed = liutest.changed_ports(registers, previous) if previous else []
        previous = registers
        if changed and number + 1 < len(work) and work[number + 1][0] == "poll":
            port = changed[0]
            seen_by_scan.append((times[port], reads[at + 6 * PORTS - 1][0],
                                 len(registers) - port + 6 * PORTS))
    after = [frames for _, _, frames in seen_by_scan]
    print(f"changes seen by a scan: {len(after)} of {changes}, {min(after)} to {max(after)} "
          f"frames from its read to the end of the poll")
    if len(seen_by_scan) == changes:
        # liud stamps its log line when the poll's last frame is answered: the least
        # difference between the stamps and liusim's times of those frames sets liusim's clock.
        offset = min(stamp - end for stamp, (_, end, _) in zip(stamps, seen_by_scan))
        print("of which until the scan read that saw it: " + spread(
            [read + offset - wall for wall, (read, _, _) in zip(sent, seen_by_scan)]))
        print("and from that read to the end of the poll (through liusim): " + spread(
            [end - read for read, end, _ in seen_by_scan]) + ", a frame " + ms(statistics.median(
                (end - read) / (n - 1) for read, end, n in seen_by_scan)) + " (median)")
    for gap in (0, GAP):
        frame = FRAME + gap
        print(f"on the board at 1 MHz, {gap * 1e6:.0f} us between frames: median "
              f"{ms(SCAN / 2 + statistics.median(after) * frame)}, max "
              f"{ms(SCAN + max(after) * frame)} (the next scan within {SCAN * 1000:.0f} ms, "
              f"then the frames), plus how late the scan starts and liud's own work")
    return liud


def round_trips(liud):
    print("== 4. round trips of control requests", flush=True)
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
            print(f"round trip of '{request.decode().strip()}': median "
                  f"{statistics.median(times) * 1000:.2f} ms, 99th percentile "
                  f"{times[int(len(times) * 0.99)] * 1000:.2f} ms")
    liud.stop()


if seconds:
    bus()
    instructions()
round_trips(latency())
