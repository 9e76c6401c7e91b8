#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""liu-snmp between real components, started by the harness: snmpd as the
AgentX master, snmptrapd, liud under liusim and liu-snmp attached to snmpd
and liud; judged with the snmp clients, snmptrapd's log and liusim's
transfer log.  And liu-snmp's configuration files with a mistake.
    test_snmp.py GROUP   (LIUSIM, LIUD, LIUCTL, LIU_SNMP, DATA, PYTHONPATH from ctest)"""
import os
import select
import shlex
import socket
import subprocess
import sys
import time

from liutest import Liud, Snmp, bad_files, scratch, start, wait_for

DATA = os.environ["DATA"]
ENTRY = ".1.3.6.1.2.1.10.18.6.1"
NOTIFICATION = ".1.3.6.1.2.1.10.18.15.0.1"
SNMP = None  # snmpd and snmptrapd of group_subagent
# Each liud in turn on the one socket path liu-snmp is given.
LIUD = {"config": os.path.join(DATA, "liud.conf"), "socket_path": os.path.join(scratch("link-"), "sock")}


def snmp(tool, *args, community="public"):
    result = SNMP.client(tool, *args, options=("-On", "-Oq", "-Ot", "-t", "2", "-r", "1"),
                         community=community)
    return result.returncode, result.stdout + result.stderr


def table():
    """The walk of dsx1ConfigTable: {(column, dsx1LineIndex): value}"""
    status, text = snmp("snmpwalk", ENTRY)
    rows = {}
    for line in text.splitlines() if status == 0 else []:
        name, _, value = line.partition(" ")
        if name.startswith(ENTRY + "."):
            column, index = map(int, name[len(ENTRY) + 1:].split("."))
            rows[column, index] = shlex.split(value)[0] if value else ""
    return rows


def get(column, index):
    status, text = snmp("snmpget", f"{ENTRY}.{column}.{index}")
    return text.split(" ", 1)[1].strip() if status == 0 and " " in text else text


def set_(column, index, value):
    return snmp("snmpset", f"{ENTRY}.{column}.{index}", "i", str(value), community="private")


def traps():
    """Each notification snmptrapd logged: {varbind: value}"""
    return SNMP.notifications(NOTIFICATION)


def status_traps(index):
    return [trap for trap in traps() if f"{ENTRY}.10.{index}" in trap]


def group_subagent():
    """The table, notifications, loopbacks set, snmpd and liud restarted."""
    global SNMP
    SNMP = Snmp()
    liud = Liud(**LIUD)
    agent = SNMP.subagent(os.path.join(DATA, "liu-snmp.conf"), LIUD["socket_path"])

    # The walk: one row per port with the configured values.
    wait_for(lambda: len(table()) == 18 * 4, what="four rows of 18 columns")
    walk = table()
    with open(os.path.join(DATA, "table.expected")) as file:
        for line in file:
            words = shlex.split(line, comments=True)
            for index, want in zip(range(101, 105), words[1:]):
                assert walk[int(words[0]), index] == want, (words[0], index, walk)

    # LOS on port 2 (row 103) and port 3 (row 104, notification disabled):
    # each row's status shows it, one notification for row 103 and none for 104.
    liud.ctl("alarm", "2", "los", "on")
    liud.ctl("alarm", "3", "los", "on")
    wait_for(lambda: get(10, 104) == "192" and status_traps(103), what="LOS in rows 103, 104")
    time.sleep(0.5)  # ten polls: nothing more may come
    assert get(10, 103) == "64"
    trap, = status_traps(103)
    assert trap[f"{ENTRY}.10.103"] == "64" and status_traps(104) == [], traps()
    uptime = int(get(16, 103))
    assert trap[f"{ENTRY}.16.103"] == str(uptime) and 0 < uptime <= int(trap[".1.3.6.1.2.1.1.3.0"])

    # dsx1LoopbackConfig through liud onto the chip: the value set, the last
    # write of port 2's loopback register, dsx1LoopbackStatus, dsx1LineStatus.
    for value, register, loops, line in ((3, "0x04", "4", "192"), (5, "0x02", "16", "192"),
                                         (6, "0x06", "20", "192"), (4, "0x01", "8", "192"),
                                         (1, "0x00", "1", "64")):
        status, text = set_(9, 103, value)
        assert status == 0, text
        writes = [t for t in liud.transfers() if t.startswith("W ch2 0x2b <- ")]
        assert writes[-1] == "W ch2 0x2b <- " + register, (value, writes)
        wait_for(lambda: (get(9, 103), get(18, 103), get(10, 103)) == (str(value), loops, line),
                 what=f"dsx1LoopbackConfig {value} in the row")
    writes = len(liud.transfers())
    for column, index, value, error in ((9, 103, 2, "wrongValue"), (9, 103, 7, "wrongValue"),
                                        (5, 103, 2, "notWritable"), (9, 109, 1, "noCreation"),
                                        (17, 101, 3, "wrongValue")):
        status, text = set_(column, index, value)
        assert status != 0 and error in text, (column, index, value, text)
    assert [t for t in liud.transfers()[writes:] if t.startswith("W ")] == []
    assert set_(17, 101, 2)[0] == 0 and get(17, 101) == "2"

    # snmpd restarts: liu-snmp attaches again; notifications go on.
    SNMP.snmpd.terminate()
    SNMP.snmpd.wait(10)
    SNMP.snmpd = SNMP.start_snmpd()
    wait_for(lambda: get(10, 103) == "64", what="the rows through the new snmpd")
    assert get(16, 103) == "0"  # the change came before this snmpd's sysUpTime began
    liud.ctl("alarm", "2", "los", "off")
    # LOS, loopback on, loopback off, LOS cleared: four changes of row 103.
    wait_for(lambda: len(status_traps(103)) == 4, what="LOS cleared notified")
    assert status_traps(103)[-1][f"{ENTRY}.10.103"] == "1", traps()

    # liud restarts: the rows keep their last state with dsx1OtherFailure
    # while it is away, then show the new liud's (no LOS on port 3: a new
    # chip); the notification settings stay.
    liud.stop()
    wait_for(lambda: get(10, 101) == "4096" and get(10, 104) == "4288", what="liud away")
    Liud(**LIUD)
    wait_for(lambda: get(10, 104) == "128", what="the new liud's state")
    assert get(10, 101) == "1" and get(17, 101) == "2" and get(9, 104) == "5"
    assert [t[f"{ENTRY}.10.101"] for t in status_traps(101)] == []  # disabled by the set above
    assert [t[f"{ENTRY}.10.102"] for t in status_traps(102)] == ["4096", "1"]
    agent.terminate()
    assert agent.wait(10) == 0, "liu-snmp did not end cleanly"


def group_badconfig():
    """Each kind of mistake: its FILE:LINE: reason, exit status 2, and neither
    the AgentX master nor liud called: their sockets get no connection."""
    path = os.path.join(scratch("badconfig-"), "{}").format
    listeners = [socket.socket(socket.AF_UNIX) for _ in range(2)]
    for listener, name in zip(listeners, ("agentx", "liud")):
        listener.bind(path(name))
        listener.listen()
    command = [os.environ["LIU_SNMP"], "--agentx", "unix:" + path("agentx"), "--liud", path("liud"),
               "--config", path("conf")]
    cases = list(bad_files(os.path.join(DATA, "bad-configs.txt")))
    assert len(cases) >= 15
    for name, text, reasons in cases:
        with open(path("conf"), "w") as file:
            file.write(text)
        result = subprocess.run(command, capture_output=True, text=True, timeout=20)
        assert result.returncode == 2, (name, result)
        assert result.stderr == "".join(f"{path('conf')}:{line}\n" for line in reasons), (name, result)
        assert select.select(listeners, [], [], 0)[0] == [], name
    # A good file: the master is called at once, and liud once the master hangs up.
    with open(path("conf"), "w") as file:
        file.write("[global]\n")
    start(command, stderr=subprocess.DEVNULL)
    for listener in listeners:
        wait_for(lambda: select.select([listener], [], [], 0)[0], what="a connection")
        listener.accept()[0].close()


if __name__ == "__main__":
    globals()["group_" + sys.argv[1]]()
