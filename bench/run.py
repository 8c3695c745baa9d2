#!/usr/bin/python3
"""Benchmarks RyMail against a minimal raw client of the same dialogue and,
where installed, curl and msmtp, all sending to the fast sink on
127.0.0.1:25 in a private network namespace. Prints a table of medians with
min-max and writes it to a file. A benchmark, not a test: nothing fails on a
timing, but every message must reach the sink whole.

    bench/run.py [--build build/default] [--out bench/results.txt] [--runs-1k 200] [--with-1g]
"""

import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from private_network import enter_private_network  # noqa: E402

SENDER, RECIPIENT = "bench@example.com", "sink@example.com"


def make_body(path, size, line=b"x" * 69 + b"\n"):
    with open(path, "wb") as f:
        chunk = line * (1 << 20 // len(line) + 1)
        written = 0
        while written < size:
            piece = chunk[: size - written]
            f.write(piece)
            written += len(piece)
    return path


class Bench:
    def __init__(self, build, work):
        self.build = build
        self.work = work
        self.stats = os.path.join(work, "sink-stats.txt")
        open(self.stats, "w").close()
        # A throwaway certificate for the sink's STARTTLS; RyMail checks it against itself.
        self.certificate = os.path.join(work, "sink.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                        "-days", "2", "-keyout", self.certificate, "-out", self.certificate + ".crt"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(self.certificate, "a") as key, open(self.certificate + ".crt") as crt:
            key.write(crt.read())
        self.sink = subprocess.Popen([os.path.join(build, "bench", "rymail_sink"), self.stats, self.certificate])
        deadline = time.time() + 10
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", 25), timeout=1).close()
                break
            except OSError:
                time.sleep(0.02)
        self.seen = self._stat_lines()

    def close(self):
        self.sink.terminate()
        self.sink.wait()

    def _stat_lines(self):
        with open(self.stats) as f:
            return f.read().split("\n")[:-1]

    def clients(self, body, recipients=None):
        """The command of each client for one message; recipients is a file of addresses."""
        rymail = [os.path.join(self.build, "RyMail"), "-f", SENDER, "-g", "127.0.0.1", "-h", "bench.example.com",
                  "-s", "bench", "-i", body]
        rymail += ["-l", recipients] if recipients else ["-t", RECIPIENT]
        raw = [os.path.join(self.build, "bench", "rymail_raw_client"), "127.0.0.1", SENDER]
        raw += [recipients, RECIPIENT, body] if recipients else ["-t", RECIPIENT, body]
        rcpts = open(recipients).read().split() if recipients else [RECIPIENT]
        out = {"RyMail": (rymail, None), "raw client": (raw, None)}
        if shutil.which("curl"):
            curl = ["curl", "-s", "smtp://127.0.0.1:25", "--mail-from", SENDER, "--upload-file", body, "--crlf"]
            for r in rcpts:
                curl += ["--mail-rcpt", r]
            out["curl"] = (curl, None)
        if shutil.which("msmtp"):
            out["msmtp"] = (["msmtp", "--host=127.0.0.1", "--port=25", "--auth=off", "--tls=off",
                             "--from=" + SENDER] + rcpts, body)
        return out

    def tls_clients(self, body):
        """The same message through STARTTLS, for the clients that can."""
        rymail = self.clients(body)["RyMail"][0] + ["--tls", "starttls", "--ca-file", self.certificate + ".crt"]
        out = {"RyMail TLS": (rymail, None)}
        if shutil.which("curl"):
            out["curl TLS"] = (["curl", "-s", "smtp://127.0.0.1:25", "--ssl-reqd", "--cacert", self.certificate + ".crt",
                                "--mail-from", SENDER, "--mail-rcpt", RECIPIENT, "--upload-file", body, "--crlf"], None)
        return out

    def run_once(self, command, stdin_path):
        """Runs one client; returns (seconds, peak RSS in KiB). Fails when the sink did not get it whole."""
        stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
        result = os.path.join(self.work, "measure.txt")
        subprocess.run([os.path.join(self.build, "bench", "rymail_measure"), result] + command, stdin=stdin,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        if stdin_path:
            stdin.close()
        with open(result) as f:
            status, took, peak = f.read().split()
        lines = self._stat_lines()
        new, self.seen = lines[len(self.seen):], lines
        if status != "0" or len(new) != 1 or not new[0].endswith("whole"):
            raise SystemExit("%s: exit %s, sink saw %r" % (command[0], status, new))
        return float(took), int(peak)


def interleaved(bench, clients, runs):
    """Runs every client once per round, so that drift in the machine's speed
    falls on all of them alike. Returns {client: [(seconds, peak KiB)]}."""
    results = {name: [] for name in clients}
    for _ in range(runs):
        for name, (command, stdin) in clients.items():
            results[name].append(bench.run_once(command, stdin))
    return results


def summary(values, scale=1.0, digits=1):
    v = [x * scale for x in values]
    fmt = "%%.%df" % digits
    return (fmt + " (" + fmt + "-" + fmt + ")") % (statistics.median(v), min(v), max(v))


def main():
    parser = argparse.ArgumentParser()
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--build", default=os.path.join(here, "..", "build", "default"))
    parser.add_argument("--out", default=os.path.join(here, "results.txt"))
    parser.add_argument("--runs-1k", type=int, default=200)
    parser.add_argument("--runs-big", type=int, default=5)
    parser.add_argument("--with-1g", action="store_true", help="also measure RyMail's memory on a 1 GB body")
    args = parser.parse_args()
    enter_private_network()

    work = tempfile.mkdtemp(prefix="rymail-bench-")
    bench = Bench(os.path.abspath(args.build), work)
    rows = []
    try:
        small = make_body(os.path.join(work, "1k.txt"), 1024)
        large = make_body(os.path.join(work, "100m.txt"), 100 * 1000 * 1000)
        recipients = os.path.join(work, "rcpt.txt")
        with open(recipients, "w") as f:
            f.writelines("user%05d@example.com\n" % i for i in range(10000))
        empty = make_body(os.path.join(work, "empty.txt"), 0)

        small_clients = bench.clients(small)
        small_clients["raw+lookups"] = (small_clients["raw client"][0] + ["lookups"], None)
        for name, runs in interleaved(bench, small_clients, args.runs_1k).items():
            rows.append(("1 KB message", name, "ms/message", summary([t for t, _ in runs], 1000, 2)))
        large_clients = bench.clients(large)
        large_clients.update(bench.tls_clients(large))
        for name, runs in interleaved(bench, large_clients, args.runs_big).items():
            rows.append(("100 MB body", name, "MB/s", summary([100 / t for t, _ in runs])))
            rows.append(("100 MB body", name, "peak RSS MB", summary([r / 1024 for _, r in runs])))
        for name, runs in interleaved(bench, bench.clients(empty, recipients), args.runs_big).items():
            rows.append(("10,000 recipients", name, "ms", summary([t for t, _ in runs], 1000)))
        sizes = [("1 MB", 1000 * 1000)] + ([("1 GB", 1000 * 1000 * 1000)] if args.with_1g else [])
        for label, size in sizes:
            body = make_body(os.path.join(work, "mem.txt"), size)
            command, stdin = bench.clients(body)["RyMail"]
            rows.append(("%s body" % label, "RyMail", "peak RSS MB",
                         summary([bench.run_once(command, stdin)[1] / 1024 for _ in range(3)])))
            os.remove(body)
    finally:
        bench.close()
        shutil.rmtree(work, ignore_errors=True)

    header = "%-18s %-12s %-12s %s" % ("case", "client", "measure", "median (min-max)")
    lines = [header, "-" * len(header)] + ["%-18s %-12s %-12s %s" % row for row in rows]
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    with open(args.out, "w") as f:
        f.write("# bench/run.py, %s, %d cores\n" % (time.strftime("%Y-%m-%d"), os.cpu_count()) + text)


if __name__ == "__main__":
    main()
