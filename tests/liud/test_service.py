#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""liud in service, as a bus that fails, a second owner, readers and hostile
clients try it, one group of cases per process:
    test_service.py GROUP   (LIUSIM, LIUD, LIUCTL, PYTHONPATH from ctest)
judged by its answers, its log, its watch stream and the chip's transfer log."""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

from liutest import RESET, Liud, scratch, start, timed_transfers, wait_for

LIUD, LIUCTL = os.environ["LIUD"], os.environ["LIUCTL"]


def config(*lines):
    return "\n".join(("[global]", "inout = sym") + lines) + "\n"


def watch_stream(client):
    """The events of a watch on client, up to its answer."""
    stream = []
    for line in client.makefile("rb"):
        answer = json.loads(line)
        if "event" not in answer:
            return stream
        stream.append(answer)
    return stream


def group_faults():
    """Failed transfers are bus faults: no alarm changes, a silent chip said once, no writes."""
    liud = Liud(config_text=config("audit_interval = 300ms", "[port 0-7]", "txpower = up"))
    watcher = liud.connect()
    watcher.sendall(b"watch\n")
    liud.request("echo")  # answered after the watch request, which came first
    liud.ctl("alarm", "2", "los", "on")
    wait_for(lambda: liud.log_lines("port 2: LOS active"), what="LOS on port 2")
    for _ in range(40):  # single failures on a bus that works
        liud.ctl("fail", "next")
        time.sleep(0.02)
    status = liud.request("status")
    # Each failed the next transfer (a later one replaces one not yet used).
    assert status["daemon"]["failedTransfers"] >= 10 and status["daemon"]["chipAnswering"], status
    before = len(liud.transfers())
    liud.ctl("fail", "from", "1")  # a dead bus
    wait_for(lambda: not liud.request("status")["daemon"]["chipAnswering"], what="a silent chip")
    status = liud.request("status 2")
    assert not status["ports"][0]["alarmsKnown"] and status["ports"][0]["alarms"]["LOS"] == "active"
    refused = liud.request("set txpower 3 down")
    assert not refused["ok"] and "the chip does not answer" in refused["error"], refused
    time.sleep(1.5)  # audits and polls meet the dead bus
    dead = liud.transfers()[before:]
    liud.ctl("fail", "none")
    wait_for(lambda: liud.request("status")["daemon"]["chipAnswering"], what="the chip again")
    assert [t for t in dead if t.startswith("W")] == [], dead  # nothing written
    log = liud.stderr()
    assert re.findall(r"port \d: \w+ (?:active|cleared)", log) == ["port 2: LOS active"], log
    assert liud.log_lines("SPI read failure") == [], log
    silence = log[log.index("<3>the chip does not answer"):].splitlines()
    assert silence[-1].startswith("<5>the chip answers again") and len(silence) <= 3, silence
    assert [line for line in silence if "audit" in line] == [
        "<4>audit: skipped while the chip does not answer"], silence  # said once, not each time
    watcher.sendall(b"\n")
    stream = watch_stream(watcher)
    assert [(e["event"], e.get("state")) for e in stream] == [
        ("alarm", "active"), ("chip", "silent"), ("chip", "answering")], stream
    assert liud.request("status 2")["ports"][0]["alarmsKnown"]
    liud.stop()


def group_owner():
    """One owner: a second liud and liuctl --standalone touch nothing; --check opens nothing."""
    liud = Liud(config_text=config())
    pid = liud.request("status")["daemon"]["pid"]
    with open(f"/proc/{pid}/environ", "rb") as file:  # the same simulated chip
        chip = dict(item.split(b"=", 1) for item in file.read().split(b"\0") if b"=" in item)
    env = {k: v.decode() for k, v in chip.items() if k in (b"UMOCKDEV_DIR", b"LD_PRELOAD")}
    before = liud.transfers()
    for command in ([LIUD, "--config", liud.config, "--socket", liud.path("other.sock")],
                    [LIUCTL, "--standalone", "-c", "init sym 8"]):
        second = subprocess.run(command, capture_output=True, text=True, timeout=20,
                                env={**os.environ, **env})
        assert second.returncode == 1 and f"in use by liud (pid {pid})" in second.stderr, second
    after = liud.transfers()[len(before):]  # liud's polls only: nobody reset or wrote
    assert [t for t in after if not t.startswith("R")] == [], after
    assert not os.path.exists(liud.path("other.sock"))
    checked = subprocess.run([LIUD, "--check", "--config", liud.config], capture_output=True,
                             text=True, timeout=20)  # outside liusim: no device at all
    assert checked.returncode == 0 and "good: symmetrical interface, 8 ports" in checked.stdout
    liud.stop()
    assert liud.transfers().count(RESET) == 1


def group_rights():
    """Readers read, the control group configures; no raw write without leave, no reset ever."""
    liud = Liud(config_text=config("socket_mode = 0666", "control_group = 100"))
    for request, reason in (("write 0x20 1 0x01", "register writes through liud are off"),
                            ("write 0x04 global 0x01", "software reset"),
                            ("write 0x04 0 0x01", "software reset")):
        answer = liud.request(request)
        assert not answer["ok"] and reason in answer["error"], answer
    with open(liud.config, "a") as file:
        file.write("raw_writes = on\n")
    liud.signal(signal.SIGHUP)
    wait_for(lambda: liud.log_lines("reloaded"), what="the reload")
    assert liud.request("write 0x20 1 0x01")["ok"]
    assert "software reset" in liud.request("write 0x04 global 0x01")["error"]
    if os.getuid() != 0 or not shutil.which("setpriv"):
        print("no other users to be here: the peers' rights are not tried", file=sys.stderr)
        sys.exit(77)
    for directory in (os.path.dirname(liud.socket), os.path.dirname(os.path.dirname(liud.socket))):
        os.chmod(directory, 0o755)  # nobody may reach the socket
    def as_nobody(groups, *options_and_request):
        *options, request = options_and_request
        return subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", groups, LIUCTL,
                               "--connect", liud.socket, "--json", *options, "-c", request],
                              capture_output=True, text=True, timeout=20)
    reader = as_nobody("--clear-groups", "-k", "status 0; connected; set txpower 0 up; "
                       "broadcast on")
    answers = [json.loads(line) for line in reader.stdout.splitlines()]
    assert answers[0]["ok"] and answers[1]["connected"], reader  # read at liud's chip
    assert [a["error"] for a in answers[2:]] == [
        f"{command}: refused: changing the chip takes root or a member of group 100 (uid 65534 "
        "may only read)" for command in ("set", "broadcast")], reader
    member = as_nobody("--groups=100", "set txpower 0 up")
    assert member.returncode == 0, member
    liud.stop()
    assert liud.transfers().count(RESET) == 1


def group_fairness():
    """120 clients with heavy requests: polls keep their interval, the watchdog is never late;
    requests of clients that left are not run."""
    notify_path = os.path.join(scratch("notify-"), "notify")
    notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    notify.bind(notify_path)
    watchdog = []
    def receive():  # when each notification comes
        while True:
            watchdog.extend([time.monotonic()] * notify.recv(4096).count(b"WATCHDOG=1"))
    threading.Thread(target=receive, daemon=True).start()
    liud = Liud(config_text=config("client_timeout = 30s"),
                env={"NOTIFY_SOCKET": notify_path, "WATCHDOG_USEC": "1000000"})
    clients = [liud.connect() for _ in range(120)]
    begin = timed_transfers(liud.log)[-1][0]
    for number, client in enumerate(clients):
        client.sendall(b"get linetype 0-1\n" if number % 20 == 0 else b"show all\nshow all\n")
    started = len(watchdog)
    for client in clients:
        client.makefile("rb").readline()
    log = [(t, what) for t, what in timed_transfers(liud.log) if t > begin]
    polls = [t for (t, what), (_, before) in zip(log[1:], log) if what == "R ch0 0x36 -> 0x00"
             and not before.startswith("R ch0 0x36")]
    gaps = [b - a for a, b in zip(polls, polls[1:])]
    # The longest request: get linetype of two ports, 2 x 131 transfers, at the log's pace;
    # the poll and the scheduling of a loaded machine beside it.  (A loop that answers every
    # waiting request first leaves gaps of seconds here.)
    spacing = sorted(b[0] - a[0] for a, b in zip(log, log[1:]))[len(log) // 2]
    request = 262 * spacing
    assert len(gaps) > 10 and max(gaps) < 0.1 + 2 * request + 0.3, (max(gaps), request)
    wait_for(lambda: len(watchdog) > started + 2, what="the watchdog")
    late = watchdog[max(started - 1, 0):]
    assert max(b - a for a, b in zip(late, late[1:])) < 1.0, late  # WATCHDOG_USEC
    for client in clients:
        client.close()
    before = len(liud.transfers())
    for number in range(200):  # asks and leaves at once
        with liud.connect() as client:
            client.sendall(b"show all\n")
        if number % 40 == 39:
            time.sleep(0.1)  # within the socket's backlog
    time.sleep(0.5)
    assert len(liud.transfers()) - before < 20 * 80, len(liud.transfers()) - before
    liud.stop()


def group_bounds():
    """Senders that never read cost bounded memory; idle clients give back their slots."""
    liud = Liud(config_text=config("client_timeout = 3s"))
    pid = liud.request("status")["daemon"]["pid"]
    senders = [liud.connect() for _ in range(60)]
    request = b"help\n" * 1000
    deadline = time.monotonic() + 3
    for sender in senders:
        sender.setblocking(False)
    while time.monotonic() < deadline:
        for sender in senders:
            try:
                sender.send(request)
            except (BlockingIOError, BrokenPipeError, ConnectionResetError):
                pass
    with open(f"/proc/{pid}/status") as file:
        rss = int(re.search(r"VmRSS:\s+(\d+)", file.read()).group(1))
    assert rss < 32 * 1024, rss
    for sender in senders:
        sender.close()
    idle = [liud.connect() for _ in range(128)]
    time.sleep(0.2)
    full = liud.liuctl("-c", "poll")
    assert full.returncode == 1 and "too many clients: 128 at most" in full.stderr, full
    first = idle[0].makefile("rb").readline()  # after the client timeout
    assert b"idle for 3 s" in first and idle[0].recv(1) == b"", first
    assert liud.liuctl("-c", "poll").returncode == 0
    watch = liud.connect()
    watch.sendall(b"watch 0.3\n")
    watch.shutdown(socket.SHUT_WR)  # half-closed: the watch still ends with its answer
    assert json.loads(watch.makefile("rb").readline())["command"] == "watch"
    liud.stop()


if __name__ == "__main__":
    globals()["group_" + sys.argv[1]]()
