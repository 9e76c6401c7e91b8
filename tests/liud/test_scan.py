#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""liud's alarm scan, one group of cases per process:
    test_scan.py GROUP   (LIUSIM, LIUD, PYTHONPATH from ctest)
judged by the chip's transfer log (which reads liud makes and when it runs the
library's poll), liud's log with the library's trace and a watch stream (what
it publishes from them)."""
import json
import re
import socket
import sys
import time

from liutest import Liud, alarm_work, changed_ports, poll_readings, timed_transfers, wait_for

class Board:
    """liud under liusim scanning every 10 ms, the library's trace in its log, one client
    watching; liusim's control socket on one connection, its transfer log followed."""

    def __init__(self, poll_interval):
        self.liud = Liud(config_text="[global]\ninout = sym\nscan_interval = 10ms\n"
                         f"poll_interval = {poll_interval}\naudit_interval = off\n",
                         env={"LIU_TRACE": "call"})
        self.watcher = self.liud.connect()
        self.watcher.sendall(b"watch\n")
        wait_for(lambda: self.liud.request("status")["daemon"]["clients"] == 2, what="the watcher")
        self.control = socket.socket(socket.AF_UNIX)
        self.control.connect(self.liud.ctl_path)
        self.replies = self.control.makefile("rb")
        self.log, self.pending = open(self.liud.log), ""

    def chip(self, *commands):
        """liusim's commands, sent at once."""
        self.control.sendall("".join(command + "\n" for command in commands).encode())
        for command in commands:
            assert self.replies.readline() == b"ok\n", command

    def skip(self):
        """Past every transfer logged so far."""
        self.pending = (self.pending + self.log.read()).rpartition("\n")[2]

    def transfer(self, pattern, seconds=10):
        """The next transfer liusim logs that matches pattern: its time."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.pending += self.log.read()
            while "\n" in self.pending:
                line, self.pending = self.pending.split("\n", 1)
                if re.search(pattern, line):
                    return float(line.split(" ", 1)[0])
            time.sleep(0.0002)
        raise AssertionError("no transfer " + pattern)

    def work(self):
        """liud's scans and polls since the status request of the start."""
        timed = timed_transfers(self.liud.log)
        start = max(at for at, (_, transfer) in enumerate(timed) if " 0x36 " not in transfer)
        return alarm_work(timed[start + 1:])

    def published(self):
        """(port, indication, active) of liud's log lines, and of the library's trace lines."""
        text = self.liud.stderr()
        return ([(int(p), name, state == "active") for p, name, state in
                 re.findall(r"<\d>port (\d): (\w+) (active|cleared)", text)],
                [(int(p), name, state == "active") for p, name, state in
                 re.findall(r"LIU\[(\d)\] (\w+) +(active|inactive) =", text)])

    def watched(self):
        """The watch stream, ended: (port, indication, active) of each alarm event, and the
        other events."""
        self.watcher.sendall(b"\n")
        alarms, others = [], []
        for line in self.watcher.makefile("rb"):
            event = json.loads(line)
            if "event" not in event:
                return alarms, others
            if event["event"] == "alarm":
                alarms.append((event["port"], event["indication"], event["state"] == "active"))
            else:
                others.append(event)
        raise AssertionError("the watch stream ended without its answer")


def check_polls(work, interval):
    """A scan that reads a register changed since the last reading (a scan's or a poll's, in
    the bits the library reads), or a port unknown (its last read failed, or a poll's), is
    followed at once by one full poll; every other poll comes a poll interval after the one
    before."""
    previous, last_poll, changed = None, None, False
    for kind, seconds, registers in work:
        if kind == "poll":
            assert changed or last_poll is None or seconds - last_poll > interval * 0.9, \
                f"{seconds}: a full poll {seconds - last_poll:.3f} s after the last, no change"
            last_poll, changed = seconds, False
            previous = poll_readings(registers)
            continue
        assert not changed, f"{seconds}: no full poll after the scan that saw a change"
        changed = previous is not None and bool(changed_ports(registers, previous))
        previous = registers


def group_scan():
    """An idle bus holds scans and the slow full poll, nothing else; each change of an
    indication is published once, with the library's trace, whichever scan sees it, and so are
    two ports changing in one scan; bits the library does not read and failed scan reads
    publish nothing."""
    board = Board("1s")
    time.sleep(2)
    idle = board.work()
    assert {value for _, _, registers in idle for value in registers} == {0}, idle
    assert sum(kind == "poll" for kind, _, _ in idle) >= 1 and len(idle) > 20, idle
    expected = []

    def change(commands, changes):
        before = len(board.published()[0])
        board.chip(*commands)
        expected.extend(changes)
        wait_for(lambda: len(board.published()[0]) >= before + len(changes), what=str(changes))

    # Each indication on and off, at every phase of the scan.
    for number, (port, name, bit) in enumerate(((0, "LOS", 0x01), (3, "AIS", 0x02),
                                                (5, "DF", 0x04), (2, "TLOS", 0x08),
                                                (6, "PRBS", 0x10), (7, "EQ", 0x80))):
        for active in (True, False):
            time.sleep(0.02 + 0.01 * ((2 * number + active) * 0.618 % 1))
            change([f"status {port} {bit if active else 0}"], [(port, name, active)])
    change(["status 4 0x60"], [])  # bits 5 and 6: none of the library's indications
    time.sleep(0.1)
    # Two ports in one scan: the changes made between two scans.
    for active in (True, False):
        while True:
            board.skip()
            at = board.transfer(r"R ch7 0x36")
            change([f"status 1 {int(active)}", f"status 6 {4 * active}"],
                   [(1, "LOS", active), (6, "DF", active)])
            # The scan that saw port 1 change stops there and asks for the poll, which must
            # have read port 6 changed too (its DF read: the third of port 6's six).
            work = [entry for entry in board.work() if entry[1] > at]
            seen = next(number for number, (kind, _, registers) in enumerate(work)
                        if kind == "poll" or (len(registers) > 1 and
                                              registers[1] & 1 == active))
            if (work[seen][0] == "scan" and len(work[seen][2]) == 2 and work[seen + 1][0] == "poll"
                    and work[seen + 1][2][6 * 6 + 2] & 4 == 4 * active):  # by one scan
                break
            # A scan went on between the two changes: undo them and try again.
            change([f"status 1 {int(not active)}", f"status 6 {4 * (not active)}"],
                   [(1, "LOS", not active), (6, "DF", not active)])
    # Failed scan reads beside an alarm.
    change(["status 2 0x01"], [(2, "LOS", True)])
    traced = len(expected)  # a failed read in a poll is an alarm to the library: it traces it
    for number in range(4):
        time.sleep(0.1)  # the poll after the last failure is over
        board.skip()
        board.transfer(r"R ch7 0x36")  # the end of a scan: the next one reads port 2 third
        board.chip(f"fail transfer {3 + number % 2}")
        board.transfer("FAILED")
    time.sleep(0.1)
    change(["status 2 0"], [(2, "LOS", False)])
    time.sleep(0.05)

    work = board.work()
    check_polls(work, 1.0)
    failed = [kind for kind, _, registers in work for value in registers if value is None]
    assert len(failed) == 4 and "scan" in failed, work
    logged, library = board.published()
    assert logged == expected and library[:traced] == expected[:traced], (logged, library)
    assert board.watched() == (expected, []), expected
    status = board.liud.request("status")
    assert status["daemon"]["chipAnswering"], status
    assert all(port["alarmsKnown"] for port in status["ports"]), status
    board.liud.stop()


def group_glitch():
    """A change that a scan sees and that is gone when the library's poll reads the register
    again publishes nothing: the library's table decides."""
    board = Board("60s")
    for _ in range(20):
        before = board.published()
        board.chip("status 7 0x80")  # EQ: the last of the poll's reads
        seen = board.transfer(r"R ch7 0x36 -> 0x80")
        board.chip("status 7 0")
        board.skip()
        board.transfer(r"R ch7 0x36 -> 0x00")
        board.transfer(r"R ch0 0x36")  # after the poll: the next scan
        work = board.work()
        at = max(at for at, (_, seconds, _) in enumerate(work) if seconds <= seen)
        assert work[at][0] == "scan" and work[at + 1][0] == "poll", work[at:]
        if work[at + 1][2][-1] == 0:
            assert board.published() == before, (board.published(), before)
            break
        # Cleared only after the poll had read it: published, and cleared at the next poll.
        wait_for(lambda: len(board.published()[0]) == len(before[0]) + 2, what="the clearing")
    else:
        raise AssertionError("the change never went before the library's poll read it")
    check_polls(board.work(), 60)
    assert board.watched() == (board.published()[0], [])
    board.liud.stop()


if __name__ == "__main__":
    globals()["group_" + sys.argv[1]]()
