#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""liu-snmp on the demo board, on this machine: snmpd (AgentX master),
snmptrapd, liud under liusim with examples/liud.conf and liu-snmp with
examples/liu-snmp.conf (its paths replaced by the command line), each
started here in a temporary directory and ended at the end.  Prints
  - the time from an alarm change in liusim (LOS on port 3 raised or
    cleared through its control socket) until snmptrapd has logged the
    dsx1LineStatusChange, median and worst; and the part of it after
    liud's poll (the time in liud's watch event): liu-snmp, snmpd, snmptrapd;
  - snmpwalk of the DS1-MIB as an operator sees it.
Usage: latency.py BUILD [TRIALS]"""
import datetime
import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
build = os.path.abspath(sys.argv[1])
trials = int(sys.argv[2]) if len(sys.argv) > 2 else 40
tmp = tempfile.mkdtemp(prefix="liu-snmp-measure-")
env = {**os.environ, "MIBS": "", "SNMP_PERSISTENT_DIR": tmp,
       "PATH": "/usr/sbin:" + os.environ.get("PATH", "")}
processes = []


def path(name):
    return os.path.join(tmp, name)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start(name, command, conf=None):
    if conf:
        with open(path(name + ".conf"), "w") as file:
            file.write(conf)
    log = open(path(name + ".log"), "w")
    processes.append(subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, env=env))


def wait_for(condition, what):
    deadline = time.monotonic() + 20
    while not condition():
        if time.monotonic() > deadline:
            sys.exit("latency.py: timed out waiting for " + what)
        time.sleep(0.01)


def notifications():
    with open(path("snmptrapd.log")) as file:
        return sum(".1.3.6.1.2.1.10.18.15.0.1" in line for line in file)


def walk(*options):
    return subprocess.run(["snmpwalk", "-v2c", "-c", "public", *options, f"127.0.0.1:{agent}",
                           ".1.3.6.1.2.1.10.18"], capture_output=True, text=True, env=env).stdout


agent, traps = free_port(), free_port()
try:
    start("snmpd", ["snmpd", "-f", "-Lo", "-C", "-c", path("snmpd.conf")],
          f"agentaddress udp:127.0.0.1:{agent}\nmaster agentx\nagentXSocket unix:{path('agentx')}\n"
          f"rocommunity public 127.0.0.1\ntrap2sink 127.0.0.1:{traps} public\n")
    start("snmptrapd", ["snmptrapd", "-f", "-Lo", "-C", "-c", path("snmptrapd.conf"), "-On", "-X",
                        "-F", "%v\n"],
          f"disableAuthorization yes\nsnmpTrapdAddr udp:127.0.0.1:{traps}\n")
    start("liud", [os.path.join(build, "sim/liusim/liusim"), "--ctl", path("ctl"), "--",
                   os.path.join(build, "tools/liud/liud"), "--config",
                   os.path.join(top, "examples/liud.conf"), "--socket", path("liud.sock")])
    wait_for(lambda: os.path.exists(path("liud.sock")) and os.path.exists(path("agentx")),
             "liud and snmpd")
    start("liu-snmp", [os.path.join(build, "tools/liu-snmp/liu-snmp"), "--liud", path("liud.sock"),
                       "--agentx", "unix:" + path("agentx"), "--config",
                       os.path.join(top, "examples/liu-snmp.conf")])
    wait_for(lambda: walk("-On").count("\n") == 8 * 18, "the eight rows")

    control = socket.socket(socket.AF_UNIX)
    control.connect(path("ctl"))  # one connection: no process start in the figures
    replies = control.makefile("rb")
    watch = socket.socket(socket.AF_UNIX)
    watch.connect(path("liud.sock"))
    watch.sendall(b"watch\n")
    events = watch.makefile("rb")
    delays, after_poll = [], []
    for trial in range(trials):
        before = notifications()
        time.sleep(0.2 + 0.037 * (trial % 5))  # out of step with the poll
        start_time = time.monotonic()
        control.sendall(f"alarm 3 los {'on' if trial % 2 == 0 else 'off'}\n".encode())
        assert replies.readline() == b"ok\n"
        while notifications() == before:
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
    print(walk("-On"), end="")
finally:
    for process in reversed(processes):
        process.terminate()
        process.wait(10)
    shutil.rmtree(tmp)
