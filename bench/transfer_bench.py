#!/usr/bin/env python3
"""Transfer benchmark: talvek-ftpd against peer FTP servers on loopback.

Every server runs in the foreground on a high port with a generated
configuration, serves the same files and is measured in the same run:
big RETR and STOR, many small RETRs over one session, LIST of a large
directory, login cycles, parallel downloads and the memory of the
server's process tree, plus the loopback TCP ceiling (iperf3).

Peers come from Debian packages unpacked with `dpkg -x` into --peers
(see bench/transfer_peers.sh); a peer whose binary is missing is skipped.
Prints one markdown table with medians of --runs runs.
"""

import argparse
import ftplib
import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

MB = 1_000_000


def wait_port(port, limit=10.0):
    until = time.time() + limit
    while time.time() < until:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
                s.recv(256)
                return True
        except OSError:
            time.sleep(0.05)
    return False


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """One server process: start, stop, the pids of its process tree."""

    name = "?"
    user, password = "anonymous", "bench@example.com"
    upload_dir = "up"

    def __init__(self, work, data, peers):
        self.work, self.data, self.peers = work, data, peers
        self.port = free_port()
        self.process = None

    def available(self):
        return True

    def command(self):
        raise NotImplementedError

    def environment(self):
        return dict(os.environ)

    def start(self):
        self.process = subprocess.Popen(self.command(), cwd=self.work, env=self.environment(),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
        if not wait_port(self.port):
            self.stop()
            raise RuntimeError(f"{self.name} did not start")

    def stop(self):
        if self.process and self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait(5)

    def tree_pids(self):
        pids, frontier = [], [self.process.pid]
        while frontier:
            pid = frontier.pop()
            pids.append(pid)
            try:
                with open(f"/proc/{pid}/task/{pid}/children") as f:
                    frontier += [int(p) for p in f.read().split()]
            except OSError:
                pass
        return pids

    def pss_mib(self):
        total = 0
        for pid in self.tree_pids():
            try:
                with open(f"/proc/{pid}/smaps_rollup") as f:
                    for line in f:
                        if line.startswith("Pss:"):
                            total += int(line.split()[1])
            except OSError:
                pass
        return total / 1024


class Talvek(Server):
    name = "talvek-ftpd"
    upload_dir = ""  # anonymous uploads are redirected to the uploads directory

    def __init__(self, work, data, peers, binary):
        super().__init__(work, data, peers)
        self.binary = binary
        self.settings = os.path.join(work, "talvek.reg")
        values = {
            "FTPRootDir": data, "UploadsDir": os.path.join(data, "up"),
            "GeneralSettings.MaxConnections": "1000", "GeneralSettings.ConnectionsPerAddress": "1000",
            "GeneralSettings.RefuseNew": "1", "NetSettings.AlwaysUsePort": "1",
            "CacheSettings.CacheDirs": "1", "CacheSettings.CacheFiles": "1",
            "CacheSettings.DirCacheKB": "4000", "CacheSettings.FileCacheKB": "16000",
            "Anonymous.Allow": "1", "Anonymous.Rights": "7",
        }
        for key, value in values.items():
            subprocess.run([binary, "--settings", self.settings, "--program-dir", work, "config", "set", key, value],
                           check=True, stdout=subprocess.DEVNULL)

    def command(self):
        return [self.binary, "--settings", self.settings, "--program-dir", self.work, "--root", self.data,
                "--port", str(self.port)]


class Vsftpd(Server):
    name = "vsftpd"

    def binary(self):
        return os.path.join(self.peers, "usr/sbin/vsftpd")

    def available(self):
        return os.path.exists(self.binary())

    def environment(self):
        env = dict(os.environ)
        env["LD_LIBRARY_PATH"] = ":".join(os.path.join(self.peers, p) for p in
                                          ("usr/lib/x86_64-linux-gnu", "lib/x86_64-linux-gnu"))
        return env

    def command(self):
        # vsftpd enters its anonymous user's home before anon_root; that
        # user needs a home that exists.
        if subprocess.run(["id", "ftpbench"], capture_output=True).returncode != 0:
            subprocess.run(["useradd", "-M", "-d", self.data, "-s", "/usr/sbin/nologin", "ftpbench"], check=True)
        empty = os.path.join(self.work, "vsftpd-empty")
        os.makedirs(empty, exist_ok=True)
        config = os.path.join(self.work, "vsftpd.conf")
        with open(config, "w") as f:
            f.write("\n".join([
                "listen=YES", "listen_address=127.0.0.1", f"listen_port={self.port}", "background=NO",
                "anonymous_enable=YES", "local_enable=NO", f"anon_root={self.data}", "no_anon_password=YES",
                "write_enable=YES", "anon_upload_enable=YES", "anon_mkdir_write_enable=YES",
                "anon_other_write_enable=YES", "ftp_username=ftpbench", "seccomp_sandbox=NO",
                f"secure_chroot_dir={empty}", "max_clients=1000", "max_per_ip=1000", "use_localtime=YES",
                "xferlog_enable=NO", "pasv_enable=YES", "port_enable=YES", "connect_from_port_20=NO", ""]))
        return [self.binary(), config]


class PureFtpd(Vsftpd):
    name = "pure-ftpd"
    user, password = "bench", "benchpass"

    def binary(self):
        return os.path.join(self.peers, "usr/sbin/pure-ftpd")

    def command(self):
        passwd = os.path.join(self.work, "pureftpd.passwd")
        database = os.path.join(self.work, "pureftpd.pdb")
        if not os.path.exists(database):
            # pure-pw's own hash costs seconds per login by design; a SHA-512
            # crypt entry keeps the login row about the protocol, not the hash.
            import crypt  # deprecated but present in the Debian 12 python
            hashed = crypt.crypt(self.password, crypt.mksalt(crypt.METHOD_SHA512))
            with open(passwd, "w") as f:
                f.write(f"{self.user}:{hashed}:65534:65534::{self.data}/./::::::::::::\n")
            pure_pw = os.path.join(self.peers, "usr/bin/pure-pw")
            subprocess.run([pure_pw, "mkdb", database, "-f", passwd], env=self.environment(), check=True,
                           stdout=subprocess.DEVNULL)
        return [self.binary(), "-S", f"127.0.0.1,{self.port}", "-l", f"puredb:{database}", "-E", "-A",
                "-c", "1000", "-C", "1000", "-u", "1", "-H"]


class Pyftpdlib(Server):
    name = "pyftpdlib"

    def available(self):
        return os.path.exists(os.path.join(self.peers, "usr/lib/python3/dist-packages/pyftpdlib"))

    def environment(self):
        env = dict(os.environ)
        env["PYTHONPATH"] = os.path.join(self.peers, "usr/lib/python3/dist-packages")
        return env

    def command(self):
        return ["/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", str(self.port), "-d", self.data,
                "-w"]


def login(server):
    ftp = ftplib.FTP()
    ftp.connect("127.0.0.1", server.port, timeout=60)
    ftp.login(server.user, server.password)
    ftp.voidcmd("TYPE I")
    return ftp


def close(ftp):
    try:
        ftp.putcmd("QUIT")
    except OSError:
        pass
    ftp.close()


def curl(server, path, *extra):
    url = f"ftp://127.0.0.1:{server.port}/{path}"
    return subprocess.run(["curl", "-sS", "--max-time", "300", "-u", f"{server.user}:{server.password}",
                           *extra, url], check=True, stdout=subprocess.DEVNULL)


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def big_retr(server, size):
    return size / timed(lambda: curl(server, "big.bin", "-o", "/dev/null")) / MB


def big_stor(server, size, source, run):
    target = f"{server.upload_dir}/stor{run}.bin" if server.upload_dir else f"stor{run}.bin"
    seconds = timed(lambda: curl(server, target, "-T", source))
    return size / seconds / MB


def small_retrs(server, count):
    ftp = login(server)
    ftp.cwd("small")
    sink = bytearray()

    def work():
        for i in range(count):
            ftp.retrbinary(f"RETR f{i}", sink.extend, blocksize=65536)

    seconds = timed(work)
    close(ftp)
    return count / seconds


def lists(server, count):
    ftp = login(server)
    ftp.cwd("list")
    sink = []

    def work():
        for _ in range(count):
            ftp.retrbinary("LIST", sink.append, blocksize=65536)

    seconds = timed(work)
    close(ftp)
    return count / seconds


def logins(server, count):
    def work():
        for _ in range(count):
            close(login(server))

    return count / timed(work)


def parallel_downloads(server, streams, size):
    def work():
        processes = [subprocess.Popen(["curl", "-sS", "--max-time", "300", "-u", f"{server.user}:{server.password}",
                                       "-o", "/dev/null", f"ftp://127.0.0.1:{server.port}/par.bin"])
                     for _ in range(streams)]
        for process in processes:
            if process.wait() != 0:
                raise RuntimeError("parallel download failed")

    return streams * size / timed(work) / MB


def idle_memory(server, sessions):
    idle = server.pss_mib()
    clients = [login(server) for _ in range(sessions)]
    time.sleep(1.0)  # let forked or lazily allocated session state settle before reading Pss
    busy = server.pss_mib()
    for ftp in clients:
        close(ftp)
    return idle, busy


def loopback_ceiling(peers):
    iperf = shutil.which("iperf3") or os.path.join(peers, "usr/bin/iperf3")
    if not os.path.exists(iperf):
        return None
    env = dict(os.environ)
    env["LD_LIBRARY_PATH"] = ":".join(os.path.join(peers, p) for p in
                                      ("usr/lib/x86_64-linux-gnu", "lib/x86_64-linux-gnu"))
    port = free_port()
    server = subprocess.Popen([iperf, "-s", "-1", "-B", "127.0.0.1", "-p", str(port)], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    out = subprocess.run([iperf, "-c", "127.0.0.1", "-p", str(port), "-t", "5", "-J"], env=env,
                         capture_output=True, text=True)
    server.wait(10)
    result = json.loads(out.stdout)
    return result["end"]["sum_received"]["bits_per_second"] / 8 / MB


def make_data(data, big_mib, par_mib):
    os.makedirs(os.path.join(data, "up"), exist_ok=True)
    os.chmod(os.path.join(data, "up"), 0o777)
    for name, mib in (("big.bin", big_mib), ("par.bin", par_mib)):
        path = os.path.join(data, name)
        if not os.path.exists(path) or os.path.getsize(path) != mib << 20:
            with open(path, "wb") as f:
                chunk = os.urandom(1 << 20)
                for _ in range(mib):
                    f.write(chunk)
    os.makedirs(os.path.join(data, "small"), exist_ok=True)
    for i in range(1000):
        path = os.path.join(data, "small", f"f{i}")
        if not os.path.exists(path):
            with open(path, "wb") as f:
                f.write(os.urandom(4096))
    os.makedirs(os.path.join(data, "list"), exist_ok=True)
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


ROWS = [
    ("big RETR (MB/s)", "retr", 1.0),
    ("big STOR (MB/s)", "stor", 1.0),
    ("1000 x 4 KiB RETR, one session (files/s)", "small", 1.5),
    ("LIST of 2000 entries (lists/s)", "list", 3.0),
    ("connect + login + QUIT (logins/s)", "login", 1.0),
    ("8 parallel downloads (MB/s)", "parallel", 1.0),
    ("Pss idle (MiB)", "pss_idle", None),
    ("Pss with 200 idle sessions (MiB)", "pss_busy", 0.5),
]


def measure(server, args, run):
    big = args.big_mib << 20
    return {
        "retr": big_retr(server, big),
        "stor": big_stor(server, big, os.path.join(server.data, "big.bin"), run),
        "small": small_retrs(server, 1000),
        "list": lists(server, 200),
        "login": logins(server, 300),
        "parallel": parallel_downloads(server, 8, args.par_mib << 20),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", required=True, help="talvek-ftpd built for release")
    parser.add_argument("--peers", default="/tmp/bench-peers/root", help="unpacked peer packages")
    parser.add_argument("--work", default=None, help="scratch directory (default: a new temporary one)")
    parser.add_argument("--big-mib", type=int, default=256)
    parser.add_argument("--par-mib", type=int, default=64)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    args.binary = os.path.abspath(args.binary)

    work = args.work or tempfile.mkdtemp(prefix="talvek-bench-")
    os.makedirs(work, exist_ok=True)
    os.chmod(work, 0o755)
    data = os.path.join(work, "data")
    make_data(data, args.big_mib, args.par_mib)

    servers = [Talvek(work, data, args.peers, args.binary), Vsftpd(work, data, args.peers),
               PureFtpd(work, data, args.peers), Pyftpdlib(work, data, args.peers)]
    servers = [s for s in servers if s.available()]
    results = {}
    for server in servers:
        runs = []
        server.start()
        try:
            idle, busy = idle_memory(server, 200)
            for run in range(args.runs):
                runs.append(measure(server, args, run))
                for name in os.listdir(os.path.join(data, "up")):
                    os.remove(os.path.join(data, "up", name))
        finally:
            server.stop()
        merged = {key: statistics.median(r[key] for r in runs) for key in runs[0]}
        merged["pss_idle"], merged["pss_busy"] = idle, busy
        results[server.name] = merged
        print(f"{server.name}: {merged}", file=sys.stderr)

    ceiling = loopback_ceiling(args.peers)
    names = [s.name for s in servers]
    ours, peers = names[0], names[1:]
    print(f"| row | {' | '.join(names)} | ratio to best peer | target |")
    print(f"|---|{'---|' * len(names)}---|---|")
    for label, key, target in ROWS:
        cells = [f"{results[n][key]:.1f}" for n in names]
        lower_is_better = key.startswith("pss")
        values = [results[n][key] for n in peers]
        best = (min(values) if lower_is_better else max(values)) if values else None
        ratio = f"{results[ours][key] / best:.2f}x" if best else "-"
        goal = "-" if target is None else (f"<= {target}x" if lower_is_better else f">= {target}x")
        print(f"| {label} | {' | '.join(cells)} | {ratio} | {goal} |")
    if ceiling:
        print(f"| loopback TCP ceiling, iperf3 (MB/s) | {ceiling:.0f} | | | |")
        print(f"\nbig RETR / ceiling: {results[ours]['retr'] / ceiling:.2f}, "
              f"big STOR / ceiling: {results[ours]['stor'] / ceiling:.2f} (target >= 0.75)")


if __name__ == "__main__":
    main()
