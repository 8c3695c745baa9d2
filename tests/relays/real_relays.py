#!/usr/bin/python3
"""Mails a corpus of files with RyMail through real relays, Postfix (full path
to a Maildir) and aiosmtpd (raw bytes as received), and checks that what
arrives is what was meant and that every refusal ends the run with status 1.

Runs in a private network namespace of its own (only lo, relays on
127.0.0.1:25). Prints one report line per relay and case and ends with
"N passed, N failed"; the exit status is 1 when any case failed.
"""

import argparse
import email.utils
import os
import pwd
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from private_network import enter_private_network  # noqa: E402
SENT_LINE = b"\r\n-RyMail-Info, Your mail has been sent.\r\n\r\n"
NOT_EXPECTED = b"-RyMail-FAIL, Previous response was not expected!\r\n"
SIZE_LIMIT = 15_000_000


def text_mode(raw):
    """The text a text-mode read sees: CR LF is LF, a lone CR stays, Ctrl-Z ends it."""
    raw = raw.split(b"\x1a", 1)[0]
    return raw.replace(b"\r\n", b"\n")


def postfix_stored(text):
    """How Postfix stores a text that it received correctly: a bare CR is not
    allowed in SMTP text, and Postfix drops one at a line end and turns any
    other into a blank. RyMail sends the CR as read (aiosmtpd shows it)."""
    return text.replace(b"\r\n", b"\n").replace(b"\r", b" ")


def wait_for_port(seconds=10):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            socket.create_connection(("127.0.0.1", 25), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def corpus():
    big = bytearray()
    line = 0
    while len(big) < 10 * 1024 * 1024:
        big += b"%08d " % line + b"abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ\n"[: 61] + b"\n"
        line += 1
    return [
        ("empty file", b""),
        ("leading dots", b".\n..\n.x\n..x\nend\n"),
        ("only a dot", b"."),
        ("CR LF line ends", b"one\r\ntwo\r\n"),
        ("LF line ends", b"one\ntwo\n"),
        ("mixed line ends", b"one\r\ntwo\nthree\r\n\r\n"),
        ("lone CR", b"a\rb\nc\r\r\n"),
        ("no final line end", b"first\nlast line"),
        ("Ctrl-Z inside", b"before\n\x1aafter\n"),
        ("8-bit bytes", bytes(range(0x80, 0x100)) + b"\n" + "caf\u00e9 \u00fcber\n".encode()),
        ("998-character line", b"x" * 998 + b"\n"),
        ("10 MiB file", bytes(big)),
    ]


class Runner:
    def __init__(self, rymail, work):
        self.rymail = rymail
        self.work = work
        self.results = []
        self.lines = []

    def run(self, arguments, body=b"hello\n"):
        body_path = os.path.join(self.work, "body.txt")
        with open(body_path, "wb") as f:
            f.write(body)
        argv = [self.rymail, "-g", "127.0.0.1", "-h", "client.example.com", "-i", body_path] + arguments
        self.began = int(time.time())
        run = subprocess.run(argv, capture_output=True, timeout=120, env={"TZ": "UTC", "ORGANIZATION": "Example Org"})
        self.ended = int(time.time())
        return run

    def recipients_file(self, lines):
        path = os.path.join(self.work, "recipients.txt")
        with open(path, "w") as f:
            f.write("".join(line + "\n" for line in lines))
        return path

    def report(self, relay, case, problems, what="accepted, delivered, identical"):
        self.results.append(not problems)
        self.say("%-9s %-30s %s" % (relay, case, "FAILED: " + "; ".join(problems) if problems else what))

    def finish(self, report):
        """Says how many cases passed, writes the report when asked; the exit status."""
        passed = sum(self.results)
        failed = len(self.results) - passed
        self.say("%d passed, %d failed" % (passed, failed))
        if report:
            with open(report, "w") as f:
                f.write("\n".join(self.lines) + "\n")
        return 1 if failed else 0

    def say(self, line):
        print(line, flush=True)
        self.lines.append(line)


def first_difference(got, want):
    for i, (a, b) in enumerate(zip(got, want)):
        if a != b:
            return "bytes differ from offset %d: got %r, want %r" % (i, got[i:i + 16], want[i:i + 16])
    return "lengths differ: got %d bytes, want %d" % (len(got), len(want))


def our_headers(reply_to=None):
    """The header names RyMail sends, in order."""
    names = ["Received: by ryMail from ", "Message-ID: <", "Date: ", "X-Mailer: ryMail-V1.0 ", "From: "]
    if reply_to:
        names.append("Reply-To: ")
    return names + ["To: ", "Subject: "]


ATOM = rb"[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+"
MSG_ID = re.compile(rb"<" + ATOM + rb"(\." + ATOM + rb")*@" + ATOM + rb"(\." + ATOM + rb")*>")


def check_headers(header_block, expected_names, line_end, runner):
    """Our headers in order; one Date, the run's start time; one valid Message-ID."""
    lines = header_block.split(line_end)
    start = next((i for i, l in enumerate(lines) if l.startswith(b"Received: by ryMail")), None)
    if start is None:
        return ["our Received header is missing"]
    got = lines[start:start + len(expected_names)]
    if [l[: len(n)] for l, n in zip(got, expected_names)] != [n.encode() for n in expected_names]:
        return ["headers out of order: %r" % got]
    problems = []
    dates = [l for l in lines if l.lower().startswith(b"date:")]
    ids = [l for l in lines if l.lower().startswith(b"message-id:")]
    if len(dates) != 1 or len(ids) != 1:
        problems.append("%d Date and %d Message-ID headers" % (len(dates), len(ids)))
    else:
        when = email.utils.parsedate_to_datetime(dates[0][5:].strip().decode()).timestamp()
        if not runner.began <= when <= runner.ended:
            problems.append("Date %r is not the start time" % dates[0])
        if not MSG_ID.fullmatch(ids[0][11:].strip()):
            problems.append("invalid Message-ID %r" % ids[0])
    return problems


# ---------------------------------------------------------------- Postfix

MASTER_CF = """\
{smtp}
pickup    unix  n       -       n       60      1       pickup
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
smtp      unix  -       -       n       -       -       smtp
relay     unix  -       -       n       -       -       smtp
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
local     unix  -       n       n       -       -       local
virtual   unix  -       n       n       -       -       virtual
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
"""
PLAIN_SMTP = "smtp      inet  n       -       n       -       -       smtpd"
POSTSCREEN_SMTP = """\
smtp      inet  n       -       n       -       1       postscreen
smtpd     pass  -       -       n       -       -       smtpd
dnsblog   unix  -       -       n       -       0       dnsblog
tlsproxy  unix  -       -       n       -       0       tlsproxy"""


class Postfix:
    """A Postfix of our own: private configuration, queue and Maildirs under one directory."""

    def __init__(self, root, postscreen=False, recipient_limit=None, users=("alice", "bob", "carol")):
        self.root = root
        self.conf = os.path.join(root, "conf")
        self.mail = os.path.join(root, "mail")
        for d in (self.conf, self.mail, os.path.join(root, "queue"), os.path.join(root, "data")):
            os.makedirs(d)
        user = pwd.getpwnam("postfix")
        os.chown(self.mail, user.pw_uid, user.pw_gid)
        os.chown(os.path.join(root, "data"), user.pw_uid, user.pw_gid)
        settings = {
            "compatibility_level": "3.6",
            "queue_directory": root + "/queue",
            "data_directory": root + "/data",
            "meta_directory": "/etc/postfix",
            "mail_owner": "postfix",
            "setgid_group": "postdrop",
            "inet_interfaces": "127.0.0.1",
            "inet_protocols": "ipv4",
            "myhostname": "relay.test.example",
            "mydestination": "",
            "mynetworks": "127.0.0.0/8",
            "maillog_file_prefixes": root,
            "maillog_file": root + "/postfix.log",
            "virtual_mailbox_domains": "example.com",
            "virtual_mailbox_base": self.mail,
            "virtual_mailbox_maps": "texthash:%s/vmailbox" % self.conf,
            "virtual_uid_maps": "static:%d" % user.pw_uid,
            "virtual_gid_maps": "static:%d" % user.pw_gid,
            "message_size_limit": str(SIZE_LIMIT),
            "smtpd_sender_restrictions": "check_sender_access texthash:%s/senders" % self.conf,
            "alias_maps": "",
            "alias_database": "",
            "biff": "no",
        }
        if recipient_limit:
            settings["smtpd_recipient_limit"] = str(recipient_limit)
        if postscreen:
            settings.update({
                "postscreen_access_list": "",
                "postscreen_greet_wait": "2s",
                "postscreen_greet_action": "enforce",
                "postscreen_dnsbl_sites": "",
            })
        with open(os.path.join(self.conf, "main.cf"), "w") as f:
            f.writelines("%s = %s\n" % item for item in settings.items())
        with open(os.path.join(self.conf, "master.cf"), "w") as f:
            f.write(MASTER_CF.format(smtp=POSTSCREEN_SMTP if postscreen else PLAIN_SMTP))
        with open(os.path.join(self.conf, "vmailbox"), "w") as f:
            f.writelines("%s@example.com %s/\n" % (u, u) for u in users)
        with open(os.path.join(self.conf, "senders"), "w") as f:
            f.write("blocked@example.com REJECT Sender not welcome here\n")

    def __enter__(self):
        subprocess.run(["postfix", "-c", self.conf, "check"], check=True)
        subprocess.run(["postfix", "-c", self.conf, "start"], check=True, capture_output=True)
        if not wait_for_port():
            raise RuntimeError("Postfix did not listen on 127.0.0.1:25")
        return self

    def __exit__(self, *exc):
        subprocess.run(["postfix", "-c", self.conf, "stop"], capture_output=True)
        subprocess.run(["postfix", "-c", self.conf, "abort"], capture_output=True)

    def maildir(self, user):
        return os.path.join(self.mail, user, "new")

    def clear(self):
        for user in os.listdir(self.mail):
            shutil.rmtree(os.path.join(self.mail, user))

    def delivered(self, users, seconds=20):
        """Waits for the queue to deliver; returns {user: [message bytes]}."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            found = {u: self._messages(u) for u in users}
            if all(found.values()) and self._queue_empty():
                return found
            time.sleep(0.05)
        return {u: self._messages(u) for u in users}

    def settled(self, seconds=3):
        """Waits until the queue is empty; for cases where nothing may arrive."""
        deadline = time.time() + seconds
        while time.time() < deadline and not self._queue_empty():
            time.sleep(0.05)

    def _messages(self, user):
        d = self.maildir(user)
        if not os.path.isdir(d):
            return []
        out = []
        for name in sorted(os.listdir(d)):
            with open(os.path.join(d, name), "rb") as f:
                out.append(f.read())
        return out

    def _queue_empty(self):
        for sub in ("incoming", "active", "maildrop"):
            for _, _, files in os.walk(os.path.join(self.root, "queue", sub)):
                if files:
                    return False
        return True


def postfix_cases(runner, root):
    with Postfix(os.path.join(root, "postfix")) as postfix:
        for name, raw in corpus():
            postfix.clear()
            run = runner.run(["-f", "sender@example.com", "-t", "alice@example.com", "-r", "replies@example.com"], raw)
            problems = [] if run.returncode == 0 and run.stdout == SENT_LINE else ["exit %d, %r" % (run.returncode, run.stdout[-200:])]
            messages = postfix.delivered(["alice"]).get("alice", [])
            if len(messages) != 1:
                problems.append("%d copies delivered" % len(messages))
            else:
                head, _, body = messages[0].partition(b"\n\n")
                problems += check_headers(head, our_headers(reply_to=True), b"\n", runner)
                want = postfix_stored(text_mode(raw)) + b"\n"
                if body != want:
                    problems.append(first_difference(body, want))
            note = " (Postfix stores each bare CR as a blank, or drops it before a line end)" if b"\r" in text_mode(raw) else ""
            runner.report("postfix", name, problems, "accepted, delivered, identical" + note)

        postfix.clear()
        users = ["alice", "bob", "carol"]
        run = runner.run(["-f", "sender@example.com", "-l", runner.recipients_file(u + "@example.com" for u in users)])
        got = postfix.delivered(users)
        problems = [] if run.returncode == 0 else ["exit %d" % run.returncode]
        problems += ["%s got %d copies" % (u, len(got[u])) for u in users if len(got[u]) != 1]
        runner.report("postfix", "recipient file of 3", problems, "accepted, one copy each")

        for form in ("sender@example.com", "<sender@example.com>"):
            postfix.clear()
            run = runner.run(["-f", form, "-t", "<alice@example.com>"])
            got = postfix.delivered(["alice"])["alice"]
            problems = [] if run.returncode == 0 else ["exit %d" % run.returncode]
            if len(got) != 1 or not got[0].startswith(b"Return-Path: <sender@example.com>\n"):
                problems.append("envelope sender not kept: %r" % (got[0][:60] if got else None))
            runner.report("postfix", "envelope " + form, problems, "accepted, delivered, envelope kept")

        refusals = [
            ("unknown recipient (550)", ["-f", "sender@example.com", "-t", "nobody@example.com"], b"x\n"),
            ("refused sender", ["-f", "blocked@example.com", "-t", "alice@example.com"], b"x\n"),
            ("over the size limit (552)", ["-f", "sender@example.com", "-t", "alice@example.com"],
             b"y" * 70 + b"\n" + (b"z" * 70 + b"\n") * (SIZE_LIMIT // 71 + 1000)),
        ]
        for name, arguments, raw in refusals:
            postfix.clear()
            run = runner.run(arguments, raw)
            postfix.settled()
            problems = []
            if run.returncode != 1 or run.stdout != NOT_EXPECTED:
                problems.append("exit %d, %r" % (run.returncode, run.stdout[-120:]))
            if postfix.delivered(["alice"], seconds=0)["alice"]:
                problems.append("a copy was delivered")
            runner.report("postfix", name, problems, "refused, exit 1, nothing delivered")

    # A relay that takes 100 recipients per transaction: 250 go in three, each gets one copy.
    users = ["r%d" % i for i in range(1, 251)]
    with Postfix(os.path.join(root, "capped"), recipient_limit=100, users=users) as postfix:
        for mode in (["--ehlo", "on"], []):
            postfix.clear()
            run = runner.run(["-f", "sender@example.com", "-l", runner.recipients_file(u + "@example.com" for u in users),
                              "--on-refused", "continue", "-d", "S"] + mode)
            got = postfix.delivered(users, seconds=60)
            problems = [] if run.returncode == 0 else ["exit %d, %r" % (run.returncode, run.stdout[-300:])]
            problems += ["%s got %d copies" % (u, len(got[u])) for u in users if len(got[u]) != 1][:5]
            transactions = run.stdout.count(b"Sending MAIL FROM")
            if transactions != 3:
                problems.append("%d transactions" % transactions)
            runner.report("postfix", "250 recipients, limit 100" + (" pipelined" if mode else ""), problems,
                          "accepted in 3 transactions, one copy each")

    with Postfix(os.path.join(root, "postscreen"), postscreen=True) as postfix:
        begun = time.time()
        run = runner.run(["-f", "sender@example.com", "-t", "alice@example.com", "-d", "S"], b"through postscreen\n")
        took = time.time() - begun
        got = postfix.delivered(["alice"])["alice"]
        problems = [] if run.returncode == 0 else ["exit %d, %r" % (run.returncode, run.stdout[-300:])]
        if b"Received 220-" not in run.stdout:
            problems.append("no multi-line greeting seen")
        if len(got) != 1 or not got[0].endswith(b"\n\nthrough postscreen\n\n"):
            problems.append("not delivered intact")
        runner.report("postfix", "postscreen greeting pause", problems,
                      "220- then 220 after %.1f s, accepted, delivered" % took)


# ---------------------------------------------------------------- aiosmtpd

def aiosmtpd_cases(runner):
    from aiosmtpd.controller import Controller

    class Keep:
        def __init__(self):
            self.messages = []

        async def handle_DATA(self, server, session, envelope):
            self.messages.append((envelope.mail_from, list(envelope.rcpt_tos), envelope.original_content))
            return "250 OK"

    handler = Keep()
    controller = Controller(handler, hostname="127.0.0.1", port=25, data_size_limit=64 * 1024 * 1024)
    controller.start()
    try:
        for name, raw in corpus():
            handler.messages.clear()
            run = runner.run(["-f", "sender@example.com", "-t", "alice@example.com"], raw)
            problems = [] if run.returncode == 0 and run.stdout == SENT_LINE else ["exit %d" % run.returncode]
            if len(handler.messages) != 1:
                problems.append("%d messages received" % len(handler.messages))
            else:
                head, _, body = handler.messages[0][2].partition(b"\r\n\r\n")
                problems += check_headers(head, our_headers(), b"\r\n", runner)
                want = text_mode(raw).replace(b"\n", b"\r\n") + b"\r\n"
                if body != want:
                    problems.append(first_difference(body, want))
            runner.report("aiosmtpd", name, problems, "accepted, received, identical")

        handler.messages.clear()
        users = ["alice@example.com", "bob@example.com", "carol@example.com"]
        run = runner.run(["-f", "sender@example.com", "-l", runner.recipients_file(users)])
        problems = [] if run.returncode == 0 else ["exit %d" % run.returncode]
        if [m[1] for m in handler.messages] != [users]:
            problems.append("recipients %r" % [m[1] for m in handler.messages])
        runner.report("aiosmtpd", "recipient file of 3", problems, "accepted, one message for all three")

        for form, want in (("sender@example.com", "sender@example.com"), ("<sender@example.com>", "sender@example.com")):
            handler.messages.clear()
            run = runner.run(["-f", form, "-t", "<alice@example.com>"])
            problems = [] if run.returncode == 0 else ["exit %d" % run.returncode]
            if [m[:2] for m in handler.messages] != [(want, ["alice@example.com"])]:
                problems.append("envelope %r" % [m[:2] for m in handler.messages])
            runner.report("aiosmtpd", "envelope " + form, problems, "accepted, envelope kept")
    finally:
        controller.stop()


# ---------------------------------------------------------------- a declared character set

CHARSET_CASES = [
    ("ASCII subject", "Plain ASCII subject", "Pat <pat@example.com>"),
    ("CJK subject of 126 bytes", "\u6771\u4eac" * 21, "pat@example.com"),
    ("emoji at word boundaries", "Gr\u00fc\u00dfe \U0001F600 aus \U0001F600\U0001F600 Berlin", "J\u00f6rg <j@example.com>"),
    ("=? in the text", "M\u00fcller =?utf-8?B?Zm9v?= stays literal", "pat@example.com"),
    ("display name with a comma", "Bericht f\u00fcr M\u00e4rz", "\"M\u00fcller, J\u00f6rg\" <j@example.com>"),
]
CHARSET_BODY = ("Gr\u00fc\u00dfe aus M\u00fcnchen = 100%  \n.\n" + "\u00e9" * 400 + "\n\tend \n").encode()
SPAM_RULES = ("PP_MIME_FAKE_ASCII_TEXT", "SUBJ_ILLEGAL_CHARS", "SUBJECT_NEEDS_ENCODING", "MISSING_MIME_VERSION")


def charset_cases(runner):
    """--charset utf-8 through aiosmtpd, with EHLO (8BITMIME offered) and HELO:
    Python's email package decodes Subject, From and body back to the input;
    SpamAssassin finds none of the rules a text without a charset trips."""
    import email
    import email.policy
    from aiosmtpd.controller import Controller

    class Keep:
        def __init__(self):
            self.messages = []

        async def handle_DATA(self, server, session, envelope):
            self.messages.append((list(envelope.mail_options), envelope.original_content))
            return "250 OK"

    handler = Keep()
    controller = Controller(handler, hostname="127.0.0.1", port=25)
    controller.start()
    try:
        for name, subject, sender in CHARSET_CASES:
            for mode, ehlo in (("8bit", ["--ehlo", "on"]), ("quoted-printable", [])):
                handler.messages.clear()
                run = runner.run(["-f", "sender@example.com", "-t", "alice@example.com", "-s", subject, "-F", sender,
                                  "--charset", "utf-8"] + ehlo, CHARSET_BODY)
                problems = [] if run.returncode == 0 else ["exit %d, %r" % (run.returncode, run.stdout[-200:])]
                if len(handler.messages) != 1:
                    runner.report("charset", "%s, %s" % (name, mode), problems + ["nothing received"])
                    continue
                options, raw = handler.messages[0]
                if (options == ["BODY=8BITMIME"]) != (mode == "8bit"):
                    problems.append("MAIL FROM parameters %r" % options)
                message = email.message_from_bytes(raw, policy=email.policy.default)
                if str(message["Subject"]) != subject:
                    problems.append("Subject decodes to %r" % str(message["Subject"]))
                want_from = email.utils.parseaddr(sender)
                got_from = email.utils.parseaddr(str(message["From"]))
                if got_from != want_from:
                    problems.append("From decodes to %r, want %r" % (got_from, want_from))
                if message["Content-Transfer-Encoding"] != mode:
                    problems.append("Content-Transfer-Encoding %r" % message["Content-Transfer-Encoding"])
                body = message.get_content().replace("\r\n", "\n")
                if body != CHARSET_BODY.decode() + "\n":
                    problems.append("the body decodes to %r" % body[:80])
                if any(byte > 126 for byte in raw.split(b"\r\n\r\n", 1)[0]):
                    problems.append("8-bit bytes in the header block")
                if name == "ASCII subject" and b"\r\nSubject: Plain ASCII subject\r\n" not in raw:
                    problems.append("an ASCII subject was changed")
                runner.report("charset", "%s, %s" % (name, mode), problems, "sent, decodes back to the input")

        if shutil.which("spamassassin"):
            for label, extra in (("--charset utf-8", ["--charset", "utf-8"]), ("no charset", [])):
                handler.messages.clear()
                runner.run(["-f", "sender@example.com", "-t", "alice@example.com", "-s", CHARSET_CASES[2][1]] + extra,
                           CHARSET_BODY)
                scored = subprocess.run(["spamassassin", "-L", "-t"], input=handler.messages[0][1],
                                        capture_output=True, timeout=120).stdout
                fired = [rule for rule in SPAM_RULES if rule.encode() in scored]
                if extra:
                    runner.report("spamassassin", label, ["fired: " + ", ".join(fired)] if fired else [],
                                  "none of %s" % ", ".join(SPAM_RULES))
                else:
                    runner.say("%-9s %-30s %s" % ("spamassassin", label, "fired: " + (", ".join(fired) or "none")))
        elif os.environ.get("CI") is not None:
            runner.report("spamassassin", "all cases", ["spamassassin is missing"])
    finally:
        controller.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rymail", required=True)
    parser.add_argument("--report", help="also write the report to this file")
    args = parser.parse_args()
    enter_private_network()

    runner = Runner(os.path.abspath(args.rymail), tempfile.mkdtemp(prefix="rymail-relays-"))
    os.chmod(runner.work, 0o755)
    must_run = os.environ.get("CI") is not None
    try:
        if os.geteuid() == 0 and shutil.which("postfix") and os.path.exists("/usr/lib/postfix/sbin/master"):
            postfix_cases(runner, runner.work)
        elif must_run:
            runner.report("postfix", "all cases", ["Postfix is missing or this is not root"])
        else:
            runner.say("postfix   skipped (needs the postfix package and root)")
        try:
            import aiosmtpd  # noqa: F401
            aiosmtpd_cases(runner)
            charset_cases(runner)
        except ImportError:
            if must_run:
                runner.report("aiosmtpd", "all cases", ["python3-aiosmtpd is missing"])
            else:
                runner.say("aiosmtpd  skipped (needs python3-aiosmtpd)")
    finally:
        shutil.rmtree(runner.work, ignore_errors=True)

    return runner.finish(args.report)


if __name__ == "__main__":
    sys.exit(main())
