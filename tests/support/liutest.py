# SPDX-License-Identifier: MIT
"""The programs as a board runs them, for their tests and measurements: liusim
(the simulated chip behind /dev/spidev0.0) with liud or liuctl under it,
snmpd and snmptrapd, liu-snmp.  Each program started here runs in a process
group of its own, killed with all it started when the script ends, however it
ends (SIGTERM included); its files are in one temporary directory, removed
then; the output of every program is printed when the script fails.  The
programs are $LIUSIM, $LIUD, $LIUCTL and $LIU_SNMP (ctest sets them) or those
of a build tree (use_build).  Scripts import it with PYTHONPATH=tests/support."""
import atexit
import functools
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

RESET = "W global 0x04 <- 0x01"  # the software reset frame of liuDrv_init
_groups, _outputs = [], []  # process groups started, files of their output
_top = tempfile.mkdtemp(prefix="liutest-")


def use_build(build):
    """The programs of the build tree BUILD, where the environment names none."""
    for variable, path in (("LIUSIM", "sim/liusim/liusim"), ("LIUD", "tools/liud/liud"),
                           ("LIUCTL", "tools/liuctl/liuctl"), ("LIU_SNMP", "tools/liu-snmp/liu-snmp")):
        os.environ.setdefault(variable, os.path.join(os.path.abspath(build), path))


def scratch(prefix):
    """A new directory in this run's temporary directory."""
    return tempfile.mkdtemp(prefix=prefix, dir=_top)


@atexit.register
def _end():
    for group in _groups:
        try:
            os.killpg(group, signal.SIGKILL)
        except OSError:
            pass  # ended already
    shutil.rmtree(_top, ignore_errors=True)


def _failed(*exception):
    for path in _outputs:
        with open(path, errors="replace") as file:
            print(f"---- {path}\n{file.read()}", file=sys.stderr)
    sys.__excepthook__(*exception)


sys.excepthook = _failed
signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # ctest's timeout


def start(command, output=None, env=None, **options):
    """COMMAND in a process group of its own, stdout and stderr into the file
    OUTPUT unless OPTIONS say otherwise: the Popen."""
    if output:
        _outputs.append(output)
        options = {"stdout": open(output, "a"), "stderr": open(output, "a"), **options}
    process = subprocess.Popen(command, env={**os.environ, **(env or {})}, start_new_session=True,
                               **options)
    _groups.append(process.pid)
    return process


def wait_for(condition, seconds=10.0, what="condition"):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, "timed out waiting for " + what
        time.sleep(0.02)


def transfers(log):
    """liusim's transfer log (--log) without the times: ["W ch3 0x23 <- 0x08", ...]"""
    if not os.path.exists(log):
        return []
    with open(log) as file:
        return [line.split(" ", 1)[1].rstrip("\n") for line in file]


def timed_transfers(log):
    """liusim's transfer log (--log) with the times: [(seconds, "R ch3 0x36 -> 0x01"), ...]"""
    if not os.path.exists(log):
        return []
    with open(log) as file:
        return [(float(line.split(" ", 1)[0]), line.split(" ", 1)[1].rstrip("\n")) for line in file]


INDICATIONS = 0x9F  # the bits of the alarm status register that the library's poll reads
POLL_BITS = (0x01, 0x02, 0x04, 0x08, 0x10, 0x80)  # what each of a port's six poll reads looks at


def poll_readings(registers):
    """A full poll's reads (alarm_work) as the next scan compares with them: each port's
    register in the bits the library looked at; all None when a read failed."""
    failed = None in registers
    return [None if failed else sum(read & bit for read, bit in
                                    zip(registers[6 * p:6 * p + 6], POLL_BITS))
            for p in range(len(registers) // 6)]


def changed_ports(registers, previous):
    """The ports of a scan (alarm_work) that ask for the poll: read, and changed in the
    indications since the last reading or not known then."""
    return [p for p, (now, then) in enumerate(zip(registers, previous))
            if now is not None and (then is None or (now ^ then) & INDICATIONS)]


def alarm_work(timed, ports=8):
    """A stretch of liusim's transfer log (timed_transfers) that holds liud's alarm work and
    nothing else, as its scans (each port's alarm status register once, in port order) and
    full polls (the library's: six reads a port): [(kind, seconds, registers)], kind "scan" or
    "poll", registers as read (None: the read failed).  A scan that stops short of the last
    port is followed by the poll it asked for.  A scan or poll the stretch cuts short at its end
    is left out; anything else fails."""
    reads = []
    for seconds, transfer in timed:
        match = re.fullmatch(r"R ch(\d+) 0x36 -> (0x..|-- FAILED)", transfer)
        assert match, f"{seconds}: {transfer}: not a read of an alarm status register"
        reads.append((int(match[1]), None if match[2].startswith("--") else int(match[2], 16)))
    poll = [p for p in range(ports) for _ in range(6)]
    polls_at = lambda at: [channel for channel, _ in reads[at:at + len(poll)]] == poll
    work, at = [], 0
    while at < len(reads):
        if polls_at(at):
            work.append(("poll", timed[at][0], [value for _, value in reads[at:at + len(poll)]]))
            at += len(poll)
            continue
        if [channel for channel, _ in reads[at:]] == poll[:len(reads) - at]:
            break  # a poll cut short by the end of the stretch
        # A scan reads the ports in order; it stops at a port that asks for the poll.
        length = 0
        while at + length < len(reads) and length < ports and reads[at + length][0] == length:
            length += 1
        if length < ports and not polls_at(at + length):
            rest = [channel for channel, _ in reads[at + length:]]
            assert at + length == len(reads) or rest == poll[:len(rest)], \
                f"{timed[at][0]}: neither a scan nor a poll: {timed[at:at + 8]}"
            break  # cut short by the end of the stretch
        work.append(("scan", timed[at][0], [value for _, value in reads[at:at + length]]))
        at += length
    return work


def expected(path):
    """A file of expected output without its comment lines."""
    with open(path) as file:
        return "".join(line for line in file if not line.startswith("#"))


def bad_files(path):
    """A table of bad configuration files, each after "=== NAME", a reported line
    ending in " => REASON": (name, the file, the "LINE: REASON" expected)..."""
    for case in expected(path).split("=== ")[1:]:
        name, *lines = case.rstrip("\n").split("\n")
        lines = [line.split(" => ") for line in lines]
        yield name, "".join(line[0] + "\n" for line in lines), [
            f"{number}: {reason}" for number, line in enumerate(lines, 1) for reason in line[1:]]


def liuctl(*args, scenario=None, chip=True):
    """liuctl ARGS under a liusim of its own (none when chip is False): the
    completed process, with the chip's transfers in .transfers."""
    log = os.path.join(scratch("liuctl-"), "transfers")
    command = [os.environ["LIUCTL"], *args]
    if chip:
        command = [os.environ["LIUSIM"], "--log", log, *(["--scenario", scenario] if scenario else []),
                   "--", *command]
    process = start(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    out, err = process.communicate(timeout=60)
    result = subprocess.CompletedProcess(command, process.returncode, out, err)
    result.transfers = transfers(log)
    return result


class Liud:
    """liusim [--log] --ctl [--scenario] -- [WRAPPER...] liud --config FILE --socket PATH, its
    files (PATH too unless given) in a directory of its own; ready once liud
    answers on its socket (wait)."""

    def __init__(self, config_text=None, config=None, socket_path=None, env=None, wait=True,
                 log=True, wrapper=(), scenario=None):
        self.path = functools.partial(os.path.join, scratch("liud-"))
        self.config = config or self.path("liud.conf")
        if config_text is not None:
            self.write_config(config_text)
        self.socket = socket_path or self.path("liud.sock")
        self.log, self.ctl_path = self.path("log"), self.path("ctl")
        command = [os.environ["LIUSIM"], *(["--log", self.log] if log else []), "--ctl", self.ctl_path,
                   *(["--scenario", scenario] if scenario else []), "--", *wrapper, os.environ["LIUD"], "--config", self.config, "--socket", self.socket]
        self.proc = start(command, self.path("stderr"), env, stdout=subprocess.DEVNULL)
        if wait:  # until liud's loop answers: the configuration is applied
            wait_for(lambda: self.proc.poll() is not None or self.answers(), 60, "liud's answer")
            assert self.proc.poll() is None, self.stderr()

    def write_config(self, text):
        with open(self.config, "w") as file:
            file.write(text)

    def answers(self):
        try:
            return self.request("echo")["ok"]
        except OSError:
            return False

    def connect(self):
        client = socket.socket(socket.AF_UNIX)
        client.settimeout(10)
        client.connect(self.socket)
        return client

    def request(self, line):
        """One request on a fresh connection: the one JSON object answered."""
        with self.connect() as client:
            client.sendall(line.encode() + b"\n")
            return json.loads(client.makefile("rb").readline())

    def liuctl(self, *args):
        return subprocess.run([os.environ["LIUCTL"], "--connect", self.socket, *args],
                              capture_output=True, text=True, timeout=60)

    def ctl(self, *words):
        subprocess.run([os.environ["LIUSIM"], "ctl", self.ctl_path, *words], check=True)

    def signal(self, number):
        self.proc.send_signal(number)  # liusim passes it on to liud

    def stop(self):
        self.signal(signal.SIGTERM)
        assert self.proc.wait(timeout=20) == 0, self.stderr()
        assert not os.path.exists(self.socket), "socket left behind"

    def stderr(self):
        with open(self.path("stderr")) as file:
            return file.read()

    def log_lines(self, pattern):
        return [line for line in self.stderr().splitlines() if re.search(pattern, line)]

    def transfers(self):
        return transfers(self.log)


class Snmp:
    """snmpd, the AgentX master (UDP on 127.0.0.1, AgentX on a socket in its
    directory), sending its notifications to snmptrapd; the snmp clients."""

    def __init__(self):
        self.dir = scratch("snmp-")
        self.path = functools.partial(os.path.join, self.dir)
        self.agent, self.traps = self.free_port(), self.free_port()
        self.agentx = "unix:" + self.path("agentx")
        self.env = {"MIBS": "", "SNMP_PERSISTENT_DIR": self.dir,  # numeric OIDs: no MIB files read
                    "PATH": os.environ["PATH"] + ":/usr/sbin"}
        self.trapd = self.daemon("snmptrapd", f"disableAuthorization yes\nsnmpTrapdAddr udp:127.0.0.1:"
                                 f"{self.traps}\n", "-On", "-Oq", "-Ot", "-X", "-F", "%v\n")
        self.snmpd = self.start_snmpd()

    @staticmethod
    def free_port():
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
            probe.bind(("127.0.0.1", 0))
            return probe.getsockname()[1]

    def daemon(self, name, conf, *options):
        with open(self.path(name + ".conf"), "w") as file:
            file.write(conf)
        return start([name, "-f", "-Lo", "-C", "-c", self.path(name + ".conf"), *options],
                     self.path(name + ".log"), self.env)

    def start_snmpd(self):
        """snmpd, once its AgentX socket is there."""
        snmpd = self.daemon("snmpd", f"agentaddress udp:127.0.0.1:{self.agent}\nmaster agentx\n"
                            f"agentXSocket {self.agentx}\nrocommunity public 127.0.0.1\n"
                            f"rwcommunity private 127.0.0.1\ntrap2sink 127.0.0.1:{self.traps} public\n")
        wait_for(lambda: os.path.exists(self.path("agentx")), what="snmpd's AgentX socket")
        return snmpd

    def subagent(self, config, liud):
        """liu-snmp with the file CONFIG, attached to this snmpd and to the liud at LIUD."""
        return start([os.environ["LIU_SNMP"], "--config", config, "--liud", liud, "--agentx",
                      self.agentx], self.path("liu-snmp.log"), self.env)

    def client(self, tool, *args, options=(), community="public"):
        """snmpwalk, snmpget, snmpset ... OPTIONS this snmpd ARGS: the completed process."""
        return subprocess.run([tool, "-v2c", "-c", community, *options, f"127.0.0.1:{self.agent}",
                               *args], capture_output=True, text=True, env={**os.environ, **self.env},
                              timeout=20)

    def notifications(self, oid):
        """Each notification OID that snmptrapd logged: {varbind: value}"""
        with open(self.path("snmptrapd.log")) as file:
            return [dict(item.split(" ", 1) for item in line.rstrip("\n").split("\t"))
                    for line in file if oid in line]
