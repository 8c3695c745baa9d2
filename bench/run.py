#!/usr/bin/python3
"""Benchmarks RyMail against a minimal raw client of the same dialogue and,
where installed, curl and msmtp, all sending to the fast sink on
127.0.0.1:25 in a private network namespace: on loopback, and through a
delayed link (bench/delayed_link.py) on 127.0.0.2:25 whose round trip is
--round-trip-ms, and through a name whose first address never answers. Prints a table of medians with min-max and writes it to a
file. A benchmark, not a test: nothing fails on a timing, but every message
must reach the sink whole.

    bench/run.py [--build build/default] [--build-no-tls build/notls] [--out bench/results.txt]
                 [--runs-1k 200] [--with-1g] [--round-trip-ms 50] [--recipient-options "..."]
"""

import argparse
import os
import shlex
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from private_network import enter_private_network  # noqa: E402
from delayed_link import DelayedLink  # noqa: E402

SENDER, RECIPIENT = "bench@example.com", "sink@example.com"
LOOPBACK, DELAYED = "127.0.0.1", "127.0.0.2"  # the sink, and the delayed link to it
CEILING_PORT = 2526  # the sink that parses nothing


GROUP = 100  # the commands RyMail pipelines at once


def round_trips(recipients, tls_auth=False, pipelined=False):
    """The round trips RyMail's dialogue needs: the connection and greeting
    (2), HELO or EHLO, MAIL and each RCPT (one at a time, or pipelined in
    groups of GROUP commands), DATA, the end of data, QUIT; with STARTTLS and
    AUTH also STARTTLS, the TLS 1.3 handshake, EHLO again and AUTH PLAIN with
    its response."""
    envelope = -(-(1 + recipients) // GROUP) if pipelined else 1 + recipients
    return 2 + 1 + envelope + 3 + (4 if tls_auth else 0)


def says_ehlo(options):
    """Whether RyMail, given these options, says EHLO on a plain connection (and so pipelines)."""
    return any(a == "--ehlo" and b == "on" for a, b in zip(options, options[1:]))


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
                        "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:127.0.0.2",
                        "-days", "2", "-keyout", self.certificate, "-out", self.certificate + ".crt"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(self.certificate, "a") as key, open(self.certificate + ".crt") as crt:
            key.write(crt.read())
        self.password = os.path.join(work, "password")
        with open(self.password, "w") as f:
            f.write("bench-secret\n")
        sink = os.path.join(build, "bench", "rymail_sink")
        self.sinks = [subprocess.Popen([sink, self.stats, self.certificate]),
                      subprocess.Popen([sink, self.stats, "--discard", str(CEILING_PORT)])]
        for port in (25, CEILING_PORT):
            deadline = time.time() + 10
            while time.time() < deadline:
                try:
                    socket.create_connection((LOOPBACK, port), timeout=1).close()
                    break
                except OSError:
                    time.sleep(0.02)
        time.sleep(0.1)
        self.seen = self._stat_lines()

    def close(self):
        for sink in self.sinks:
            sink.terminate()
            sink.wait()

    def _stat_lines(self):
        with open(self.stats) as f:
            return f.read().split("\n")[:-1]

    def clients(self, body, recipients=None, host=LOOPBACK, rymail_options=()):
        """The command of each client for one message; recipients is a file of addresses."""
        rymail = [os.path.join(self.build, "RyMail"), "-f", SENDER, "-g", host, "-h", "bench.example.com",
                  "-s", "bench", "-i", body]
        rymail += (["-l", recipients] if recipients else ["-t", RECIPIENT]) + list(rymail_options)
        raw = [os.path.join(self.build, "bench", "rymail_raw_client"), host, SENDER]
        raw += [recipients, RECIPIENT, body] if recipients else ["-t", RECIPIENT, body]
        rcpts = open(recipients).read().split() if recipients else [RECIPIENT]
        out = {"RyMail": (rymail, None), "raw client": (raw, None)}
        if shutil.which("curl"):
            curl = ["curl", "-s", "smtp://%s:25" % host, "--mail-from", SENDER, "--upload-file", body, "--crlf"]
            for r in rcpts:
                curl += ["--mail-rcpt", r]
            out["curl"] = (curl, None)
        if shutil.which("msmtp"):
            out["msmtp"] = (["msmtp", "--host=" + host, "--port=25", "--auth=off", "--tls=off",
                             "--from=" + SENDER] + rcpts, body)
        return out

    def tls_clients(self, body, host=LOOPBACK, auth=False):
        """The same message through STARTTLS (and with auth, AUTH PLAIN), for the clients that can."""
        rymail = self.clients(body, host=host)["RyMail"][0] + ["--tls", "starttls", "--ca-file", self.certificate + ".crt"]
        if auth:
            rymail += ["--user", "bench", "--password-file", self.password]
        out = {"RyMail TLS": (rymail, None)}
        if shutil.which("curl"):
            curl = ["curl", "-s", "smtp://%s:25" % host, "--ssl-reqd", "--cacert", self.certificate + ".crt",
                    "--mail-from", SENDER, "--mail-rcpt", RECIPIENT, "--upload-file", body, "--crlf"]
            if auth:
                # The initial response on the AUTH line, as RyMail sends it: one round trip.
                curl += ["--user", "bench:bench-secret", "--login-options", "AUTH=PLAIN", "--sasl-ir"]
            out["curl TLS"] = (curl, None)
        if auth and shutil.which("msmtp"):
            out["msmtp TLS"] = (["msmtp", "--host=" + host, "--port=25", "--tls=on", "--tls-starttls=on",
                                 "--tls-trust-file=" + self.certificate + ".crt", "--auth=plain", "--user=bench",
                                 "--passwordeval=echo bench-secret", "--from=" + SENDER, RECIPIENT], body)
        return out

    def system_store_clients(self, body):
        """RyMail through STARTTLS with no --ca-file: the sink's certificate found in a hashed directory
        (SSL_CERT_DIR), and in a copy of the system's bundle that OpenSSL reads whole (SSL_CERT_FILE)."""
        directory = os.path.join(self.work, "hashed")
        bundle = os.path.join(self.work, "bundle.pem")
        if not os.path.isdir(directory):
            os.mkdir(directory)
            shutil.copy(self.certificate + ".crt", directory)
            subprocess.run(["openssl", "rehash", directory], check=True, stdout=subprocess.DEVNULL)
            with open(bundle, "w") as out, open(self.certificate + ".crt") as own:
                with open("/etc/ssl/certs/ca-certificates.crt") as system:
                    out.write(system.read())
                out.write(own.read())
        rymail = self.clients(body)["RyMail"][0] + ["--tls", "starttls"]
        return {"hashed dir": (rymail, None, {"SSL_CERT_DIR": directory}),
                "whole bundle": (rymail, None, {"SSL_CERT_FILE": bundle, "SSL_CERT_DIR": directory + "/none"})}

    def ceiling(self, size):
        """The raw client sending size bytes from memory to the sink that parses nothing."""
        raw = os.path.join(self.build, "bench", "rymail_raw_client")
        return {"ceiling": ([raw, "--ceiling", LOOPBACK, str(CEILING_PORT), str(size)], None)}

    def run_once(self, command, stdin_path, message=True, env=None):
        """Runs one client, with the environment entries in env; returns (seconds, peak RSS in KiB). Fails
        when the sink did not get it whole (or, when no message is due, when the client failed)."""
        stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
        result = os.path.join(self.work, "measure.txt")
        # The system's trust store as OpenSSL finds it by itself, whatever the caller's environment names.
        environment = {k: v for k, v in os.environ.items() if k not in ("SSL_CERT_FILE", "SSL_CERT_DIR")}
        environment.update(env or {})
        subprocess.run([os.path.join(self.build, "bench", "rymail_measure"), result] + command, stdin=stdin,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, env=environment)
        if stdin_path:
            stdin.close()
        with open(result) as f:
            status, took, peak = f.read().split()
        lines = self._stat_lines()
        new, self.seen = lines[len(self.seen):], lines
        if not message and status == "0" and not new:
            return float(took), int(peak)
        if status != "0" or len(new) != 1 or not new[0].endswith("whole"):
            raise SystemExit("%s: exit %s, sink saw %r" % (command[0], status, new))
        return float(took), int(peak)


def dead_first_address_rows(bench, args, work, rows, limit=20):
    """Seconds to deliver through a name whose first address never answers (a
    listener that never accepts, its queue full) and whose second is the sink.
    A client that has not delivered within limit seconds is stopped, and its
    row says so."""
    # An address of lo of its own ties with 127.0.0.1 in glibc's sort, which then keeps the hosts file's order.
    subprocess.run(["ip", "addr", "add", "127.0.0.3/32", "dev", "lo"], check=True)
    silent = socket.socket()
    silent.bind(("127.0.0.3", 25))
    silent.listen(0)
    filler = socket.create_connection(("127.0.0.3", 25))
    hosts = os.path.join(work, "hosts")
    with open(hosts, "w") as f:
        f.write("127.0.0.1 localhost\n127.0.0.3 relay.bench\n127.0.0.1 relay.bench\n")
    private_hosts = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                     'mount --bind "$0" /etc/hosts && exec timeout %d "$@"' % limit, hosts]
    body = make_body(os.path.join(work, "dead-first.txt"), 1024)
    clients = bench.clients(body, host="relay.bench")
    for name in ("RyMail", "curl", "msmtp"):
        if name not in clients:
            continue
        command, stdin = clients[name]
        times = []
        for _ in range(args.runs_big):
            try:
                times.append(bench.run_once(private_hosts + command, stdin)[0])
            except SystemExit:
                break
        took = summary(times, 1, 2) if len(times) == args.runs_big else "none within %d s" % limit
        rows.append(("dead 1st address", name, "s to deliver", took))
    filler.close()
    silent.close()
    os.remove(body)
    subprocess.run(["ip", "addr", "del", "127.0.0.3/32", "dev", "lo"], check=True)

def interleaved(bench, clients, runs):
    """Runs every client once per round, so that drift in the machine's speed
    falls on all of them alike. Returns {client: [(seconds, peak KiB)]}."""
    results = {name: [] for name in clients}
    for _ in range(runs):
        for name, (command, stdin, *env) in clients.items():
            results[name].append(bench.run_once(command, stdin, env=env[0] if env else None))
    return results


def summary(values, scale=1.0, digits=1):
    v = [x * scale for x in values]
    fmt = "%%.%df" % digits
    return (fmt + " (" + fmt + "-" + fmt + ")") % (statistics.median(v), min(v), max(v))


def ratio(numerator, denominator):
    return "%.2f" % (statistics.median(numerator) / statistics.median(denominator))


def loopback_rows(bench, args, work, rows):
    small = make_body(os.path.join(work, "1k.txt"), 1024)
    size = 100 * 1000 * 1000
    large = make_body(os.path.join(work, "100m.txt"), size)
    recipients = os.path.join(work, "rcpt.txt")
    with open(recipients, "w") as f:
        f.writelines("user%05d@example.com\n" % i for i in range(10000))
    empty = make_body(os.path.join(work, "empty.txt"), 0)

    small_clients = bench.clients(small)
    small_clients["raw+lookups"] = (small_clients["raw client"][0] + ["lookups"], None)
    if args.build_no_tls:
        small_clients["RyMail no TLS"] = ([os.path.join(args.build_no_tls, "RyMail")] + small_clients["RyMail"][0][1:],
                                          None)
    small_runs = interleaved(bench, small_clients, args.runs_1k)
    for name, runs in small_runs.items():
        rows.append(("1 KB message", name, "ms/message", summary([t for t, _ in runs], 1000, 2)))
    for name in ("RyMail", "RyMail no TLS", "raw client"):
        if name in small_runs:
            rows.append(("1 KB message", name, "peak RSS MB", summary([r / 1024 for _, r in small_runs[name]], 1, 2)))
    rows.append(("1 KB message", "RyMail", "x raw+lookups",
                 ratio([t for t, _ in small_runs["RyMail"]], [t for t, _ in small_runs["raw+lookups"]])))

    store_runs = interleaved(bench, bench.system_store_clients(small), max(args.runs_1k // 4, 1))
    for name, runs in store_runs.items():
        rows.append(("1 KB STARTTLS", name, "ms/message", summary([t for t, _ in runs], 1000, 2)))
        rows.append(("1 KB STARTTLS", name, "peak RSS MB", summary([r / 1024 for _, r in runs], 1, 2)))

    help_clients = {"RyMail": ([os.path.join(bench.build, "RyMail"), "-H"], None)}
    if args.build_no_tls:
        help_clients["RyMail no TLS"] = ([os.path.join(args.build_no_tls, "RyMail"), "-H"], None)
    help_runs = {name: [] for name in help_clients}
    for _ in range(args.runs_1k):
        for name, (command, stdin) in help_clients.items():
            help_runs[name].append(bench.run_once(command, stdin, message=False))
    for name, runs in help_runs.items():
        rows.append(("help (-H)", name, "ms", summary([t for t, _ in runs], 1000, 2)))
        rows.append(("help (-H)", name, "peak RSS MB", summary([r / 1024 for _, r in runs], 1, 2)))

    large_clients = bench.clients(large)
    large_clients.update(bench.tls_clients(large))
    large_clients.update(bench.ceiling(size * 71 // 70))  # the body's bytes on the wire, CRs included
    large_runs = interleaved(bench, large_clients, args.runs_big)
    for name, runs in large_runs.items():
        rows.append(("100 MB body", name, "MB/s", summary([100 / t for t, _ in runs])))
        if name != "ceiling":
            rows.append(("100 MB body", name, "peak RSS MB", summary([r / 1024 for _, r in runs])))
    rates = {name: [100 / t for t, _ in runs] for name, runs in large_runs.items()}
    rows.append(("100 MB body", "RyMail", "x ceiling", ratio(rates["RyMail"], rates["ceiling"])))
    rows.append(("100 MB body", "RyMail TLS", "x plain", ratio(rates["RyMail TLS"], rates["RyMail"])))

    recipient_clients = bench.clients(empty, recipients, rymail_options=args.recipient_options)
    for name, runs in interleaved(bench, recipient_clients, args.runs_big).items():
        rows.append(("10,000 recipients", name, "ms", summary([t for t, _ in runs], 1000)))
    sizes = [("1 MB", 1000 * 1000)] + ([("1 GB", 1000 * 1000 * 1000)] if args.with_1g else [])
    for label, size in sizes:
        body = make_body(os.path.join(work, "mem.txt"), size)
        command, stdin = bench.clients(body)["RyMail"]
        rows.append(("%s body" % label, "RyMail", "peak RSS MB",
                     summary([bench.run_once(command, stdin)[1] / 1024 for _ in range(3)])))
        os.remove(body)
    for path in (small, large, recipients, empty):
        os.remove(path)


def delayed_rows(bench, args, work, rows):
    """Every row's clients through the delayed link, with the round-trip floor
    of the dialogue and each client's ratio to it."""
    round_trip = args.round_trip_ms / 1000.0
    label = "%g ms" % args.round_trip_ms
    small = make_body(os.path.join(work, "1k.txt"), 1024)
    empty = make_body(os.path.join(work, "empty.txt"), 0)
    cases = []
    plain = bench.clients(small, host=DELAYED)
    cases.append(("1 KB, " + label, {n: plain[n] for n in plain if n != "raw client"}, round_trips(1),
                  args.runs_delayed, {}))
    cases.append(("1 KB TLS+AUTH, " + label, bench.tls_clients(small, host=DELAYED, auth=True),
                  round_trips(1, tls_auth=True, pipelined=True), args.runs_delayed, {}))
    for count in args.delayed_recipients:
        runs = args.runs_delayed if count <= 1000 else 1
        recipients = os.path.join(work, "rcpt%d.txt" % count)
        with open(recipients, "w") as f:
            f.writelines("user%05d@example.com\n" % i for i in range(count))
        clients = bench.clients(empty, recipients, host=DELAYED, rymail_options=args.recipient_options)
        chosen = {n: clients[n] for n in clients if n != "raw client"}
        trips = round_trips(count, pipelined=says_ehlo(args.recipient_options))
        own_trips = {}
        if says_ehlo(args.recipient_options):
            # With "continue" DATA goes in the last group: one round trip less, as msmtp does.
            chosen["RyMail continue"] = bench.clients(empty, recipients, host=DELAYED,
                                                      rymail_options=args.recipient_options +
                                                      ["--on-refused", "continue"])["RyMail"]
            own_trips["RyMail continue"] = trips - 1
        cases.append(("{:,} rcpt, ".format(count) + label, chosen, trips, runs, own_trips))
        # One command at a time beside it, where that takes seconds rather than minutes.
        if says_ehlo(args.recipient_options) and count <= 100:
            lockstep = bench.clients(empty, recipients, host=DELAYED, rymail_options=[])["RyMail"]
            cases.append(("{:,} rcpt lock-step, ".format(count) + label, {"RyMail": lockstep},
                          round_trips(count), runs, {}))
    with DelayedLink((DELAYED, 25), (LOOPBACK, 25), round_trip):
        for case, clients, trips, runs, own_trips in cases:
            floor = trips * round_trip
            rows.append((case, "floor", "ms", "%.0f (%d round trips)" % (floor * 1000, trips)))
            for name, results in interleaved(bench, clients, runs).items():
                times = [t for t, _ in results]
                rows.append((case, name, "ms", summary(times, 1000)))
                if name in own_trips:
                    # A client whose dialogue needs fewer round trips is measured against its own floor.
                    own = own_trips[name] * round_trip
                    rows.append((case, name, "floor ms", "%.0f (%d round trips)" % (own * 1000, own_trips[name])))
                    rows.append((case, name, "x own floor", "%.3f" % (statistics.median(times) / own)))
                else:
                    rows.append((case, name, "x floor", "%.3f" % (statistics.median(times) / floor)))


def main():
    parser = argparse.ArgumentParser()
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--build", default=os.path.join(here, "..", "build", "default"))
    parser.add_argument("--build-no-tls", help="a build with -DRYMAIL_TLS=OFF, for its RyMail's time and memory")
    parser.add_argument("--out", default=os.path.join(here, "results.txt"))
    parser.add_argument("--runs-1k", type=int, default=200)
    parser.add_argument("--runs-big", type=int, default=5)
    parser.add_argument("--runs-delayed", type=int, default=5, help="runs of each delayed row")
    parser.add_argument("--round-trip-ms", type=float, default=50)
    parser.add_argument("--recipient-options", type=shlex.split, default=["--ehlo", "on"],
                        help="RyMail's options for the recipient rows (default \"--ehlo on\": EHLO, so pipelined; "
                             "\"\" for HELO, one command at a time)")
    parser.add_argument("--delayed-recipients", type=lambda text: [int(n) for n in text.split(",")],
                        default=[1, 100, 10000],
                        help="recipient counts of the delayed rows; over 1,000 they run once")
    parser.add_argument("--no-delayed", action="store_true", help="the loopback rows only")
    parser.add_argument("--with-1g", action="store_true", help="also measure RyMail's memory on a 1 GB body")
    args = parser.parse_args()
    if args.build_no_tls:
        args.build_no_tls = os.path.abspath(args.build_no_tls)
    enter_private_network()

    work = tempfile.mkdtemp(prefix="rymail-bench-")
    bench = Bench(os.path.abspath(args.build), work)
    rows = []
    try:
        loopback_rows(bench, args, work, rows)
        if not args.no_delayed:
            delayed_rows(bench, args, work, rows)
        dead_first_address_rows(bench, args, work, rows)
    finally:
        bench.close()
        shutil.rmtree(work, ignore_errors=True)

    header = "%-25s %-15s %-13s %s" % ("case", "client", "measure", "median (min-max)")
    lines = [header, "-" * len(header)] + ["%-25s %-15s %-13s %s" % row for row in rows]
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    with open(args.out, "w") as f:
        f.write("# bench/run.py, %s, %d cores\n" % (time.strftime("%Y-%m-%d"), os.cpu_count()) + text)


if __name__ == "__main__":
    main()
