#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""liuctl standalone as a user runs it, under liusim, one group per process:
    test_liuctl.py GROUP   (LIUSIM, LIUCTL, DATA, PYTHONPATH from ctest)
judged by its stdout, stderr, exit status and the chip's transfer log.
liuctl attached to liud is tested with liud (tests/liud)."""
import fcntl
import json
import os
import re
import select
import subprocess
import sys
import termios
import time

from liutest import RESET, liuctl, scratch, start

LIUSIM, LIUCTL, DATA = (os.environ[k] for k in ("LIUSIM", "LIUCTL", "DATA"))
WARNING = "liuctl: init resets the LIU"


def data(name):
    return os.path.join(DATA, name)


def run(*args, scenario=None, chip=True):
    """liuctl --standalone ARGS (under liusim unless chip is False): result, transfers."""
    result = liuctl("--standalone", *args, scenario=scenario, chip=chip)
    result.err = [line for line in result.stderr.splitlines()
                  if not line.startswith((WARNING, "liuDrv_init -> "))]
    return result, result.transfers


def group_badinput():
    """Each bad word: one line naming command and word, and not one transfer."""
    cases = []
    with open(data("bad-input.liuctl")) as file:
        for line in file:
            if "#>" in line:
                command, message = line.split("#>")
                cases.append((command.strip(), message.strip()))
    script = "init 2 8\n" + "".join(f"{command}\nread 0x04 global\n" for command, _ in cases)
    result, transfers = run("-k", "-c", script)
    assert result.returncode == 2
    assert result.err == [f"liuctl: {message}" for _, message in cases], result.err
    after = transfers[transfers.index(RESET):]
    reads = [t for t in after if t.startswith("R global 0x04")]
    assert len(reads) == len(cases) and after[-len(cases):] == reads, after[-30:]


def group_failures():
    """Library results: liuctl's line and the library's own error trace."""
    script = ("init asym 8; set linetype 4 t1; inout sym; set linetype 4 t1; get lbo 4; "
              "write 0x22 2 0x01; get linecode 2; show 2; init 2 8")
    result, _ = run("-k", "-c", script)
    assert result.returncode == 1
    mine = [line for line in result.err if line.startswith("liuctl: ")]
    traces = [re.sub(r"^ERROR 255 \S+:\d+ ", "", line) for line in result.err if line.startswith("ERROR")]
    assert mine == ["liuctl: set linetype: port 4: library result -1; the port's T1/JT1 mode bit "
                    "(register 0x20 bit 0) was written all the same: set its line type again",
                    "liuctl: get lbo: port 4: library result -1",
                    "liuctl: get linecode: port 2: library result -1",
                    "liuctl: show: port 2 liuDrv_getLineCode: library result -1 (and 0 more)"[:-13],
                    "liuctl: init: library result -1"], mine
    assert traces == ["liuDrv_pulsMaskConfiguration: T1/JT1, unsupported input/output type:1",
                      "liuDrv_setLineType: liuDrv_pulsMaskConfiguration(4,2) failed!",
                      "liuDrv_getLineBuildOut: LBO not set, pulse template: 1",
                      "liuDrv_getLineCode: line code unknown, tcf0Val 1 rcf0Val 0",
                      "liuDrv_getLineCode: line code unknown, tcf0Val 1 rcf0Val 0",
                      "liuDrv_init: libliuDrv was already initialized!"], traces
    result, _ = run("-c", "init 2 8", chip=False)  # no chip on this machine
    assert result.returncode == 1 and result.err[-1] == (
        "liuctl: init: cannot open /dev/spidev0.0: No such file or directory "
        "(without the board, run liuctl under liusim: liusim -- liuctl ...)"), result.err
    assert re.match(r"ERROR 255 \S+ liuDrv_init: open failed!$", result.err[0]), result.err
    scenario = os.path.join(scratch("scenario-"), "fail.scenario")
    with open(scenario, "w") as file:
        file.write("0 fail next\n")
    result, transfers = run("-c", "init 2 8", scenario=scenario)
    assert result.returncode == 1 and result.err[-1] == "liuctl: init: library result 1", result.err
    assert transfers[0].endswith("FAILED"), transfers[:2]


def group_session():
    """A whole session against its expected output."""
    result, _ = run("-x", "-k", "-f", data("session.liuctl"), scenario=data("session.scenario"))
    with open(data("session.expected")) as file:
        expected = "".join(line for line in file if not line.startswith("# SPDX"))
    stamp = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z")
    assert stamp.sub("TIME", result.stdout) == expected, result.stdout
    assert result.returncode == 1
    assert [line.split(".liuctl:")[1] for line in result.err if line.startswith("liuctl: ")] == [
        "7: set lbo: port 1: an E1 port (register 0x20 bit 0 clear): build-out and line length are "
        "for T1 and JT1 lines; set its line type first (nothing was done)",
        "21: set linetype: port 0: library result -1; the port's T1/JT1 mode bit (register 0x20 "
        "bit 0) was written all the same: set its line type again",
        "23: get lbo: port 1: library result -1"]


def group_json():
    """--json: one object a line for every command, errors and help included."""
    result, _ = run("--json", "-k", "-c",
                    "init sym 4; set linetype 2 t1; get linetype 2; poll; show 1-2; "
                    "write 0x23 0 0x0c; dump 0; refclk b 3; help set; frob; set lbo 9 1; "
                    "broadcast on", scenario=data("session.scenario"))
    assert result.returncode == 2
    lines = [json.loads(line) for line in result.stdout.splitlines()]
    assert [line.get("command") for line in lines] == ["init", "set", "get", "poll", "show", "write",
                                                       "dump", "refclk", "help", None, "set",
                                                       "broadcast"]
    assert all(line["ok"] for line in lines[:9]) and not lines[9]["ok"] and lines[10]["status"] == 2
    assert lines[11]["mode"] == 1
    assert lines[1]["ports"][0]["readBack"]["terminationRegister"] == 0x12
    assert lines[2]["ports"][0]["value"] == 1 and lines[2]["ports"][0]["registers"]["mode"] == "T1/JT1"
    assert lines[3]["ports"][1]["LOS"] == "active" and lines[3]["ports"][0]["AIS"] == "active"
    assert lines[4]["ports"][0]["alarms"]["LOS"] == "active"
    assert "Sample UI1  UI2  UI3  UI4\n  01   0x00" in lines[6]["printout"]
    assert lines[7]["readBack"]["portB"] == 3 and lines[8]["topic"] == "set"
    assert lines[9]["error"] == "unknown command 'frob' (try 'help')"
    assert "liuDrv_init -> using the HTQ buildin SPI kernel module" in result.stderr


def group_options():
    """Usage errors, help, version, missing files."""
    for args, message in ((["-z"], "unknown option '-z'"), (["-c"], "option '-c' needs an argument"),
                          (["show"], "unexpected argument 'show' (commands go into -c or -f)"),
                          (["--init", "2"], "--init: expected INOUT,PORTS, got '2'"),
                          (["-S", "-C", "/x"], "--connect and --standalone exclude each other")):
        result = subprocess.run([LIUCTL, *args], capture_output=True, text=True)
        assert result.returncode == 2 and result.stderr == f"liuctl: {message}\nTry 'liuctl --help'.\n", result
        result = subprocess.run([LIUCTL, "--json", *args], capture_output=True, text=True)
        assert result.returncode == 2 and json.loads(result.stdout)["error"] == message, result
    helped = subprocess.run([LIUCTL, "--help"], capture_output=True, text=True)
    assert helped.stdout.startswith("Usage: liuctl [OPTIONS]\n") and "\n  watch [SECONDS]" in helped.stdout
    assert json.loads(subprocess.run([LIUCTL, "-j", "-h"], capture_output=True, text=True).stdout)[
        "usage"] == helped.stdout
    result = subprocess.run([LIUCTL, "-f", "/nonexistent/x.liuctl"], capture_output=True, text=True)
    assert result.returncode == 1 and result.stderr == "liuctl: cannot read '/nonexistent/x.liuctl'\n"
    result = subprocess.run([LIUCTL, "--connect", "/nonexistent/liud.sock", "-c", "show"],
                            capture_output=True, text=True)
    assert result.returncode == 1 and "cannot connect to liud at /nonexistent/liud.sock: No such " \
        "file or directory (is liud running?" in result.stderr, result.stderr


def group_interactive():
    """The shell on a terminal: Tab completes, Ctrl-C drops a line or ends a wait, history grows."""
    home = scratch("home-")
    terminal, tty = os.openpty()  # the shell's controlling terminal: Ctrl-C is SIGINT
    shell = start([LIUSIM, "--", LIUCTL, "--standalone"], env={"HOME": home}, stdin=tty, stdout=tty,
                  stderr=tty, preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
    os.close(tty)
    output = b""
    def until(text, seconds=10, since=0):
        nonlocal output
        deadline = time.monotonic() + seconds
        while text.encode() not in output[since:]:
            assert time.monotonic() < deadline, (text, output)
            if select.select([terminal], [], [], 0.1)[0]:
                try:
                    output += os.read(terminal, 4096)
                except OSError:
                    break
    def type_keys(keys, then):  # and wait for what follows them
        time.sleep(0.2)  # keys typed before the shell reads again are flushed: a human waits too
        since = len(output)
        os.write(terminal, keys.encode())
        until(then, since=since)
    until("liuctl> ")
    type_keys("init sym 2\n", "symmetrical line interface")
    type_keys("set txp\t", "ower ")  # the line is redrawn from the cursor on
    type_keys("1 u\t", "p ")
    type_keys("\n", "transmitter power now")
    type_keys("echo dropped\x03", "liuctl> ")
    started = time.monotonic()
    type_keys("sleep 30\n", "sleep 30")
    time.sleep(0.3)
    type_keys("\x03", "liuctl> ")
    assert time.monotonic() - started < 10
    type_keys("echo still here\n", "\r\nstill here")
    type_keys("quit\n", "quit")
    assert shell.wait(10) == 0, output
    assert b"\r\ndropped" not in output, output
    with open(os.path.join(home, ".liuctl_history")) as file:
        history = file.read()
    for line in ("init sym 2", "set txpower 1 up ", "sleep 30", "echo still here"):
        line = line.replace(" ", "\\040")  # libedit's history file
        assert line in history, history
    assert "echo dropped" not in history


if __name__ == "__main__":
    globals()["group_" + sys.argv[1]]()
