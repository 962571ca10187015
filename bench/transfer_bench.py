#!/usr/bin/env python3
"""Side-by-side FTP benchmark: talvek-ftpd against vsftpd, pure-ftpd and pyftpdlib on loopback.

All servers (and an iperf3 server for the loopback ceiling) run at once, each
in the foreground on a loopback high port with a generated configuration,
serving the same files. Each workload is measured in rounds; every round runs
the workload once against every server, in an order rotated by one each
round, so a noisy machine hurts all servers alike. Per server and workload
the script reports the median, the spread (min-max) and the CPU seconds the
server's whole process tree spent on that workload, as one Markdown table.

Peers come from Debian packages unpacked with `dpkg -x` into --peers (see
bench/transfer_peers.sh); a peer whose files are missing is left out.
"""

import argparse
import collections
import dataclasses
import datetime
import errno
import ftplib
import ipaddress
import json
import os
import platform
import resource
import select
import selectors
import shutil
import signal
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import time

HOST = "127.0.0.1"  # every server, client and data connection stays on loopback
MB = 1_000_000
MIB = 1 << 20
TICKS = os.sysconf("SC_CLK_TCK")
TIMEOUT = 30.0  # any single socket operation of a client
LIB_DIRS = ("usr/lib/x86_64-linux-gnu", "lib/x86_64-linux-gnu")


def log(text):
    print(text, file=sys.stderr, flush=True)


class SampleError(Exception):
    """A sample that did not do its work (wrong size, refused, too slow): no number for it."""


# --- processes --------------------------------------------------------------


# How the CPU time of a server's whole process tree is counted.
#
# /proc/PID/stat gives each process its own time (utime+stime, all its
# threads, living or exited) and the time of the children it has reaped with
# wait() (cutime+cstime, which includes what those children had reaped in
# turn). Summing own + reaped over the live processes of a tree counts every
# tick once: a per-session process shows up with its own time while it lives
# and in its parent's reaped time once it is gone.
#
# Two holes, both closed here:
# - A process whose parent exits without reaping it is re-parented to init,
#   and its time leaves the tree (vsftpd's session processes showed no CPU
#   at all for sixty LISTs that way). So every server runs under REAPER, a
#   small parent marked as child subreaper: such orphans are re-parented to it
#   instead, and it reaps them, so their time lands in its reaped time. Its own
#   time and memory are left out of the server's numbers.
# - A process reaped between reading it and reading its parent would be
#   counted twice (or missed). Trees are read only when they have settled back
#   to their resting processes (Process.settle), when nothing is exiting.
REAPER = """
import ctypes, os, signal, sys
ctypes.CDLL(None).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
server = os.fork()
if server == 0:
    os.execvp(sys.argv[1], sys.argv[1:])
for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
    signal.signal(number, lambda number, frame: os.kill(server, number))
status = 1
while True:
    try:
        pid, code = os.wait()
    except ChildProcessError:
        break
    if pid == server:
        status = os.waitstatus_to_exitcode(code)
sys.exit(status if status >= 0 else 128 - status)
"""


def read_processes():
    """Every process on the machine: pid -> (ppid, start time, own ticks, reaped children's ticks)."""
    table = {}
    for entry in os.scandir("/proc"):
        if not entry.name.isdigit():
            continue
        try:
            with open(f"/proc/{entry.name}/stat", "rb") as f:
                data = f.read()
        except OSError:
            continue
        fields = data[data.rindex(b")") + 2:].split()  # fields[0] is field 3 (state) of proc(5)
        times = [int(x) for x in fields[11:15]]  # utime, stime, cutime, cstime
        table[int(entry.name)] = (int(fields[1]), int(fields[19]), times[0] + times[1], times[2] + times[3])
    return table


def tree_of(root, table):
    """The pids of root and all its descendants in a read_processes() table."""
    children = collections.defaultdict(list)
    for pid, (ppid, *_) in table.items():
        children[ppid].append(pid)
    found, frontier = [], [root] if root in table else []
    while frontier:
        pid = frontier.pop()
        found.append(pid)
        frontier += children[pid]
    return found


def pss_kib(pid):
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def listening_addresses(pids):
    """(address, port) of every listening TCP socket held by the given processes."""
    inodes = set()
    for pid in pids:
        try:
            for fd in os.listdir(f"/proc/{pid}/fd"):
                try:
                    link = os.readlink(f"/proc/{pid}/fd/{fd}")
                except OSError:
                    continue
                if link.startswith("socket:["):
                    inodes.add(link[8:-1])
        except OSError:
            pass
    found = []
    for table, width in (("/proc/net/tcp", 4), ("/proc/net/tcp6", 16)):
        try:
            with open(table) as f:
                rows = f.read().splitlines()[1:]
        except OSError:
            continue
        for row in rows:
            fields = row.split()
            if fields[3] != "0A" or fields[9] not in inodes:  # 0A: LISTEN
                continue
            hex_address, hex_port = fields[1].split(":")
            raw = bytes.fromhex(hex_address)
            # The kernel prints each 32-bit word of the address in host (little-endian) order.
            raw = b"".join(raw[i:i + 4][::-1] for i in range(0, width, 4))
            found.append((ipaddress.ip_address(raw), int(hex_port, 16)))
    return found


class Process:
    """One server process we started, with the process tree under it."""

    name = "?"
    executable = None  # path of the program under the unpacked peers

    def __init__(self, work, peers):
        self.work, self.peers = work, peers
        self.port = free_port()
        self.process = None
        self.resting = 1
        self.log_path = os.path.join(work, "logs", f"{self.name}.log")

    def binary(self):
        return os.path.join(self.peers, self.executable)

    def available(self):
        return os.path.exists(self.binary())

    def command(self):
        raise NotImplementedError

    def environment(self):
        env = dict(os.environ)
        env["LD_LIBRARY_PATH"] = ":".join(os.path.join(self.peers, p) for p in LIB_DIRS)
        return env

    def start(self):
        os.makedirs(os.path.dirname(self.log_path), exist_ok=True)
        command, env = self.command(), self.environment()
        with open(self.log_path, "wb") as output:
            # A session of its own: Ctrl-C in the terminal reaches only the
            # bench, which then stops the servers itself.
            self.process = subprocess.Popen([sys.executable, "-c", REAPER, *command], cwd=self.work, env=env,
                                            stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                                            start_new_session=True)
        until = time.monotonic() + 15
        while time.monotonic() < until and self.process.poll() is None:
            listening = listening_addresses(self.pids())
            if any(port == self.port for _, port in listening):
                stray = [f"{a}:{p}" for a, p in listening if not a.is_loopback]
                if stray:
                    raise RuntimeError(f"{self.name} listens outside loopback: {', '.join(stray)}")
                self.ready()
                self.settle(5)
                self.resting = len(self.pids())
                return
            time.sleep(0.05)
        raise RuntimeError(f"{self.name} did not start listening on {HOST}:{self.port}; see {self.log_path}")

    def ready(self):
        pass

    def pids(self, table=None):
        """The server's processes: the tree under the reaper."""
        if self.process is None:
            return []
        return tree_of(self.process.pid, table or read_processes())[1:]

    def cpu_seconds(self):
        table = read_processes()
        reaped_by_reaper = table[self.process.pid][3] if self.process.pid in table else 0
        return (sum(table[pid][2] + table[pid][3] for pid in self.pids(table)) + reaped_by_reaper) / TICKS

    def pss_mib(self):
        return sum(pss_kib(pid) for pid in self.pids()) / 1024

    def settle(self, limit):
        """Waits (at most `limit` seconds) until the per-session processes have exited and been reaped."""
        until = time.monotonic() + limit
        while len(self.pids()) > self.resting:
            if time.monotonic() > until:
                return False
            time.sleep(0.02)
        return True

    def stop(self):
        """Ends the whole tree: its process group while the root is ours to signal, and every
        descendant seen by pid, checked by start time so a reused pid is never signalled."""
        if self.process is None:
            return
        members = {}

        def alive():
            table = read_processes()
            return [pid for pid, started in members.items() if pid in table and table[pid][1] == started]

        for sig in (signal.SIGTERM, signal.SIGKILL):
            table = read_processes()
            members.update((pid, table[pid][1]) for pid in tree_of(self.process.pid, table))
            if self.process.poll() is None:
                try:
                    os.killpg(self.process.pid, sig)
                except OSError:
                    pass
            for pid in alive():
                try:
                    os.kill(pid, sig)
                except OSError:
                    pass
            until = time.monotonic() + 5
            while time.monotonic() < until and (self.process.poll() is None or alive()):
                time.sleep(0.05)
            if self.process.poll() is not None and not alive():
                break
        self.process = None


def make_certificate(work):
    """One self-signed ECDSA P-256 certificate every server offers over TLS: (certificate, key, both in one)."""
    certificate, key, both = (os.path.join(work, name) for name in ("tls-cert.pem", "tls-key.pem", "tls-both.pem"))
    if not os.path.exists(both):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-keyout", key, "-out", certificate, "-days", "30", "-subj", "/CN=bench"],
                       check=True, capture_output=True, timeout=30)
        with open(both, "w") as f:
            f.write(open(certificate).read() + open(key).read())
        os.chmod(both, 0o600)
    return certificate, key, both


class FtpServer(Process):
    user, password = "anonymous", "bench@example.com"
    upload_dir = "up"  # where STOR targets go, relative to the login directory
    tls = True  # offers explicit FTPS with the shared certificate (clear text stays allowed)

    def __init__(self, work, data, peers, sessions):
        self.data, self.sessions = data, sessions
        self.certificate, self.key, self.certificate_and_key = make_certificate(work)
        super().__init__(work, peers)

    def ready(self):
        # Listening is not serving: wait for a real greeting.
        with socket.create_connection((HOST, self.port), timeout=TIMEOUT) as s:
            reply = read_reply(s)
        if not reply.startswith("220"):
            raise RuntimeError(f"{self.name} greets with {reply!r}")

    def uploaded(self, name):
        """Where a STOR of `name` lands on disk."""
        return os.path.join(self.data, self.upload_dir, name)


class Talvek(FtpServer):
    name = "talvek-ftpd"
    upload_dir = ""  # the server redirects anonymous uploads to its uploads directory

    def __init__(self, work, data, peers, sessions, program):
        super().__init__(work, data, peers, sessions)
        self.program = program
        self.home = os.path.join(work, "talvek")
        os.makedirs(self.home, exist_ok=True)
        defaults = os.path.join(os.path.dirname(program), "defaults.reg")
        if os.path.exists(defaults):
            shutil.copy(defaults, self.home)
        self.settings = os.path.join(self.home, "settings.reg")
        values = {
            "DefaultIP": HOST, "FTPRootDir": data, "UploadsDir": os.path.join(data, "up"),
            "GeneralSettings.MaxConnections": str(sessions), "GeneralSettings.ConnectionsPerAddress": str(sessions),
            "GeneralSettings.RefuseNew": "1", "NetSettings.AlwaysUsePort": "1",
            "CacheSettings.CacheDirs": "1", "CacheSettings.CacheFiles": "1",
            "CacheSettings.DirCacheKB": "4000", "CacheSettings.FileCacheKB": "16000",
            "Anonymous.Allow": "1", "Anonymous.Rights": "7",
            "TlsCertificateFile": self.certificate, "TlsKeyFile": self.key,
        }
        for key, value in values.items():
            subprocess.run([program, "--settings", self.settings, "--program-dir", self.home, "config", "set",
                            key, value], check=True, stdout=subprocess.DEVNULL, timeout=30)

    def binary(self):
        return self.program

    def environment(self):
        env = dict(os.environ)
        env["HOME"] = self.home
        env["XDG_CONFIG_HOME"] = os.path.join(self.home, ".config")
        return env

    def command(self):
        return [self.program, "--settings", self.settings, "--program-dir", self.home, "--root", self.data,
                "--port", str(self.port)]

    def uploaded(self, name):
        return os.path.join(self.data, "up", name)


class Vsftpd(FtpServer):
    name = "vsftpd"
    executable = "usr/sbin/vsftpd"

    def command(self):
        # vsftpd enters its anonymous user's home before anon_root; that
        # user needs a home that exists.
        if subprocess.run(["id", "ftpbench"], capture_output=True, timeout=10).returncode != 0:
            subprocess.run(["useradd", "-M", "-d", self.data, "-s", "/usr/sbin/nologin", "ftpbench"], check=True,
                           timeout=30)
        else:  # left by an earlier run whose scratch directory is gone
            subprocess.run(["usermod", "-d", self.data, "ftpbench"], check=True, timeout=30)
        empty = os.path.join(self.work, "vsftpd-empty")
        os.makedirs(empty, exist_ok=True)
        config = os.path.join(self.work, "vsftpd.conf")
        with open(config, "w") as f:
            f.write("\n".join([
                "listen=YES", f"listen_address={HOST}", f"listen_port={self.port}", "background=NO",
                "anonymous_enable=YES", "local_enable=NO", f"anon_root={self.data}", "no_anon_password=YES",
                "write_enable=YES", "anon_upload_enable=YES", "anon_mkdir_write_enable=YES",
                "anon_other_write_enable=YES", "ftp_username=ftpbench", "seccomp_sandbox=NO",
                f"secure_chroot_dir={empty}", f"max_clients={self.sessions}", f"max_per_ip={self.sessions}",
                "use_localtime=YES", "xferlog_enable=NO", "pasv_enable=YES", "port_enable=YES",
                "connect_from_port_20=NO",
                # TLS allowed, not forced, with sessions not tied to the control connection's.
                "ssl_enable=YES", "allow_anon_ssl=YES", f"rsa_cert_file={self.certificate}",
                f"rsa_private_key_file={self.key}", "force_local_data_ssl=NO", "force_local_logins_ssl=NO",
                "force_anon_data_ssl=NO", "force_anon_logins_ssl=NO", "require_ssl_reuse=NO", "ssl_ciphers=HIGH",
                ""]))
        return [self.binary(), config]


class PureFtpd(FtpServer):
    name = "pure-ftpd"
    executable = "usr/sbin/pure-ftpd"
    user, password = "bench", "benchpass"

    def command(self):
        passwd = os.path.join(self.work, "pureftpd.passwd")
        database = os.path.join(self.work, "pureftpd.pdb")
        if not os.path.exists(database):
            # pure-pw's own hash costs seconds per login by design; a SHA-512
            # crypt entry keeps the login row about the protocol, not the hash.
            hashed = subprocess.run(["openssl", "passwd", "-6", "-stdin"], input=self.password, text=True,
                                    capture_output=True, check=True, timeout=30).stdout.strip()
            with open(passwd, "w") as f:
                f.write(f"{self.user}:{hashed}:65534:65534::{self.data}/./::::::::::::\n")
            subprocess.run([os.path.join(self.peers, "usr/bin/pure-pw"), "mkdb", database, "-f", passwd],
                           env=self.environment(), check=True, stdout=subprocess.DEVNULL, timeout=30)
        return [self.binary(), "-S", f"{HOST},{self.port}", "-l", f"puredb:{database}", "-E", "-A",
                "-c", str(self.sessions), "-C", str(self.sessions), "-u", "1", "-H",
                "-Y", "1", "-2", self.certificate_and_key]


class Pyftpdlib(FtpServer):
    name = "pyftpdlib"
    executable = "usr/lib/python3/dist-packages/pyftpdlib"
    tls = False  # its command line has no TLS

    def library(self):
        return os.path.join(self.peers, "usr/lib/python3/dist-packages")

    def command(self):
        # Its own command line, with the one limit it does not expose raised
        # (512 connections) so the session rows measure the server.
        launcher = ("import sys; import pyftpdlib.servers as s; s.FTPServer.max_cons = int(sys.argv.pop(1)); "
                    "from pyftpdlib.__main__ import main; main()")
        return [sys.executable, "-c", launcher, str(self.sessions), "-i", HOST, "-p", str(self.port),
                "-d", self.data, "-w"]

    def environment(self):
        env = dict(os.environ)
        env["PYTHONPATH"] = self.library()
        return env


class Iperf(Process):
    """The loopback TCP ceiling: one iperf3 stream."""

    name = "iperf3"
    executable = "usr/bin/iperf3"

    def binary(self):
        return shutil.which("iperf3") or super().binary()

    def command(self):
        return [self.binary(), "-s", "-B", HOST, "-p", str(self.port)]


def free_port():
    with socket.socket() as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


# --- clients ----------------------------------------------------------------


def take_reply(buffer):
    """Removes the first complete reply from a bytearray; returns its first line, or None if incomplete."""
    end, code, first = 0, None, None
    while True:
        newline = buffer.find(b"\n", end)
        if newline < 0:
            return None
        line = bytes(buffer[end:newline]).rstrip(b"\r")
        end = newline + 1
        if first is None:
            first, code = line, line[:3]
            if line[3:4] != b"-":
                break
        elif line[:3] == code and line[3:4] == b" ":
            break
    del buffer[:end]
    return first.decode("latin-1")


def read_reply(sock):
    buffer = bytearray()
    for _ in range(1024):
        reply = take_reply(buffer)
        if reply is not None:
            return reply
        chunk = sock.recv(4096)
        if not chunk:
            return "(closed)"
        buffer += chunk
    return "(reply too long)"


class PlainClient:
    """How the workloads reach a server: plain FTP through ftplib and curl.

    A TLS row is a subclass that returns ftplib.FTP_TLS sessions (AUTH TLS,
    then PROT P) and adds --ssl-reqd to curl, named in the row's Workload.
    """

    session_class = ftplib.FTP
    curl_options = ()

    def __init__(self, server):
        self.server = server

    def connect(self):
        ftp = self.session_class()
        ftp.connect(HOST, self.server.port, timeout=TIMEOUT)
        return ftp

    def login(self):
        ftp = self.connect()
        ftp.login(self.server.user, self.server.password)
        return ftp

    def session(self):
        ftp = self.login()
        ftp.voidcmd("TYPE I")
        return ftp

    @staticmethod
    def quit(ftp):
        # No wait for the QUIT reply: some servers close without one.
        try:
            ftp.putcmd("QUIT")
        except OSError:
            pass
        ftp.close()

    def curl(self, path, *extra):
        # --ftp-skip-pasv-ip: data connections go to the control address, loopback, whatever PASV says.
        return ["curl", "-sS", "--max-time", "300", "--ftp-skip-pasv-ip", "-u",
                f"{self.server.user}:{self.server.password}", "-w", "%{size_download} %{size_upload} %{time_total}",
                *self.curl_options, *extra,
                f"ftp://{HOST}:{self.server.port}/{path}"]


class TlsFtp(ftplib.FTP_TLS):
    """FTP_TLS that accepts the benchmark's self-signed certificate."""

    def __init__(self):
        context = ssl.create_default_context()
        context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
        super().__init__(context=context)


class TlsClient(PlainClient):
    """Explicit FTPS: AUTH TLS, login, PROT P; curl with --ssl-reqd."""

    session_class = TlsFtp
    curl_options = ("--ssl-reqd", "-k")

    def login(self):
        ftp = super().login()
        ftp.prot_p()
        return ftp


class Crowd:
    """Many control connections driven by one epoll loop.

    Each connects, waits for the greeting and, given credentials, logs in;
    then it stays open until close(). At most `in_flight` connections are on
    their way at once; nothing new starts after `seconds` or once `guard()`
    names a reason to stop.
    """

    def __init__(self, port, count, credentials=None, in_flight=64, seconds=60.0, guard=None):
        self.port, self.count, self.credentials = port, count, credentials
        self.in_flight, self.seconds, self.guard = in_flight, seconds, guard
        self.greeted = self.logged_in = 0
        self.failures = collections.Counter()  # what happened to connections that did not make it
        self.held = []
        self.last = None  # seconds from the first connect to the last goal reached

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def goal(self):
        return self.logged_in if self.credentials else self.greeted

    def run(self):
        selector = selectors.DefaultSelector()
        pending = {}
        started, stopped = 0, None
        begin = time.monotonic()
        deadline = begin + self.seconds
        try:
            while time.monotonic() < deadline:
                while started < self.count and len(pending) < self.in_flight and stopped is None:
                    if self.guard and started % 100 == 0:
                        stopped = self.guard()
                        if stopped:
                            break
                    try:
                        sock = socket.socket()
                    except OSError as error:
                        stopped = f"client: {error.strerror}"
                        break
                    sock.setblocking(False)
                    started += 1
                    code = sock.connect_ex((HOST, self.port))
                    if code not in (0, errno.EINPROGRESS):
                        self.failures[os.strerror(code)] += 1
                        sock.close()
                        continue
                    pending[sock] = {"stage": "connect", "buffer": bytearray()}
                    selector.register(sock, selectors.EVENT_WRITE, pending[sock])
                if not pending:
                    break
                for key, _ in selector.select(min(1.0, max(0.0, deadline - time.monotonic()))):
                    outcome = self._step(key.fileobj, key.data, selector)
                    if outcome is None:
                        continue
                    selector.unregister(key.fileobj)
                    del pending[key.fileobj]
                    if outcome == "held":
                        self.held.append(key.fileobj)
                        self.last = time.monotonic() - begin
                    else:
                        self.failures[outcome] += 1
                        key.fileobj.close()
        finally:
            for sock, state in pending.items():
                self.failures[f"no reply in time ({state['stage']})"] += 1
                sock.close()
            selector.close()
        if started < self.count:
            self.failures[stopped or "not started in time"] += self.count - started

    def _step(self, sock, state, selector):
        """Advances one connection; returns None to go on, "held", or what went wrong."""
        if state["stage"] == "connect":
            code = sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
            if code:
                return os.strerror(code)
            state["stage"] = "greeting"
            selector.modify(sock, selectors.EVENT_READ, state)
            return None
        try:
            return self._read(sock, state)
        except BlockingIOError:
            return None
        except OSError as error:
            return error.strerror

    def _read(self, sock, state):
        chunk = sock.recv(4096)
        if not chunk:
            return f"closed by the server ({state['stage']})"
        state["buffer"] += chunk
        reply = take_reply(state["buffer"])
        if reply is None:
            return None
        expected = {"greeting": ("220",), "user": ("331", "230"), "password": ("230",)}[state["stage"]]
        if reply[:3] not in expected:
            return reply[:40]
        if state["stage"] == "greeting":
            self.greeted += 1
            if not self.credentials:
                return "held"
            state["stage"] = "user"
            sock.send(f"USER {self.credentials[0]}\r\n".encode())
        elif reply.startswith("331"):
            state["stage"] = "password"
            sock.send(f"PASS {self.credentials[1]}\r\n".encode())
        else:
            self.logged_in += 1
            return "held"
        return None

    def still_open(self):
        """How many held connections the server has not closed (nor said goodbye on)."""
        poller = select.poll()
        for sock in self.held:
            poller.register(sock, select.POLLIN)
        # Readable means the server closed the connection or sent a reply
        # nobody asked for (a time-out notice): either way, not held.
        return len(self.held) - len(poller.poll(0))

    def close(self):
        for sock in self.held:
            sock.close()
        self.held = []

    def failure_text(self):
        return ", ".join(f"{reason} x{n}" for reason, n in self.failures.most_common(3))


def machine_guard(reserve_pids, reserve_mib):
    """Stops opening sessions before the machine runs out of process ids or memory (for forking servers)."""
    with open("/proc/sys/kernel/pid_max") as f:
        pid_max = int(f.read())

    def check():
        with open("/proc/loadavg") as f:
            tasks = int(f.read().split()[3].split("/")[1])
        if pid_max - tasks < reserve_pids:
            return f"stopped: fewer than {reserve_pids} free process ids"
        with open("/proc/meminfo") as f:
            available = next(int(line.split()[1]) for line in f if line.startswith("MemAvailable:"))
        if available < reserve_mib * 1024:
            return f"stopped: less than {reserve_mib} MiB of memory available"
        return None

    return check


# --- workloads --------------------------------------------------------------


def repeat(count, step, limit):
    """Seconds that step(0) .. step(count - 1) take; a sample over `limit` seconds fails."""
    begin = time.perf_counter()
    for i in range(count):
        step(i)
        if time.perf_counter() - begin > limit:
            raise SampleError(f"over {limit:.0f} s")
    return time.perf_counter() - begin


def in_session(client, folder, work):
    """work(ftp) in a logged-in binary-mode session, in folder."""
    ftp = client.session()
    try:
        ftp.cwd(folder)
        return work(ftp)
    finally:
        client.quit(ftp)


def pss_idle(client, ctx, index):
    return client.server.pss_mib(), None


def pss_sessions(client, ctx, index):
    server = client.server
    with Crowd(server.port, ctx.args.sessions, (server.user, server.password), in_flight=4,
               seconds=ctx.args.sample_seconds) as crowd:
        crowd.run()
        if crowd.goal() < ctx.args.sessions:
            raise SampleError(f"{crowd.goal()}/{ctx.args.sessions} logged in: {crowd.failure_text()}")
        time.sleep(0.5)  # a pause for memory the sessions touch lazily, not a synchronisation
        return server.pss_mib(), None


def small_retrs(client, ctx, index):
    count, received = ctx.args.small_files, 0

    def sink(block):
        nonlocal received
        received += len(block)

    seconds = in_session(client, "small", lambda ftp: repeat(
        count, lambda i: ftp.retrbinary(f"RETR f{i}", sink, blocksize=65536), ctx.args.sample_seconds))
    if received != count * 4096:
        raise SampleError(f"received {received} bytes")
    return count / seconds, None


def warm_list(client, ctx, index):
    in_session(client, "list", lambda ftp: ftp.retrbinary("LIST", lambda block: None))


def lists(client, ctx, index):
    count, lines = ctx.args.lists, 0

    def sink(block):
        nonlocal lines
        lines += block.count(b"\n")

    seconds = in_session(client, "list", lambda ftp: repeat(
        count, lambda i: ftp.retrbinary("LIST", sink, blocksize=65536), ctx.args.sample_seconds))
    if lines < 2000 * count:
        raise SampleError(f"a LIST gave {lines // count} lines on average")
    return count / seconds, None


def logins(client, ctx, index):
    count = ctx.args.logins
    return count / repeat(count, lambda i: client.quit(client.login()), ctx.args.sample_seconds), None


def run_curls(commands, limit):
    """Runs curl commands at once; returns the seconds from the first start to the last end and, for
    each, (bytes moved, seconds curl itself took: from connecting to the end, without process start)."""
    processes = []
    try:
        begin = time.perf_counter()
        for command in commands:
            processes.append(subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE))
        outputs = [p.communicate(timeout=max(0.1, begin + limit - time.perf_counter())) for p in processes]
        seconds = time.perf_counter() - begin
    except subprocess.TimeoutExpired:
        raise SampleError(f"over {limit:.0f} s") from None
    finally:
        for p in processes:
            if p.poll() is None:
                p.kill()
                p.wait(5)
    for p, (out, err) in zip(processes, outputs):
        if p.returncode != 0:
            raise SampleError(f"curl: {err.decode(errors='replace').strip()[:80]}")
    transfers = [out.split() for out, _ in outputs]
    return seconds, [(int(down) + int(up), float(total)) for down, up, total in transfers]


def big_retr(client, ctx, index):
    size = ctx.args.big_mib * MIB
    _, [(moved, seconds)] = run_curls([client.curl("big.bin", "-o", "/dev/null")], ctx.args.sample_seconds)
    if moved != size:
        raise SampleError(f"received {moved} bytes")
    return size / seconds / MB, None


def big_stor(client, ctx, index):
    server, size = client.server, ctx.args.big_mib * MIB
    name = f"stor-{index}.bin"
    target = f"{server.upload_dir}/{name}" if server.upload_dir else name
    landed = server.uploaded(name)
    try:
        _, [(_, seconds)] = run_curls([client.curl(target, "-T", ctx.big_file)], ctx.args.sample_seconds)
        stored = os.path.getsize(landed) if os.path.exists(landed) else -1
    finally:
        if os.path.exists(landed):
            os.remove(landed)
    if stored != size:
        raise SampleError(f"stored {stored} bytes")
    return size / seconds / MB, None


def parallel_downloads(client, ctx, index):
    size, streams = ctx.args.par_mib * MIB, ctx.args.streams
    commands = [client.curl("par.bin", "-o", "/dev/null") for _ in range(streams)]
    seconds, transfers = run_curls(commands, ctx.args.sample_seconds)
    if any(moved != size for moved, _ in transfers):
        raise SampleError(f"received {[moved for moved, _ in transfers]} bytes")
    return streams * size / seconds / MB, None


def burst(client, ctx, index):
    with Crowd(client.server.port, ctx.args.burst, in_flight=ctx.args.burst, seconds=ctx.args.burst_seconds) as crowd:
        crowd.run()
        note = {"seconds_to_last": crowd.last, "failures": dict(crowd.failures)}
        return float(crowd.greeted), note


def hold_idle(client, ctx, index):
    server, count = client.server, ctx.args.idle
    # Few connections on their way at once: this row is about holding
    # sessions; how a server takes a crowd at once is the burst row.
    with Crowd(server.port, count, in_flight=4, seconds=ctx.args.hold_seconds,
               guard=machine_guard(ctx.args.reserve_pids, ctx.args.reserve_mib)) as crowd:
        crowd.run()
        time.sleep(1.0)  # lets the server finish setting up the last sessions before memory is read
        pss = server.pss_mib()
        held = crowd.still_open()
        note = {"greeted": crowd.greeted, "held": held, "seconds_to_last": crowd.last,
                "failures": dict(crowd.failures), "processes": len(server.pids())}
    return pss, note


def ceiling(client, ctx, index):
    server = client.server
    out = subprocess.run([server.binary(), "-c", HOST, "-p", str(server.port), "-t", str(ctx.args.iperf_seconds),
                          "-J"], env=server.environment(), capture_output=True, text=True,
                         timeout=ctx.args.iperf_seconds + 30)
    if out.returncode != 0:
        raise SampleError(f"iperf3: {out.stdout[-200:]}{out.stderr[-200:]}")
    return json.loads(out.stdout)["end"]["sum_received"]["bits_per_second"] / 8 / MB, None


def burst_note(ctx, result):
    times = [n["seconds_to_last"] for n in result.notes if n["seconds_to_last"] is not None]
    return f" in {statistics.median(times):.2f} s" if times else ""


def hold_note(ctx, result):
    note = result.notes[0]
    text = f" ({note['held']}/{ctx.args.idle} held"
    if note["failures"]:
        reason, count = max(note["failures"].items(), key=lambda item: item[1])
        text += f"; {reason} x{count}"
    return text + ")"


def all_greeted(ctx, value, note):
    return value >= ctx.args.burst


def all_held(ctx, value, note):
    return note["held"] >= ctx.args.idle


@dataclasses.dataclass
class Workload:
    """One row of the table: what a sample does and how its number compares with the peers."""

    key: str
    label: str  # formatted with the command line's values
    run: object  # run(client, ctx, index) -> (number, note or None)
    higher_is_better: bool = True
    target: float = None  # ratio to the best peer that counts as met
    goal: tuple = None  # a target that is not a ratio: (text, met(ctx, value, note))
    note: object = None  # note(ctx, result) -> text shown after the median
    warm: object = None  # untimed preparation before the first round: True (one sample) or a run function
    once: bool = False  # one sample instead of one per round (too costly to repeat)
    participants: str = "ftp"  # "ftp": every FTP server; "tls": those offering TLS; "iperf": the iperf3 server
    client: type = PlainClient
    settle_seconds: float = 10.0


WORKLOADS = [
    Workload("pss_idle", "Pss idle (MiB)", pss_idle, higher_is_better=False),
    Workload("pss_sessions", "Pss with {sessions} idle sessions (MiB)", pss_sessions, higher_is_better=False,
             target=0.5),
    Workload("small", "{small_files} x 4 KiB RETR, one session (files/s)", small_retrs, target=1.5, warm=True),
    Workload("list", "cached LIST of 2000 entries (lists/s)", lists, target=3.0, warm=warm_list),
    Workload("login", "connect + login + QUIT (logins/s)", logins, target=1.5),
    Workload("retr", "big RETR, {big_mib} MiB (MB/s)", big_retr, target=1.0, warm=True),
    Workload("stor", "big STOR, {big_mib} MiB (MB/s)", big_stor),
    Workload("parallel", "{streams} parallel downloads of {par_mib} MiB (MB/s)", parallel_downloads, target=1.0,
             warm=True),
    Workload("burst", "{burst}-client burst: greeted within {burst_seconds:g} s", burst,
             goal=("all greeted", all_greeted), note=burst_note),
    Workload("hold", "{idle} idle sessions held: Pss (MiB)", hold_idle, higher_is_better=False,
             goal=("all held", all_held), note=hold_note, once=True, settle_seconds=120.0),
    Workload("tls_small", "TLS: {small_files} x 4 KiB RETR, one session (files/s)", small_retrs, target=1.0,
             warm=True, client=TlsClient, participants="tls"),
    Workload("tls_login", "TLS: connect + AUTH TLS + login + PROT P + QUIT (logins/s)", logins, target=1.0,
             client=TlsClient, participants="tls"),
    Workload("tls_retr", "TLS: big RETR, {big_mib} MiB (MB/s)", big_retr, target=1.0, warm=True, client=TlsClient,
             participants="tls"),
    Workload("tls_stor", "TLS: big STOR, {big_mib} MiB (MB/s)", big_stor, target=1.0, client=TlsClient,
             participants="tls"),
    Workload("ceiling", "loopback TCP ceiling, iperf3 one stream (MB/s)", ceiling, participants="iperf"),
]


# --- running ----------------------------------------------------------------


@dataclasses.dataclass
class Result:
    samples: list = dataclasses.field(default_factory=list)
    notes: list = dataclasses.field(default_factory=list)
    cpu_seconds: float = 0.0
    wall_seconds: float = 0.0  # what the samples took, settling included
    error: str = None

    def median(self):
        return statistics.median(self.samples) if self.samples else None


class Context:
    """What every sample may read: the command line and the file STOR sends."""

    def __init__(self, args, data):
        self.args = args
        self.big_file = os.path.join(data, "big.bin")


# What a sample may fail with; the failure is the server's result for the row.
SAMPLE_ERRORS = (SampleError, OSError, EOFError, ValueError, ftplib.Error, subprocess.SubprocessError)


def sample(workload, server, ctx, index, result):
    """One sample, with the CPU its server's tree spent on it (read only when the tree is at rest)."""
    before, begin = server.cpu_seconds(), time.monotonic()
    try:
        value, note = workload.run(workload.client(server), ctx, index)
    except SAMPLE_ERRORS as error:
        result.error = f"{type(error).__name__}: {error}"[:120]
        log(f"  {server.name}: {result.error}")
        value = note = None
    if not server.settle(workload.settle_seconds):
        log(f"  {server.name}: sessions still exiting after {workload.settle_seconds:g} s")
    result.cpu_seconds += server.cpu_seconds() - before
    result.wall_seconds += time.monotonic() - begin
    if value is not None:
        result.samples.append(value)
        result.notes.append(note)


def measure(workload, participants, ctx):
    results = {p.name: Result() for p in participants}
    rounds = 1 if workload.once else ctx.args.rounds
    if workload.warm:
        warm = workload.run if workload.warm is True else workload.warm
        for server in participants:
            try:
                warm(workload.client(server), ctx, -1)
            except SAMPLE_ERRORS as error:
                log(f"  {server.name}: warm-up failed: {error}")
            server.settle(workload.settle_seconds)
    for index in range(rounds):
        shift = index % len(participants)
        for server in participants[shift:] + participants[:shift]:
            # A server that failed a sample is not asked again for this row: its
            # failure is the result, and retrying only costs time.
            if results[server.name].error is None:
                sample(workload, server, ctx, index, results[server.name])
        medians = ", ".join(f"{name} {fmt(r.median())}" for name, r in results.items())
        log(f"{workload.key} round {index + 1}/{rounds}: {medians}")
    return results


def fmt(value):
    if value is None:
        return "-"
    if value == int(value):
        return str(int(value))
    if abs(value) >= 100:
        return f"{value:.0f}"
    if abs(value) >= 10:
        return f"{value:.1f}"
    return f"{value:.2f}"


def ratio(ours, theirs, higher_is_better):
    """Ours over the best of theirs, as text."""
    values = [v for v in theirs if v is not None]
    if ours is None or not values:
        return None, "-"
    best = max(values) if higher_is_better else min(values)
    if best == 0:
        return None, "-"
    return ours / best, f"{ours / best:.2f}x"


def spread(result, once):
    if once or not result.samples:
        return "-"
    return f"{fmt(min(result.samples))}–{fmt(max(result.samples))}"


def table(workloads, results, servers, ctx):
    """The Markdown table: per server median, spread and CPU; then ours against the best peer."""
    names = [s.name for s in servers]
    ours, peers = names[0], names[1:]
    header = ["workload"]
    for name in names:
        header += [name, "spread", "CPU s"]
    header += ["ratio to best peer", "target", "met", "CPU to cheapest peer"]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for workload in workloads:
        # A server that takes no part in a row (pyftpdlib in the TLS rows) shows "-".
        row = collections.defaultdict(Result, results[workload.key])
        cells = [workload.label.format(**vars(ctx.args))]
        if workload.participants == "iperf":
            (result,) = row.values()
            cells += [fmt(result.median()), spread(result, False), "-"] + [""] * (3 * len(peers)) + ["-"] * 4
            lines.append("| " + " | ".join(cells) + " |")
            continue
        for name in names:
            result = row[name]
            if result.samples:
                value = fmt(result.median()) + (workload.note(ctx, result) if workload.note else "")
            else:
                value = f"failed: {result.error}" if result.error else "-"
            cells += [value, spread(result, workload.once), fmt(result.cpu_seconds)]
        value_ratio, value_text = ratio(row[ours].median(), [row[p].median() for p in peers],
                                        workload.higher_is_better)
        _, cpu_text = ratio(row[ours].cpu_seconds, [row[p].cpu_seconds for p in peers if row[p].samples], False)
        if workload.goal:
            target, met = workload.goal
            met = bool(row[ours].samples) and all(met(ctx, v, n) for v, n in zip(row[ours].samples, row[ours].notes))
        elif workload.target is not None:
            target = f"{'>=' if workload.higher_is_better else '<='} {workload.target}x"
            met = value_ratio is not None and (value_ratio >= workload.target if workload.higher_is_better
                                               else value_ratio <= workload.target)
        else:
            target, met = "-", None
        cells += [value_text, target, "-" if met is None else ("yes" if met else "no"), cpu_text]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def make_data(data, args):
    os.makedirs(os.path.join(data, "up"), exist_ok=True)
    for name in os.listdir(os.path.join(data, "up")):
        os.remove(os.path.join(data, "up", name))
    for name, mib in (("big.bin", args.big_mib), ("par.bin", args.par_mib)):
        path = os.path.join(data, name)
        if not os.path.exists(path) or os.path.getsize(path) != mib * MIB:
            with open(path, "wb") as f:
                chunk = os.urandom(MIB)
                for _ in range(mib):
                    f.write(chunk)
    os.makedirs(os.path.join(data, "small"), exist_ok=True)
    os.makedirs(os.path.join(data, "list"), exist_ok=True)
    for i in range(args.small_files):
        path = os.path.join(data, "small", f"f{i}")
        if not os.path.exists(path):
            with open(path, "wb") as f:
                f.write(os.urandom(4096))
    for i in range(2000):
        path = os.path.join(data, "list", f"entry-{i:05d}.dat")
        if not os.path.exists(path):
            open(path, "wb").close()
    for root, dirs, files in os.walk(data):
        for d in dirs:
            os.chmod(os.path.join(root, d), 0o777 if d == "up" else 0o755)
        for name in files:
            os.chmod(os.path.join(root, name), 0o644)
    os.chmod(data, 0o755)


def raise_file_limit(needed):
    """Servers inherit this process's limit; the client needs as many descriptors as sessions it holds."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft >= needed:
        return soft
    try:
        resource.setrlimit(resource.RLIMIT_NOFILE, (needed, max(hard, needed)))
    except (ValueError, OSError):
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    return resource.getrlimit(resource.RLIMIT_NOFILE)[0]


def machine():
    info = {"kernel": platform.release(), "cores": os.cpu_count(), "python": platform.python_version()}
    try:
        with open("/proc/cpuinfo") as f:
            info["cpu"] = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
        with open("/proc/meminfo") as f:
            info["memory_mib"] = int(f.readline().split()[1]) // 1024
    except (OSError, StopIteration):
        pass
    return info


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", required=True, help="talvek-ftpd built for release")
    parser.add_argument("--peers", default="/tmp/bench-peers/root", help="unpacked peer packages")
    parser.add_argument("--work", default=None, help="scratch directory, kept (default: a temporary one)")
    parser.add_argument("--only", default=None, help="comma-separated workload keys: " +
                        ",".join(w.key for w in WORKLOADS))
    for flag, default, text in (
            ("--rounds", 7, "samples per server and workload"),
            ("--big-mib", 256, "size of the big RETR and STOR file"),
            ("--par-mib", 64, "size of each parallel download"),
            ("--streams", 8, "parallel downloads"),
            ("--small-files", 1000, "4 KiB files fetched per sample"),
            ("--lists", 200, "LISTs per sample"),
            ("--logins", 300, "logins per sample"),
            ("--sessions", 200, "logged-in idle sessions for the Pss row"),
            ("--idle", 10000, "idle sessions to hold"),
            ("--hold-seconds", 180.0, "limit for opening the idle sessions"),
            ("--reserve-pids", 4096, "process ids left free while holding sessions"),
            ("--reserve-mib", 2048, "MiB of memory left free while holding sessions"),
            ("--burst", 1000, "clients connecting at once"),
            ("--burst-seconds", 10.0, "time the burst has to be greeted"),
            ("--iperf-seconds", 3, "length of one iperf3 sample"),
            ("--sample-seconds", 300.0, "limit for one sample")):
        parser.add_argument(flag, type=type(default), default=default, help=f"{text} (default {default:g})")
    parser.add_argument("--json", default=None, help="also write every sample to this file")
    args = parser.parse_args()
    args.binary = os.path.abspath(args.binary)
    if args.rounds < 7:
        log(f"{args.rounds} rounds: fine for trying the script, too few for numbers worth quoting")
    return args


def main():
    args = parse_args()
    workloads = WORKLOADS
    if args.only:
        keys = args.only.split(",")
        unknown = set(keys) - {w.key for w in WORKLOADS}
        if unknown:
            sys.exit(f"unknown workloads: {', '.join(sorted(unknown))}")
        workloads = [w for w in WORKLOADS if w.key in keys]
    # Every limit below the session counts would measure a configuration, not a server.
    sessions = max(args.idle, args.burst, args.sessions) + 100
    files = raise_file_limit(sessions + 1024)
    if files < sessions + 1024:
        log(f"file limit is {files}; the session rows may fail on the client side")

    def stop_on_signal(number, frame):
        raise SystemExit(128 + number)

    signal.signal(signal.SIGTERM, stop_on_signal)
    signal.signal(signal.SIGHUP, stop_on_signal)

    work = args.work or tempfile.mkdtemp(prefix="talvek-bench-")
    os.makedirs(work, exist_ok=True)
    os.chmod(work, 0o755)
    data = os.path.join(work, "data")
    make_data(data, args)
    ctx = Context(args, data)
    started = []
    load_before = os.getloadavg()
    try:
        candidates = [Talvek(work, data, args.peers, sessions, args.binary)]
        candidates += [peer(work, data, args.peers, sessions) for peer in (Vsftpd, PureFtpd, Pyftpdlib)]
        candidates.append(Iperf(work, args.peers))
        for process in candidates:
            if not process.available():
                log(f"{process.name}: not found under {args.peers}, left out")
                continue
            started.append(process)  # before start(), so a half-started server is stopped too
            try:
                process.start()
            except (RuntimeError, OSError, subprocess.SubprocessError) as error:
                if isinstance(process, Talvek):
                    raise
                log(f"{process.name}: left out, {error}")
                process.stop()
                started.remove(process)
                continue
            log(f"{process.name}: pid {process.process.pid}, {HOST}:{process.port}, "
                f"{process.resting} process(es) at rest")
        servers = [p for p in started if isinstance(p, FtpServer)]
        iperf = [p for p in started if isinstance(p, Iperf)]
        workloads = [w for w in workloads if w.participants != "iperf" or iperf]
        by_kind = {"ftp": servers, "tls": [s for s in servers if s.tls], "iperf": iperf}
        results = {}
        for workload in workloads:
            results[workload.key] = measure(workload, by_kind[workload.participants], ctx)
    finally:
        for process in reversed(started):
            process.stop()
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)

    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    print(f"{when}; {args.rounds} rounds, server order rotated each round; median, spread min–max, "
          f"CPU seconds of the server's process tree summed over all rounds; load average "
          f"{load_before[0]:.1f} before, {os.getloadavg()[0]:.1f} after.\n")
    print(table(workloads, results, servers, ctx))
    if "ceiling" in results and results["ceiling"]["iperf3"].samples:
        top = results["ceiling"]["iperf3"].median()
        shares = [f"{key} / ceiling: {results[key][Talvek.name].median() / top:.2f}" for key in ("retr", "stor")
                  if key in results and results[key][Talvek.name].samples]
        if shares:
            print(f"\n{Talvek.name} {', '.join(shares)}")
    if args.json:
        report = {"when": when, "machine": machine(), "arguments": vars(args),
                  "load_average": {"before": load_before, "after": os.getloadavg()},
                  "results": {key: {name: dataclasses.asdict(r) | {"median": r.median()} for name, r in row.items()}
                              for key, row in results.items()}}
        with open(args.json, "w") as f:
            json.dump(report, f, indent=1)


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted; every server started was stopped")
