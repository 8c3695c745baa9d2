#!/usr/bin/python3
"""Sends mail with RyMail through relays that want TLS and AUTH: aiosmtpd and
Postfix, on 587 (STARTTLS) and 465 (TLS from the first byte), with a throwaway
CA; aiosmtpd also takes OAuth2 bearer tokens (XOAUTH2, OAUTHBEARER). Checks
that what arrives is what was sent; that a wrong password or token, an
untrusted certificate or a missing STARTTLS ends the run with status 1 and
nothing delivered; that the password or token shows neither on the console
nor in the debug file. `--client curl` runs the same cases with curl, to prove
the relays.

Runs in a private network of its own; report and exit status as real_relays.py.
"""

import argparse
import base64
import logging
import os
import pwd
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import warnings

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import real_relays  # noqa: E402
from real_relays import enter_private_network, first_difference, postfix_stored, text_mode  # noqa: E402

USER, PASSWORD, WRONG = "alice", "open sesame:42", "open sesame:43"
TOKEN, WRONG_TOKEN = "ya29.a0Token-for_alice.Example42", "ya29.a0Token-for_alice.Expired43"
LONG_TOKEN = "eyJ" + "T" * (12 * 1024 - 3)  # an access token of 12 KB
TOKENS = (TOKEN, LONG_TOKEN)
# the relay's error report (RFC 7628 section 3.2.2), and what the client must answer it with
ERROR_REPORT = '{"status":"invalid_token","scope":"https://mail.example.com/","schemes":"bearer"}'
ERROR_ANSWER = {"XOAUTH2": b"", "OAUTHBEARER": b"\x01"}
SASL_DOMAIN = "relay.test.example"
BODY = b"First line of the message\n.a line with a leading dot\n.\n..two dots\nlast line\n"
FAIL_MARK = b"-RyMail-FAIL, "
REACHED = {"auth": "AUTH", "ehlo": "TLS handshake, no AUTH tried", "mail": "MAIL"}
# option word -> variable, for the cases that hand a setting over in the environment
VARIABLES = {"--port": "ryPort", "--tls": "ryTls", "--user": "ryUser", "--auth": "ryAuth"}


def case(name, **fields):
    c = dict(name=name, port=None, tls="starttls", mech=None, password=PASSWORD, via="env", trust="file",
             user=USER, sent=True, reached=None, by_variable=(), env={}, says=None)
    c.update(fields)
    return c


AIOSMTPD_CASES = [
    case("587 PLAIN, password file", port=587, mech="plain", via="file"),
    case("587 LOGIN, ryPassword, CA in env", port=587, mech="login", trust="env"),
    case("587 wrong password", port=587, password=WRONG, via="file", sent=False, reached="auth"),
    case("587 untrusted certificate", port=587, trust="system", sent=False, reached="ehlo"),
    case("465 default port and AUTH", tls="implicit"),
    case("465 LOGIN, --tls-verify off", port=465, tls="implicit", mech="login", trust="off"),
    case("465 wrong password", port=465, tls="implicit", mech="login", password=WRONG, sent=False, reached="auth"),
    case("587 XOAUTH2, token from a command", port=587, mech="xoauth2", password=TOKEN, via="command"),
    case("587 OAUTHBEARER, 12 KB token file", port=587, mech="oauthbearer", password=LONG_TOKEN, via="file"),
    case("587 XOAUTH2, expired token", port=587, mech="xoauth2", password=WRONG_TOKEN, sent=False, reached="auth",
         says=b"(token status invalid_token)"),
    case("465 OAUTHBEARER, token in ryPassword", port=465, tls="implicit", mech="oauthbearer", password=TOKEN),
    case("465 OAUTHBEARER, expired token", port=465, tls="implicit", mech="oauthbearer", password=WRONG_TOKEN,
         via="command", sent=False, reached="auth", says=b"(token status invalid_token)"),
]
POSTFIX_CASES = [
    case("587 LOGIN, password file", port=587, mech="login", via="file"),
    case("587 wrong password", port=587, password=WRONG, sent=False, reached="auth"),
    case("587 without STARTTLS", port=587, tls="none", user=None, trust="system", sent=False, reached="mail"),
    # TLS, user and mechanism from variables only; --port must win over ryPort
    case("465 PLAIN, ry* variables", port=465, tls="implicit", mech="plain", by_variable=("--tls", "--user", "--auth"),
         env={"ryPort": "25"}),
    case("465 wrong password", port=465, tls="implicit", mech="login", password=WRONG, via="file", sent=False,
         reached="auth"),
]


def run(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, timeout=30, check=True, **kwargs)


def make_certificates(directory):
    """A test CA and a certificate for localhost and 127.0.0.1 that it signed."""
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    path = lambda name: os.path.join(directory, name)  # noqa: E731
    run(["openssl", "req", "-x509"] + ec + ["-keyout", path("ca.key"), "-out", path("ca.pem"), "-days", "2",
         "-subj", "/CN=RyMail Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
         "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
    run(["openssl", "req"] + ec + ["-keyout", path("server.key"), "-out", path("server.csr"), "-subj", "/CN=localhost"])
    with open(path("server.ext"), "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                "keyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n")
    run(["openssl", "x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
         "-CAcreateserial", "-days", "2", "-extfile", path("server.ext"), "-out", path("server.pem")])
    return path("ca.pem"), path("server.pem"), path("server.key")


def listening(ports, seconds=10):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            for port in ports:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def bearer(mechanism, user, token, port):
    """What XOAUTH2 and OAUTHBEARER send, before Base64."""
    if mechanism == "XOAUTH2":
        return "user=%s\x01auth=Bearer %s\x01\x01" % (user, token)
    return "n,a=%s,\x01host=localhost\x01port=%d\x01auth=Bearer %s\x01\x01" % (user, port, token)


def secrets(user, password):
    """The password as it may leak: as is, and as AUTH LOGIN, AUTH PLAIN, XOAUTH2 and OAUTHBEARER carry it."""
    b64 = lambda text: base64.b64encode(text.encode()).decode()  # noqa: E731
    return [password, b64(password), b64("\0%s\0%s" % (user, password)), b64("%s\0%s\0%s" % (user, user, password)),
            b64(bearer("XOAUTH2", user, password, 0))] + [b64(bearer("OAUTHBEARER", user, password, port))
                                                          for port in (587, 465)]


class Submitter(real_relays.Runner):
    """Runs one case with RyMail, or with curl when the relays themselves are under test."""

    def __init__(self, client, program, work, ca):
        super().__init__(program, work)
        self.client, self.ca = client, ca
        self.wire_body = text_mode(BODY).replace(b"\n", b"\r\n") + b"\r\n"

    def send(self, c):
        """Returns (exit status, what it printed, its debug file)."""
        debug = os.path.join(self.work, "debug.txt")
        if os.path.exists(debug):
            os.remove(debug)
        env = {"TZ": "UTC", "ORGANIZATION": "Example Org"}
        if c["trust"] == "env":
            env["SSL_CERT_FILE"] = self.ca
        argv = self.rymail_argv(c, env, debug) if self.client == "rymail" else self.curl_argv(c)
        try:
            done = subprocess.run(argv, capture_output=True, timeout=15, env=env)
            status, output = done.returncode, done.stdout + done.stderr
        except subprocess.TimeoutExpired as hung:
            status, output = -9, (hung.stdout or b"") + b" (killed after 15 s)"
        with open(debug, "ab+") as f:
            f.seek(0)
            return status, output, f.read()

    def rymail_argv(self, c, env, debug):
        body = os.path.join(self.work, "body.txt")
        with open(body, "wb") as f:
            f.write(BODY)
        argv = [self.rymail, "-g", "localhost", "-h", "client.example.com", "-i", body, "-f", "sender@example.com",
                "-t", "alice@example.com", "-s", "Submission test", "-d", debug]
        settings = {"--port": c["port"] and str(c["port"]), "--tls": c["tls"] if c["tls"] != "none" else None,
                    "--user": c["user"], "--auth": c["mech"]}
        for option, value in settings.items():
            if value and option in c["by_variable"]:
                env[VARIABLES[option]] = value
            elif value:
                argv += [option, value]
        if c["trust"] == "file":
            argv += ["--ca-file", self.ca]
        elif c["trust"] == "off":
            argv += ["--tls-verify", "off"]
        if c["user"] and c["via"] == "file":
            path = os.path.join(self.work, "password.txt")
            with open(path, "w") as f:
                f.write(c["password"] + "\nthe first line is the password, not this one\n")
            argv += ["--password-file", path]
        elif c["user"] and c["via"] == "command":
            argv += ["--password-command", "echo " + c["password"]]  # the same in sh and cmd.exe
        elif c["user"]:
            env["ryPassword"] = c["password"]
        env.update(c["env"])
        return argv

    def curl_argv(self, c):
        message = os.path.join(self.work, "message.txt")
        with open(message, "wb") as f:
            f.write(b"From: <sender@example.com>\r\nTo: <alice@example.com>\r\nSubject: Submission test\r\n\r\n"
                    + self.wire_body)
        scheme = "smtps" if c["tls"] == "implicit" else "smtp"
        url = "%s://localhost%s/client.example.com" % (scheme, ":%d" % c["port"] if c["port"] else "")
        argv = ["curl", "-sS", "--max-time", "20", "--url", url, "--mail-from", "sender@example.com",
                "--mail-rcpt", "alice@example.com", "--upload-file", message]
        if c["tls"] == "starttls":
            argv.append("--ssl-reqd")
        argv += {"file": ["--cacert", self.ca], "off": ["--insecure"]}.get(c["trust"], [])
        if c["user"] and c["mech"] in ("xoauth2", "oauthbearer"):
            argv += ["--user", c["user"] + ":", "--oauth2-bearer", c["password"]]
        elif c["user"]:
            argv += ["--user", "%s:%s" % (c["user"], c["password"])]
        if c["mech"]:
            argv += ["--login-options", "AUTH=" + c["mech"].upper()]
        return argv


def run_case(runner, relay, c):
    relay.clear()
    status, output, debug = runner.send(c)
    got = relay.delivered(c["sent"] and status == 0)  # waits for the queue only when delivery is due
    problems = []
    rymail = runner.client == "rymail"
    if c["sent"]:
        if status != 0 or (rymail and not output.endswith(real_relays.SENT_LINE)):
            problems.append("exit %d, %r" % (status, output[-200:]))
        want = (c["mech"] or "plain").upper()
        if len(got) != 1:
            problems.append("%d copies delivered" % len(got))
        else:
            problems += relay.check(got[0], runner.wire_body)
            if relay.mechanisms() != [want]:
                problems.append("AUTH %s, want %s" % ("/".join(relay.mechanisms()) or "none", want))
        what = "sent, delivered, identical, AUTH " + want
    else:
        if status == 0 or (rymail and (status != 1 or FAIL_MARK not in output)):
            problems.append("exit %d, %r" % (status, output[-200:]))
        if rymail and c["says"] and c["says"] not in output:
            problems.append("%r not said: %r" % (c["says"], output[-200:]))
        if got:
            problems.append("%d copies delivered" % len(got))
        # a refusal counts only when the client got as far as the step that must fail
        problems += relay.reached(c["reached"])
        what = "refused at %s, exit %d, nothing delivered" % (REACHED[c["reached"]], status)
    if rymail and not debug:
        problems.append("no debug file written")
    if c["user"]:
        leaked = [s for s in secrets(c["user"], c["password"]) if s.encode() in output or s.encode() in debug]
        problems += ["the password shows as %r" % s for s in leaked]
    runner.report(relay.name, c["name"], problems, what)


# ---------------------------------------------------------------- aiosmtpd

class Aiosmtpd:
    """aiosmtpd relays in this process; keeps every message's raw bytes and every AUTH tried."""
    name = "aiosmtpd"

    def __init__(self):
        self.messages, self.auths, self.ehlos = [], [], 0
        self.problems = []  # what a bearer exchange got wrong

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        from aiosmtpd.smtp import AuthResult
        good = (auth_data.login, auth_data.password) == (USER.encode(), PASSWORD.encode())
        self.auths.append((mechanism, good))
        # handled=False: aiosmtpd answers 535 itself; with True it would send nothing and the client would wait
        return AuthResult(success=good, handled=False, auth_data=auth_data if good else None)

    async def auth_XOAUTH2(self, server, args):
        return await self.bearer_token(server, args, "XOAUTH2")

    async def auth_OAUTHBEARER(self, server, args):
        return await self.bearer_token(server, args, "OAUTHBEARER")

    async def bearer_token(self, server, args, mechanism):
        """The challenge form: an empty 334, the credentials; a wrong token gets the error report, whose answer
        must be exactly ERROR_ANSWER before the 535."""
        from aiosmtpd.smtp import MISSING, AuthResult, LoginPassword
        if len(args) > 1:
            self.problems.append("%s sent with an initial response" % mechanism)
            return AuthResult(success=False, handled=False)
        response = await server.challenge_auth("")
        if response is MISSING:
            return AuthResult(success=False, handled=True)  # aiosmtpd has answered already
        port = server.transport.get_extra_info("sockname")[1]
        good = any(response == bearer(mechanism, USER, token, port).encode() for token in TOKENS)
        self.auths.append((mechanism, good))
        if good:
            return AuthResult(success=True, handled=False, auth_data=LoginPassword(USER.encode(), b""))
        answer = await server.challenge_auth(ERROR_REPORT)
        if answer is MISSING:
            return AuthResult(success=False, handled=True)
        if answer != ERROR_ANSWER[mechanism]:
            self.problems.append("%s error report answered with %r" % (mechanism, answer))
        # handled=False: aiosmtpd answers 535 itself, as it must after the error report
        return AuthResult(success=False, handled=False)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        self.ehlos += 1
        return responses

    async def handle_DATA(self, server, session, envelope):
        secure = server.transport.get_extra_info("ssl_object") is not None
        self.messages.append((envelope.original_content, secure and session.authenticated))
        return "250 OK"

    def clear(self):
        self.messages.clear()
        self.auths.clear()
        self.problems.clear()
        self.ehlos = 0

    def delivered(self, expected):
        return list(self.messages)  # stored before aiosmtpd answers the final dot

    def check(self, message, wire_body):
        raw, secure = message
        body = raw.partition(b"\r\n\r\n")[2]
        problems = list(self.problems) + ([] if secure else ["received outside TLS or without AUTH"])
        return problems + ([] if body == wire_body else [first_difference(body, wire_body)])

    def mechanisms(self):
        return [m for m, good in self.auths if good]

    def reached(self, step):
        if step == "auth":
            return list(self.problems) + ([] if self.auths else ["no AUTH was tried"])
        if self.auths:
            return ["AUTH was tried over an unverified connection"]
        return [] if self.ehlos == 1 else ["%d EHLO seen, want 1" % self.ehlos]


def aiosmtpd_cases(runner, server_pem, server_key):
    import ssl
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import SMTP

    class LongLines(SMTP):
        # a 12 KB token's response line is 16 KB; aiosmtpd refuses any over 1,001 bytes by default
        line_length_limit = 32 * 1024

    class LongLineController(Controller):
        def factory(self):
            return LongLines(self.handler, **self.SMTP_kwargs)
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)  # refused handshakes are expected here
    warnings.filterwarnings("ignore", "Requiring AUTH while not requiring TLS")
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(server_pem, server_key)
    relay = Aiosmtpd()
    common = dict(hostname="127.0.0.1", server_hostname=SASL_DOMAIN, authenticator=relay.authenticate,
                  auth_required=True)
    # on 465 the connection is TLS before aiosmtpd sees it, so it offers AUTH only when not told to wait for STARTTLS
    for port, kwargs in ((587, dict(tls_context=context, require_starttls=True, auth_require_tls=True)),
                         (465, dict(ssl_context=context, auth_require_tls=False))):
        controller = LongLineController(relay, port=port, **common, **kwargs)
        controller.start()
        try:
            for c in AIOSMTPD_CASES:
                if (c["port"] or 465) == port:
                    run_case(runner, relay, c)
        finally:
            controller.stop()


# ---------------------------------------------------------------- Postfix

SUBMISSION_SERVICES = """\
587       inet  n       -       n       -       -       smtpd
  -o smtpd_tls_security_level=encrypt
465       inet  n       -       n       -       -       smtpd
  -o smtpd_tls_wrappermode=yes
  -o smtpd_tls_security_level=encrypt
tlsmgr    unix  -       -       n       1000?   1       tlsmgr"""


class SubmissionPostfix(real_relays.Postfix):
    """real_relays.py's Postfix, listening on 587 and 465 only, with TLS and Cyrus SASL from a sasldb;
    only an authenticated client may send."""
    name = "postfix"

    def __init__(self, root, server_pem, server_key):
        super().__init__(root)
        main_cf = os.path.join(self.conf, "main.cf")
        with open(main_cf) as f:
            settings = dict(line.rstrip("\n").split(" = ", 1) for line in f)
        sasl = os.path.join(self.conf, "sasl")
        settings.update({
            "mynetworks": "",
            "smtpd_relay_restrictions": "permit_sasl_authenticated, reject",
            "smtpd_tls_cert_file": server_pem,
            "smtpd_tls_key_file": server_key,
            "smtpd_tls_auth_only": "yes",
            "smtpd_sasl_auth_enable": "yes",
            "smtpd_sasl_local_domain": SASL_DOMAIN,
            "smtpd_sasl_authenticated_header": "yes",
            "cyrus_sasl_config_path": sasl,
        })
        with open(main_cf, "w") as f:
            f.writelines("%s = %s\n" % item for item in settings.items())
        with open(os.path.join(self.conf, "master.cf"), "w") as f:
            f.write(real_relays.MASTER_CF.format(smtp=SUBMISSION_SERVICES))
        os.makedirs(sasl)
        sasldb = os.path.join(root, "sasldb2")
        with open(os.path.join(sasl, "smtpd.conf"), "w") as f:
            f.write("pwcheck_method: auxprop\nauxprop_plugin: sasldb\nsasldb_path: %s\n"
                    "mech_list: PLAIN LOGIN\n" % sasldb)
        run(["saslpasswd2", "-c", "-p", "-f", sasldb, "-u", SASL_DOMAIN, USER], input=PASSWORD.encode())
        user = pwd.getpwnam("postfix")
        os.chown(sasldb, user.pw_uid, user.pw_gid)
        os.chmod(sasldb, 0o600)
        self.log = os.path.join(root, "postfix.log")
        self.log_seen = 0

    def __enter__(self):
        check = subprocess.run(["postfix", "-c", self.conf, "check"], capture_output=True, timeout=30)
        if check.returncode != 0:
            raise RuntimeError("postfix check: %r" % (check.stdout + check.stderr))
        run(["postfix", "-c", self.conf, "start"])
        if not listening((587, 465)):
            self.__exit__()
            raise RuntimeError("Postfix did not listen on 127.0.0.1:587 and :465")
        return self

    def clear(self):
        super().clear()
        self.log_seen = os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def delivered(self, expected):
        if expected:
            return super().delivered(["alice"])["alice"]
        self.settled()
        return super().delivered(["alice"], seconds=0)["alice"]

    def check(self, message, wire_body):
        head, _, body = message.partition(b"\n\n")
        want = postfix_stored(text_mode(BODY)) + b"\n"
        problems = [] if body == want else [first_difference(body, want)]
        sender = ("(Authenticated sender: %s@%s)" % (USER, SASL_DOMAIN)).encode()
        if b"with ESMTPSA" not in head or sender not in head:
            problems.append("the Received header shows no TLS and AUTH")
        return problems

    def _log(self, pattern, seconds):
        """What this case logged so far matching pattern; postlogd writes a little later."""
        deadline = time.time() + seconds
        while True:
            found = []
            if os.path.exists(self.log):  # never made here: postlogd makes it
                with open(self.log, "rb") as f:
                    f.seek(self.log_seen)
                    found = re.findall(pattern, f.read())
            if found or time.time() > deadline:
                return found
            time.sleep(0.05)

    def mechanisms(self):
        return [m.decode() for m in self._log(rb"sasl_method=(\w+)", 3)]

    def reached(self, step):
        if step == "auth":
            return [] if self._log(rb"SASL \w+ authentication failed", 3) else ["no AUTH was tried"]
        return [] if self._log(rb"disconnect from .* mail=0/1", 3) else ["no refused MAIL in the Postfix log"]


def postfix_cases(runner, root, server_pem, server_key):
    with SubmissionPostfix(os.path.join(root, "postfix"), server_pem, server_key) as postfix:
        for c in POSTFIX_CASES:
            run_case(runner, postfix, c)


def really_root():
    """Root outside the private network's user namespace too (not root mapped from someone else)."""
    with open("/proc/self/uid_map") as f:
        return os.geteuid() == 0 and f.read().split()[:2] == ["0", "0"]


def guarded(runner, relay, cases, *arguments):
    """Runs a relay's cases; a relay that does not start is one failed case, not a traceback."""
    try:
        cases(*arguments)
    except (OSError, RuntimeError, subprocess.SubprocessError) as error:
        detail = getattr(error, "stderr", None) or b""
        runner.report(relay, "relay start", ["%s %s" % (error, detail.decode(errors="replace")[-300:])])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rymail", help="the RyMail binary under test")
    parser.add_argument("--client", choices=("rymail", "curl"), default="rymail",
                        help="curl: try the relays with curl instead of RyMail")
    parser.add_argument("--report", help="also write the report to this file")
    args = parser.parse_args()
    if args.client == "rymail" and not args.rymail:
        parser.error("--rymail PATH is needed unless --client curl")
    enter_private_network()
    begun = time.time()

    work = tempfile.mkdtemp(prefix="rymail-submission-")
    os.chmod(work, 0o755)
    must_run = os.environ.get("CI") is not None
    runner = Submitter(args.client, args.rymail and os.path.abspath(args.rymail), work, None)
    try:
        missing = [tool for tool in ["openssl"] + ["curl"] * (args.client == "curl") if not shutil.which(tool)]
        if missing:
            runner.report("all", "prerequisites", ["%s is missing" % " and ".join(missing)])
            return 1
        runner.ca, server_pem, server_key = make_certificates(work)
        if really_root() and shutil.which("postfix") and shutil.which("saslpasswd2"):
            guarded(runner, "postfix", postfix_cases, runner, work, server_pem, server_key)
        elif must_run:
            runner.report("postfix", "all cases", ["postfix or saslpasswd2 (sasl2-bin) is missing, or not root"])
        else:
            runner.say("postfix   skipped (needs root and the postfix, sasl2-bin, libsasl2-modules packages)")
        try:
            import aiosmtpd  # noqa: F401
        except ImportError:
            if must_run:
                runner.report("aiosmtpd", "all cases", ["python3-aiosmtpd is missing"])
            else:
                runner.say("aiosmtpd  skipped (needs python3-aiosmtpd)")
        else:
            guarded(runner, "aiosmtpd", aiosmtpd_cases, runner, server_pem, server_key)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        runner.say("client %s, %.1f s" % (args.client, time.time() - begun))
    return runner.finish(args.report)


if __name__ == "__main__":
    sys.exit(main())
