#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""liud under liusim as a board runs it, one group of cases per process:
    test_liud.py GROUP   (LIUSIM, LIUD, LIUCTL, DATA, EXAMPLE, SYSTEMD, PYTHONPATH from ctest)
Each group starts its own liud and judges it by its answers, its log, the
chip's transfer log, its socket, metrics file and notifications."""
import grp
import json
import os
import re
import signal
import socket
import stat
import subprocess
import sys
import time

from liutest import RESET, Liud, bad_files, expected, scratch, start, wait_for

LIUD, LIUCTL, DATA = (os.environ[k] for k in ("LIUD", "LIUCTL", "DATA"))


def show(liud, ports="all"):
    result = liud.liuctl("-c", "show " + ports)
    assert result.returncode == 0, result.stderr
    return result.stdout


def data(name):
    return expected(os.path.join(DATA, name))


def config(*lines):
    return "\n".join(("[global]", "inout = sym") + lines) + "\n"


# ---- The groups -------------------------------------------------------------------

def group_bringup():
    """The example configuration: one reset, every port as configured."""
    liud = Liud(config=os.environ["EXAMPLE"])
    assert show(liud) == data("bringup.expected"), show(liud)
    status = liud.request("status")
    assert status["ok"] and status["daemon"]["ports"] == 8
    assert [p["chip"]["lineType"] for p in status["ports"]] == ["E1"] * 4 + ["T1"] * 4
    assert [p["config"]["buildOut"] for p in status["ports"]] == [None] * 4 + [1, 1, 3, 3]
    assert status["ports"][0]["config"]["circuit"] == "MUC-FRA 2M 0001"
    assert status["ports"][4]["config"]["framing"] == "esf"
    refclk = liud.request("read 0x07 global")
    assert refclk["value"] == 4 << 3 | 0, refclk  # A from port 0, B from port 4
    assert status["daemon"]["refClocks"] == {"A": {"configured": 0, "chip": 0},
                                             "B": {"configured": 4, "chip": 4}}, status["daemon"]
    liud.stop()
    transfers = liud.transfers()
    assert transfers.count(RESET) == 1 and transfers[0] == RESET, transfers[:3]
    assert liud.log_lines(r"^<[0-4]>") == [], liud.stderr()  # nothing failed, nothing differs


def group_clients():
    """Two liuctl clients watch while alarms come and go; liud refuses what is not its."""
    liud = Liud(config=os.environ["EXAMPLE"])
    watchers = [start([LIUCTL, "--connect", liud.socket, "--json", "-c", "watch 2"],
                      stdout=subprocess.PIPE, text=True) for _ in range(2)]
    # Connected and asleep: their watch requests are sent, and liud takes them before the status.
    state = lambda pid: open(f"/proc/{pid}/stat").read().rpartition(") ")[2][0]
    asleep = lambda: all(state(watcher.pid) == "S" for watcher in watchers)
    wait_for(lambda: asleep() and liud.request("status")["daemon"]["clients"] == 3, what="the watchers")
    for change in ("2 los on", "6 ais on", "2 los off", "6 ais off"):
        liud.ctl("alarm", *change.split())
        time.sleep(0.3)
    events = []
    for watcher in watchers:
        out, _ = watcher.communicate(timeout=30)
        assert watcher.returncode == 0, out
        lines = [json.loads(line) for line in out.splitlines()]
        events.append([(e["port"], e["indication"], e["state"]) for e in lines if "event" in e])
        assert lines[-1]["command"] == "watch" and not lines[-1]["interrupted"]
    changes = [(2, "LOS", "active"), (6, "AIS", "active"), (2, "LOS", "cleared"), (6, "AIS", "cleared")]
    assert events == [changes, changes], events
    logged = [re.sub(r" \(.*\)$", "", line) for line in liud.log_lines("port [0-9]: [A-Z]+ ")]
    assert logged == ["<4>port 2: LOS active", "<4>port 6: AIS active", "<5>port 2: LOS cleared",
                      "<5>port 6: AIS cleared"], logged
    poll = liud.request("poll")
    assert poll["ports"][2]["LOS"] == "inactive" and poll["ports"][6]["AIS"] == "inactive", poll
    refusals = {"init 2 8": "init: refused: liud brought the chip up",
                "inout asym": "inout: refused: liud takes the input/output type",
                "sleep 1": "sleep: a command of liuctl itself",
                "set lbo 2 1": "lbo on port 2, an E1 port",
                "set linetype 3-4 e1": "lbo on port 4, an E1 port",
                "status 9": "status: bad port '9' (ports are 0..7)"}
    for request, reason in refusals.items():
        answer = liud.request(request)
        assert not answer["ok"] and reason in answer["error"], answer
        assert "ports" not in answer or request.startswith("init"), answer  # not one port done
    # A line type applied again keeps the port's line code (the library clears it).
    assert liud.request("set linetype 1 e1")["ok"]
    assert liud.request("get linecode 1")["ports"][0]["value"] == 2
    # ... and a build-out gets its port's line type first (the last one requested was E1).
    assert liud.request("set lbo 5 3")["ports"][0]["readBack"]["templateCode"] == "T1"
    assert liud.request("set linecode 5 2")["ok"]
    assert liud.request("status 5")["ports"][0]["config"]["lineCode"] == 2
    attached = liud.liuctl("-k", "-c", "poll; init sym 8; inout asym")
    assert attached.returncode == 1 and "liuctl: init: refused" in attached.stderr, attached
    assert "liuctl: inout: refused: liud takes" in attached.stderr, attached  # sent to liud
    liud.stop()
    assert liud.transfers().count(RESET) == 1


def group_badconfig():
    """Each kind of mistake: its FILE:LINE: reason, exit status 2, no transfer."""
    cases = list(bad_files(os.path.join(DATA, "bad-configs.txt")))
    assert len(cases) >= 15
    for name, text, reasons in cases:
        liud = Liud(config_text=text, wait=False)
        assert liud.proc.wait(timeout=20) == 2, (name, liud.stderr())
        assert liud.stderr() == "".join(f"<3>{liud.config}:{line}\n" for line in reasons), (
            name, liud.stderr())
        assert liud.transfers() == [], name


def group_reload():
    """SIGHUP applies what changed and nothing else; a bad file changes nothing."""
    base = ("[port 0-3]", "txpower = up", "[port 1]", "linetype = t1", "lbo = 2")
    liud = Liud(config_text=config("ports = 4", "audit_interval = off", *base))
    before = show(liud)
    marker = liud.request("read 0x04 global")["value"]
    liud.write_config(config("ports = 4", "audit_interval = off", "refclk_b = 3", *base,
                             "linecode = 2", "[port 2]", "remoteloop = on"))
    liud.signal(signal.SIGHUP)
    wait_for(lambda: liud.log_lines("reloaded"), what="the reload")
    writes = [t for t in liud.transfers()[liud.transfers().index("R global 0x04 -> 0x00"):]
              if t.startswith("W")]
    assert writes == data("reload.expected").splitlines(), writes
    after = show(liud)
    liud.write_config(config("ports = 4", "[port 9]", "txpower = up"))
    liud.signal(signal.SIGHUP)
    wait_for(lambda: liud.log_lines("running configuration stays"), what="the refusal")
    assert liud.log_lines("reload refused: .*:4: port 9 out of range") != [], liud.stderr()
    assert show(liud) == after != before
    liud.write_config(config("ports = 5"))
    liud.signal(signal.SIGHUP)
    wait_for(lambda: len(liud.log_lines("running configuration stays")) == 2, what="the refusal")
    assert liud.log_lines(r":3: ports: the port count cannot change") != []
    # What each reload changed, and a control client's setting the file puts back.
    assert [re.sub("^<5>reload: ", "", line) for line in liud.log_lines("^<5>reload: ")] == [
        "port 1: linecode 1 -> 2", "port 2: remoteloop off -> on",
        "reference clock B: none -> port 3"], liud.stderr()
    assert liud.request("set analogloop 3 on")["ok"]
    liud.write_config(config("ports = 4", "audit_interval = off", "refclk_b = 3", *base,
                             "linecode = 2", "[port 2]", "remoteloop = on"))
    liud.signal(signal.SIGHUP)
    wait_for(lambda: len(liud.log_lines("^<6>reloaded")) == 2, what="the reload")
    assert liud.log_lines("^<5>reload: port 3: analogloop on -> off "
                          r"\(a control client's setting, back to the file's\)$"), liud.stderr()
    assert liud.log_lines(r"reloaded .*: 1 port changed \(3\)$"), liud.stderr()
    liud.stop()
    assert liud.transfers().count(RESET) == 1


def group_socket():
    """The socket's mode and group, also after a reload; a live socket is not taken over.
    Without the scan, liud polls at the poll interval as it did, and sleeps in between,
    also while a client is idle."""
    mine = [g for g in grp.getgrall() if os.getuid() == 0 or g.gr_gid in os.getgroups()]
    group = next((g for g in mine if g.gr_gid != os.getgid()), grp.getgrgid(os.getgid()))
    access = ("socket_mode = 0640", "socket_group = " + group.gr_name, "scan_interval = off")
    liud = Liud(config_text=config(*access))
    info = os.stat(liud.socket)
    assert stat.S_IMODE(info.st_mode) == 0o640 and info.st_gid == group.gr_gid, info
    second = subprocess.run([LIUD, "--config", liud.config, "--socket", liud.socket],
                            capture_output=True, text=True, timeout=20)
    assert second.returncode == 1 and "another process listens there" in second.stderr, second
    assert liud.log_lines("^<6>ready: 8 ports configured, alarms polled every 100 ms, control")
    daemon = liud.request("status")["daemon"]
    cpu = lambda: sum(map(int, open(f"/proc/{daemon['pid']}/stat").read().split(") ")[1].split()[11:13]))
    # An idle client with half a request keeps it waiting, not spinning.
    idle = socket.socket(socket.AF_UNIX)
    idle.connect(liud.socket)
    idle.sendall(b"sta")
    before = cpu()
    time.sleep(1)
    idle.close()
    now = liud.request("status")["daemon"]
    assert now["scans"] == 0 and 6 <= now["polls"] - daemon["polls"] <= 14, (daemon, now)
    assert cpu() - before < 30, "liud does not sleep between its polls"  # clock ticks of 1 s
    assert liud.request("status")["daemon"]["lastAudit"] is None  # every 60 s
    liud.write_config(config(*access, "audit_interval = 300ms").replace("0640", "0600"))
    liud.signal(signal.SIGHUP)
    wait_for(lambda: liud.log_lines("^<6>reloaded"), what="the reload")
    assert stat.S_IMODE(os.stat(liud.socket).st_mode) == 0o600
    # The new audit interval counts from the reload, not from the old schedule.
    wait_for(lambda: liud.request("status")["daemon"]["lastAudit"], 3, what="an audit")
    liud.stop()
    # So does a new poll interval: a minute's wait is not kept to.
    slow = ("scan_interval = off", "poll_interval = 60s")
    liud = Liud(config_text=config(*slow))
    polls = liud.request("status")["daemon"]["polls"]
    liud.write_config(config(*slow[:1]))
    liud.signal(signal.SIGHUP)
    wait_for(lambda: liud.request("status")["daemon"]["polls"] > polls + 2, 3, what="the polls")
    liud.stop()


def group_garbage():
    """Garbage, an endless line, a client gone mid-command: an error or a drop, nothing more;
    a log nobody reads costs liud nothing."""
    liud = Liud(config_text=config())
    scans = liud.request("status")["daemon"]["scans"]
    bystander = liud.connect()
    answers = bystander.makefile("rb")
    for line, error in ((b"\xff\xfe garbage \x00", "unknown command"), (b"", "empty request"),
                        (b"echo 'open", "unterminated quote"), (b"poll; poll", "one command a line")):
        with liud.connect() as client:
            client.sendall(line + b"\n")
            answer = json.loads(client.makefile("rb").readline())
            assert not answer["ok"] and error in answer["error"], answer
    with liud.connect() as client:
        client.sendall(b"x" * 5000)
        answer = json.loads(client.makefile("rb").readline())
        assert "request longer than 4096 bytes" in answer["error"], answer
        assert client.recv(1) == b"", "the client is not dropped"
    with liud.connect() as client:
        client.sendall(b"show")  # no newline: gone mid-command
    bystander.sendall(b"echo still here\n")
    assert json.loads(answers.readline())["text"] == "still here"
    time.sleep(0.3)
    assert liud.request("status")["daemon"]["scans"] > scans + 1  # the loop went on
    liud.stop()
    # A log that nobody reads any more (its reader gone): liud goes on without it.
    fifo = os.path.join(scratch("log-"), "stderr")
    os.mkfifo(fifo)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    deaf = Liud(config_text=config(), wrapper=(sys.executable, "-c", (  # SIGPIPE as a shell leaves it
        "import os, signal, sys; signal.signal(signal.SIGPIPE, signal.SIG_DFL); "
        "os.dup2(os.open(sys.argv[1], os.O_WRONLY), 2); os.execv(sys.argv[2], sys.argv[2:])"), fifo))
    os.close(reader)
    deaf.signal(signal.SIGHUP)  # a reload, and its log line
    time.sleep(0.3)
    assert deaf.answers()
    deaf.stop()


def group_notify():
    """READY, RELOADING, WATCHDOG and STOPPING reach a test NOTIFY_SOCKET; no WATCHDOG unless asked."""
    if os.environ.get("SYSTEMD") != "ON":
        sys.exit(77)  # built without libsystemd
    path = os.path.join(scratch("notify-"), "notify")
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as notify:
        notify.bind(path)
        notify.settimeout(10)
        liud = Liud(config_text=config(), env={"NOTIFY_SOCKET": path, "WATCHDOG_USEC": "200000"})
        seen = set()
        def expect(name):
            while name not in seen:
                seen.update(line.split("=")[0] for line in notify.recv(4096).decode().splitlines())
        expect("READY")
        expect("WATCHDOG")
        for text in (config(), "bad"):  # a reload, and a refused one: ready again after each
            liud.write_config(text)
            seen.clear()
            liud.signal(signal.SIGHUP)
            expect("RELOADING")
            expect("READY")
        liud.stop()
        expect("STOPPING")
        # Without WATCHDOG_USEC the service has no watchdog: no keep-alive is sent.
        liud = Liud(config_text=config(), env={"NOTIFY_SOCKET": path})
        seen.clear()
        expect("READY")
        time.sleep(0.5)
        liud.stop()
        expect("STOPPING")
        assert "WATCHDOG" not in seen, seen


def group_metrics():
    """The metrics file: promtool accepts it and the alert rules, alarms known when liud is ready,
    an alarm shows within a poll, down at the end; a killed liud's file goes stale; a liud that
    failed says it is down."""
    check = subprocess.run(["promtool", "check", "rules", os.environ["ALERTS"]], text=True,
                           capture_output=True)
    assert check.returncode == 0, check.stdout + check.stderr
    directory = scratch("metrics-")
    metrics = os.path.join(directory, "liud.prom")
    line_down = os.path.join(scratch("scenario-"), "line-down")
    with open(line_down, "w") as file:
        file.write("0 alarm 5 los on\n")
    liud = Liud(config_text=config("metrics = " + metrics, "[port 1]", 'circuit = A "B" C\\D'),
                scenario=line_down)
    # Ready with its alarms known: the first poll comes before it, and the first metrics.
    assert liud.log_lines(r"port 5: LOS active|^<6>ready:")[1].startswith("<6>ready:"), liud.stderr()
    assert 'liud_alarm_active{port="5",indication="LOS"} 1' in open(metrics).read()
    liud.ctl("alarm", "2", "los", "on")
    text = lambda: open(metrics).read()
    # Written when the alarm changes, not at the next interval (10 s).
    wait_for(lambda: 'liud_alarm_active{port="2",indication="LOS"} 1' in text(), 3, what="LOS")
    assert 'liud_alarm_changes_total{port="2",indication="LOS"} 1' in text()
    assert liud.log_lines("metrics") == [], liud.stderr()  # written, nothing to say
    os.rename(directory, directory + ".gone")  # the next write fails, and says why once
    liud.ctl("alarm", "2", "los", "off")
    wait_for(lambda: liud.log_lines("^<4>cannot write the metrics file: "), 3, what="the warning")
    os.rename(directory + ".gone", directory)
    check = subprocess.run(["promtool", "check", "metrics"], input=text(), text=True,
                           capture_output=True)
    assert check.returncode == 0, check.stdout + check.stderr
    assert 'liud_port_info{port="1",line_type="E1",framing="",circuit="A \\"B\\" C\\\\D"} 1' in text()
    # A reload's result at once, not at the next interval.
    for content, result in (("bad", 0), (config("metrics = " + metrics), 1)):
        liud.write_config(content)
        liud.signal(signal.SIGHUP)
        wait_for(lambda: f"\nliud_last_reload_successful {result}\n" in text(), 3, what="the reload")
    # Moved to another file: the old one says liud no longer writes it.
    elsewhere = os.path.join(scratch("metrics-"), "liud.prom")
    liud.write_config(config("metrics = " + elsewhere))
    liud.signal(signal.SIGHUP)
    wait_for(lambda: os.path.exists(elsewhere), 3, what="the new file")
    assert "\nliud_up 0\n" in text() and "\nliud_up 1\n" in open(elsewhere).read()
    liud.write_config(config("metrics = " + metrics))
    liud.signal(signal.SIGHUP)
    wait_for(lambda: "\nliud_up 1\n" in text(), 3, what="the file back")
    liud.stop()
    assert "liud_up 0" in text() and os.listdir(directory) == ["liud.prom"]
    value = lambda name: float(re.search(f"^{name} (.*)$", text(), re.M).group(1))
    # Killed: liud_up stays 1, but the poll time stops while the interval passes.
    liud = Liud(config_text=config("metrics = " + metrics, "metrics_interval = 200ms"))
    wait_for(lambda: time.time() - value("liud_last_poll_timestamp_seconds") < 0.5, what="a poll")
    os.kill(liud.request("status")["daemon"]["pid"], signal.SIGKILL)
    time.sleep(1)
    assert value("liud_up") == 1 and time.time() - value("liud_last_poll_timestamp_seconds") > 0.8
    # A liud that cannot bring the chip up leaves the file saying so.
    scenario = os.path.join(directory, "no-device.scenario")
    with open(scenario, "w") as file:
        file.write("0 fail open on\n")
    failed = Liud(config_text=config("metrics = " + metrics), scenario=scenario, wait=False)
    assert failed.proc.wait(timeout=20) == 1 and value("liud_up") == 0, failed.stderr()
    assert failed.log_lines(r"^<3>cannot bring the LIU up: .*: cannot open /dev/spidev0\.0: "), failed.stderr()
    os.remove(metrics)
    nowhere = Liud(config_text=config("metrics = " + metrics), socket_path="/nonexistent/liud.sock",
                   wait=False)
    assert nowhere.proc.wait(timeout=20) == 1 and value("liud_up") == 0, nowhere.stderr()


def group_drift():
    """A register changed behind liud's back and a power glitch: found by the audit, repaired."""
    metrics = os.path.join(scratch("drift-"), "liud.prom")
    with open(os.environ["EXAMPLE"]) as example:
        text = example.read().replace("audit_interval = 60s", "audit_interval = 2s")
    text = text.replace("[global]\n", f"[global]\nmetrics = {metrics}\nmetrics_interval = 60min\n")
    liud = Liud(config_text=text)
    assert "\nliud_up 1\n" in open(metrics).read()  # written when ready, not an hour later
    good = show(liud)
    liud.ctl("poke", "4", "0x2b", "0xff")
    wait_for(lambda: liud.log_lines("audit: port 4 repaired"), what="the repair of port 4")
    # The repair reaches the metrics file at once, not at the next audit or an hour later.
    wait_for(lambda: "\nliud_drifts_repaired_total 1\n" in open(metrics).read(), 1, what="the count")
    assert show(liud) == good
    liud.ctl("reset")
    wait_for(lambda: len(liud.log_lines("repaired")) == 9, what="the repair of every port")
    assert show(liud) == good and liud.request("read 0x07 global")["value"] == 4 << 3
    assert len(liud.log_lines("drifted")) == 9 and liud.log_lines("still not") == []
    liud.stop()
    assert liud.transfers().count(RESET) == 1


def group_stress():
    """1000 clients come and go, some mid-command: descriptors and memory stay flat."""
    # A sanitizer build holds freed memory in quarantine: let it reuse it at once.
    asan = os.environ.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0"
    liud = Liud(config_text=config(), env={"ASAN_OPTIONS": asan})
    pid = liud.request("status")["daemon"]["pid"]
    def usage():
        with open(f"/proc/{pid}/status") as file:
            rss = int(re.search(r"VmRSS:\s+(\d+)", file.read()).group(1))
        return len(os.listdir(f"/proc/{pid}/fd")), rss
    def clients(count):
        for start in range(0, count, 50):
            batch = [liud.connect() for _ in range(50)]
            for number, client in enumerate(batch, start):
                kind = number % 4
                if kind == 0:
                    client.sendall(b"poll\n")
                    assert json.loads(client.makefile("rb").readline())["ok"]
                elif kind == 1:
                    client.sendall(b"status 0")  # gone mid-command
                elif kind == 2:
                    client.sendall(b"show 0\nstatus 0\npoll\n")  # gone without reading
            for client in batch:
                client.close()
    clients(200)  # warm-up: allocator pools, history of the first clients
    time.sleep(0.5)
    fds, rss = usage()
    clients(1000)
    wait_for(lambda: usage()[0] == fds, what="the clients' descriptors to close")
    assert usage()[1] - rss < 512, (rss, usage())
    liud.stop()


if __name__ == "__main__":
    globals()["group_" + sys.argv[1]]()
