#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""liu-snmp between real components, started by the harness: snmpd as the
AgentX master, snmptrapd, liud under liusim and liu-snmp attached to snmpd
and liud; judged with the snmp clients, snmptrapd's log and liusim's
transfer log.  And liu-snmp's configuration files with a mistake.
    test_snmp.py GROUP   (LIUSIM, LIUD, LIUCTL, LIU_SNMP, DATA, PYTHONPATH from ctest)"""
import json
import os
import select
import shlex
import signal
import socket
import subprocess
import sys
import time

from liutest import Liud, Snmp, bad_files, scratch, start, wait_for

DATA = os.environ["DATA"]
ENTRY = ".1.3.6.1.2.1.10.18.6.1"  # dsx1ConfigEntry
IF, IFX = ".1.3.6.1.2.1.2.2.1", ".1.3.6.1.2.1.31.1.1.1"  # ifEntry, ifXEntry
NOTIFICATION = ".1.3.6.1.2.1.10.18.15.0.1"
LINK_DOWN, LINK_UP = ".1.3.6.1.6.3.1.1.5.3", ".1.3.6.1.6.3.1.1.5.4"
BASE = 1000000  # liu-snmp's default ifIndex of port 0
SNMP = None  # snmpd and snmptrapd of the group
# Each liud in turn on the one socket path liu-snmp is given.
LIUD = {"config": os.path.join(DATA, "liud.conf"), "socket_path": os.path.join(scratch("link-"), "sock")}


def snmp(tool, *args, community="public"):
    result = SNMP.client(tool, *args, options=("-On", "-Oq", "-Ot", "-t", "2", "-r", "1"),
                         community=community)
    return result.returncode, result.stdout + result.stderr


def table(entry=ENTRY):
    """The walk of a table: {(column, index): value}"""
    status, text = snmp("snmpwalk", entry)
    rows = {}
    for line in text.splitlines() if status == 0 else []:
        name, _, value = line.partition(" ")
        if name.startswith(entry + "."):
            column, index = map(int, name[len(entry) + 1:].split("."))
            rows[column, index] = shlex.split(value)[0] if value else ""
    return rows


def get(column, port, entry=ENTRY):
    status, text = snmp("snmpget", f"{entry}.{column}.{BASE + port}")
    return text.split(" ", 1)[1].strip() if status == 0 and " " in text else text


def set_(column, port, value, entry=ENTRY):
    return snmp("snmpset", f"{entry}.{column}.{BASE + port}", "i", str(value), community="private")


def status_traps(port):
    """The dsx1LineStatusChange notifications of a port: {varbind: value} each"""
    return [trap for trap in SNMP.notifications(NOTIFICATION) if f"{ENTRY}.10.{BASE + port}" in trap]


def link_traps(port):
    """The linkDown and linkUp notifications of a port: ("down" or "up", ifOperStatus) each"""
    return [("down" if LINK_DOWN in trap.values() else "up", trap[f"{IF}.8.{BASE + port}"])
            for trap in SNMP.notifications(".1.3.6.1.6.3.1.1.5.")
            if trap.get(f"{IF}.1.{BASE + port}") == str(BASE + port)]


def logged(text):
    with open(SNMP.path("liu-snmp.log")) as file:
        return text in file.read()


def start_all():
    """snmpd, snmptrapd, liud and liu-snmp, once the four rows are there: liud, liu-snmp."""
    global SNMP
    SNMP = Snmp()
    liud = Liud(**LIUD)
    agent = SNMP.subagent(os.path.join(DATA, "liu-snmp.conf"), LIUD["socket_path"])
    wait_for(lambda: len(table()) == 18 * 4, what="four rows of 18 columns")
    return liud, agent


def expect(name, walks):
    """Each line of the file NAME: a table of walks, a column, its value in each row."""
    with open(os.path.join(DATA, name)) as file:
        for line in file:
            words = shlex.split(line, comments=True)
            if words:
                walk = walks[words[0]]
                for port, want in enumerate(words[2:]):
                    assert walk[int(words[1]), BASE + port] == want, (words[:2], port, walk)


def group_subagent():
    """dsx1ConfigTable, its notifications, loopbacks set, snmpd and liud restarted."""
    liud, agent = start_all()
    # Idle, liu-snmp sleeps until net-snmp, liud or its status interval has something for it.
    cpu = lambda: sum(map(int, open(f"/proc/{agent.pid}/stat").read().split(") ")[1].split()[11:13]))
    before = cpu()
    time.sleep(1)
    assert cpu() - before < 30, "liu-snmp does not sleep"  # clock ticks of 1 s
    # The walk: one row per port with the configured values.
    expect("table.expected", {"dsx1": table()})
    assert logged("<6>net-snmp: NET-SNMP version ")  # net-snmp's lines in liu-snmp's log

    # LOS on port 2 and port 3 (notification disabled): each row's status
    # shows it, one notification for port 2 and none for port 3.
    liud.ctl("alarm", "2", "los", "on")
    liud.ctl("alarm", "3", "los", "on")
    wait_for(lambda: get(10, 3) == "192" and status_traps(2), what="LOS on ports 2, 3")
    time.sleep(0.5)  # ten polls: nothing more may come
    assert get(10, 2) == "64"
    trap, = status_traps(2)
    assert trap[f"{ENTRY}.10.{BASE + 2}"] == "64" and status_traps(3) == [], trap
    assert logged(f"port 2 (ifIndex {BASE + 2}): dsx1LineStatus 64 dsx1LossOfSignal, "
                  "dsx1LineStatusChange sent\n")
    assert logged(f"port 3 (ifIndex {BASE + 3}): dsx1LineStatus 192 "
                  "dsx1LossOfSignal+dsx1LoopbackState\n")
    uptime = int(get(16, 2))
    assert trap[f"{ENTRY}.16.{BASE + 2}"] == str(uptime) and 0 < uptime <= int(trap[".1.3.6.1.2.1.1.3.0"])

    # dsx1LoopbackConfig through liud onto the chip: the value set, the last
    # write of port 2's loopback register, dsx1LoopbackStatus, dsx1LineStatus.
    for value, register, loops, line in ((3, "0x04", "4", "192"), (5, "0x02", "16", "192"),
                                         (6, "0x06", "20", "192"), (4, "0x01", "8", "192"),
                                         (1, "0x00", "1", "64")):
        status, text = set_(9, 2, value)
        assert status == 0, text
        writes = [t for t in liud.transfers() if t.startswith("W ch2 0x2b <- ")]
        assert writes[-1] == "W ch2 0x2b <- " + register, (value, writes)
        wait_for(lambda: (get(9, 2), get(18, 2), get(10, 2)) == (str(value), loops, line),
                 what=f"dsx1LoopbackConfig {value} in the row")
    writes = len(liud.transfers())
    for column, port, value, error in ((9, 2, 2, "wrongValue"), (9, 2, 7, "wrongValue"),
                                       (5, 2, 2, "notWritable"), (9, 8, 1, "noCreation"),
                                       (17, 0, 3, "wrongValue")):
        status, text = set_(column, port, value)
        assert status != 0 and error in text, (column, port, value, text)
    assert [t for t in liud.transfers()[writes:] if t.startswith("W ")] == []
    assert set_(17, 0, 2)[0] == 0 and get(17, 0) == "2"
    assert get(19, 0) == "No Such Object available on this agent at this OID"

    # snmpd restarts: liu-snmp attaches again; notifications go on.
    SNMP.snmpd.terminate()
    SNMP.snmpd.wait(10)
    SNMP.snmpd = SNMP.start_snmpd()
    # Within a few of the master pings (agentx_ping = 1s), not at the status interval.
    wait_for(lambda: get(10, 2) == "64", 5, what="the rows through the new snmpd")
    assert get(16, 2) == "0"  # the change came before this snmpd's sysUpTime began
    liud.ctl("alarm", "2", "los", "off")
    # LOS, loopback on, loopback off, LOS cleared: four changes of port 2.
    wait_for(lambda: len(status_traps(2)) == 4, what="LOS cleared notified")
    assert status_traps(2)[-1][f"{ENTRY}.10.{BASE + 2}"] == "1", status_traps(2)

    # liud restarts: while it is away no line's state is known, then the
    # rows show the new liud's (no LOS on port 3: a new chip); the
    # notification settings stay.
    liud.stop()
    wait_for(lambda: [get(10, port) for port in range(4)] == ["4096"] * 4, what="liud away")
    assert logged("liud gone (the watch connection closed): the lines' state is not known")
    Liud(**LIUD)
    wait_for(lambda: get(10, 3) == "128", what="the new liud's state")
    assert get(10, 0) == "1" and get(17, 0) == "2" and get(9, 3) == "5"
    assert status_traps(0) == []  # disabled by the set above
    assert [t[f"{ENTRY}.10.{BASE + 1}"] for t in status_traps(1)] == ["4096", "1"]
    # The times of changes after snmpd's restart stay as notified.
    assert get(16, 1) == status_traps(1)[-1][f"{ENTRY}.16.{BASE + 1}"] != "0"
    agent.terminate()
    assert agent.wait(10) == 0, "liu-snmp did not end cleanly"
    assert logged("<6>stopping\n")
    assert not os.path.exists(SNMP.path("liu-snmp.conf")), "net-snmp's state saved"


def group_interfaces():
    """The ports in snmpd's ifTable and ifXTable beside the host's interfaces,
    linkDown and linkUp, a loopback testing, a dead bus."""
    liud, agent = start_all()
    host = sorted(index for index, _ in socket.if_nameindex())
    ports = list(range(BASE, BASE + 8))
    walks = {"if": table(IF), "ifX": table(IFX)}
    # Index order, the host's rows first, each answered by snmpd as before.
    assert [index for column, index in walks["if"] if column == 1] == host + ports, walks["if"]
    assert [walks["ifX"][1, index] for index in host] == [name for _, name in sorted(socket.if_nameindex())]
    expect("interfaces.expected", walks)
    assert all(walks["if"][2, BASE + port].startswith(f"liu0/{port}: ") for port in range(8))
    # A GET of a host interface's row answers from snmpd; counters are none of the ports'.
    assert snmp("snmpget", f"{IF}.2.{host[0]}", f"{IF}.10.{BASE}")[1].splitlines() == [
        f'{IF}.2.{host[0]} "{walks["if"][2, host[0]]}"',
        f"{IF}.10.{BASE} No Such Instance currently exists at this OID"]
    # snmptable, with a MIB module of ifTable's columns (the IETF's modules
    # are not in Debian's main archive).
    result = SNMP.client("snmptable", "LIU-IFTABLE-TEST::ifTable",
                         options=("-m", "+LIU-IFTABLE-TEST", "-M", f"+{DATA}", "-Cf", "\t", "-CH"))
    rows = [line.split("\t") for line in result.stdout.splitlines() if "\t" in line]
    assert [int(row[0]) for row in rows] == host + ports, result
    assert rows[-8][2:] == ["18", "2048000", "up", "up"] and rows[-1][4:] == ["down", "notPresent"], rows

    # LOS on port 2: ifOperStatus down and one linkDown with ifIndex,
    # ifAdminStatus and ifOperStatus, dated within sysUpTime; on port 1
    # (ifLinkUpDownTrapEnable disabled) down without one.
    liud.ctl("alarm", "1", "los", "on")
    liud.ctl("alarm", "2", "los", "on")
    wait_for(lambda: get(8, 1, IF) == "2" and link_traps(2), what="LOS on ports 1 and 2")
    time.sleep(0.5)
    trap, = [t for t in SNMP.notifications(LINK_DOWN)]
    assert trap[f"{IF}.7.{BASE + 2}"] == "1" and get(8, 2, IF) == "2" and link_traps(1) == [], trap
    assert 0 < int(get(9, 2, IF)) <= int(trap[".1.3.6.1.2.1.1.3.0"])
    assert logged(f"port 2 (ifIndex {BASE + 2}): ifOperStatus down(2), linkDown sent\n")
    assert logged(f"port 1 (ifIndex {BASE + 1}): ifOperStatus down(2)\n")
    # A loopback set through dsx1LoopbackConfig: testing, leaving down (a
    # linkUp); off again: down (a linkDown); LOS cleared: up (a linkUp).
    assert set_(9, 2, 3)[0] == 0  # liu-snmp reads liud's status again at once
    wait_for(lambda: get(8, 2, IF) == "3", 3, what="testing")
    assert set_(9, 2, 1)[0] == 0
    wait_for(lambda: get(8, 2, IF) == "2", what="down again")
    liud.ctl("alarm", "2", "los", "off")
    wait_for(lambda: len(link_traps(2)) == 4, what="LOS cleared")
    assert link_traps(2) == [("down", "2"), ("up", "3"), ("down", "2"), ("up", "1")], link_traps(2)
    # ifLinkUpDownTrapEnable: writable, 1 or 2.
    assert set_(14, 1, 1, IFX)[0] == 0 and get(14, 1, IFX) == "1"
    assert logged("port 1: ifLinkUpDownTrapEnable 1 (enabled)\n")
    status, text = set_(14, 1, 3, IFX)
    assert status != 0 and "wrongValue" in text, text
    assert "notWritable" in set_(7, 1, 2, IF)[1]

    # A dead bus: while the chip does not answer, every row's state is not
    # known; one dsx1LineStatusChange each way.
    before = {port: len(status_traps(port)) for port in range(3)}
    liud.ctl("fail", "from", "1")
    wait_for(lambda: [get(10, port) for port in range(4)] == ["4096"] * 4, what="the chip silent")
    assert [get(8, port, IF) for port in range(8)] == ["4"] * 4 + ["6"] * 4
    assert logged("liud: the chip does not answer (")
    # A set whose loopback liud refuses (the chip silent) is undone whole.
    status, text = snmp("snmpset", f"{IFX}.14.{BASE + 1}", "i", "2", f"{ENTRY}.9.{BASE + 2}", "i", "3",
                        community="private")
    assert status != 0 and "commitFailed" in text and get(14, 1, IFX) == "1", text
    liud.ctl("fail", "none")
    wait_for(lambda: [get(8, port, IF) for port in range(4)] == ["1", "2", "1", "3"], what="the chip back")
    assert [get(10, port) for port in range(4)] == ["1", "64", "1", "128"]
    for port in range(3):
        assert [t[f"{ENTRY}.10.{BASE + port}"] for t in status_traps(port)[before[port]:]] == [
            "4096", get(10, port)], (port, status_traps(port))
    # Port 1 (notifications enabled again) left down for unknown and came back.
    assert link_traps(1) == [("up", "4"), ("down", "2")], link_traps(1)
    # A liud that does not answer a set (stopped) is taken as gone; continued, it is back.
    pid = liud.request("status")["daemon"]["pid"]
    os.kill(pid, signal.SIGSTOP)
    try:
        assert set_(9, 2, 3)[0] != 0
        wait_for(lambda: logged("liud gone (no answer to set)"), what="liud taken as gone")
    finally:
        os.kill(pid, signal.SIGCONT)
    wait_for(lambda: get(10, 0) == "1", what="liud back")
    assert logged("liud: the chip answers again")
    agent.terminate()
    assert agent.wait(10) == 0, "liu-snmp did not end cleanly"


def group_untrusted():
    """A liud whose answers are not its protocol: liu-snmp says so, keeps
    nothing of them, connects again, and ends cleanly; started as a daemon
    may be, with its standard input closed."""
    path = os.path.join(scratch("untrusted-"), "{}").format
    listener = socket.socket(socket.AF_UNIX)
    listener.bind(path("liud"))
    listener.listen()
    listener.settimeout(10)
    agent = start([os.environ["LIU_SNMP"], "--agentx", "unix:" + path("agentx"), "--liud", path("liud")],
                  path("log"), preexec_fn=lambda: os.close(0))

    def session(status):
        """liu-snmp's two connections, its watch and its status answered with STATUS."""
        watch, requests = (listener.accept()[0] for _ in range(2))
        assert watch.makefile("rb").readline() == b"watch\n"
        assert requests.makefile("rb").readline() == b"status\n"
        requests.sendall(status + b"\n")
        return watch, requests

    def logged(text):
        with open(path("log")) as file:
            return text in file.read()

    # A status without its fields, then a real liud's.
    first = session(b'{"ok":true,"command":"status","daemon":{"pid":"1"},"ports":[]}')
    wait_for(lambda: logged("<3>liud's status not understood: "), what="the status refused")
    status = json.dumps(Liud(config=LIUD["config"], log=False).request("status")).encode()
    watch, requests = session(status)
    wait_for(lambda: logged("liud at "), what="the status taken")
    # An event of no known kind; the chip silent, and no answer to the
    # status read for it: liud is gone.
    watch.sendall(b'{"event":"alarm","port":"two"}\n')
    wait_for(lambda: logged("<3>liud's event not understood: "), what="the event refused")
    watch.sendall(b'{"event":"chip","state":"silent","time":"2099-01-01T00:00:00.000Z","failedTransfers":1}\n')
    assert requests.makefile("rb").readline() == b"status\n"
    requests.close()
    wait_for(lambda: logged("liud gone (no answer to status)"), what="liud taken as gone")
    # Back; then a line that is no JSON: gone again.
    watch, _ = session(status)
    wait_for(lambda: logged("liud at ") and logged("ifOperStatus up(1)"), what="the lines back")
    watch.sendall(b"\xff{not json\n")
    wait_for(lambda: logged("liud gone (the watch connection closed)"), what="liud taken as gone")
    session(b"[]")  # and it comes back
    agent.send_signal(signal.SIGINT)
    assert agent.wait(10) == 0 and first


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
    # An ifindex_base whose ports would take a host interface's index.
    index, name = min(socket.if_nameindex())
    with open(path("conf"), "w") as file:
        file.write(f"[global]\nifindex_base = {index}\n")
    result = subprocess.run(command, capture_output=True, text=True, timeout=20)
    assert result.returncode == 2 and result.stderr == (
        f"liu-snmp: ifindex_base {index}: the ports' ifIndex {index} to {index + 7} would meet the "
        f"host's interface {name} (ifIndex {index}); choose a base above the host's interface "
        "indexes\n"), result
    assert select.select(listeners, [], [], 0)[0] == []
    # A good file: the master is called at once, and liud once the master hangs up.
    with open(path("conf"), "w") as file:
        file.write("[global]\n")
    start(command, stderr=subprocess.DEVNULL)
    for listener in listeners:
        wait_for(lambda: select.select([listener], [], [], 0)[0], what="a connection")
        listener.accept()[0].close()


if __name__ == "__main__":
    globals()["group_" + sys.argv[1]]()
