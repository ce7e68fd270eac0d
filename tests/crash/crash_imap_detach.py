#!/usr/bin/env python3
"""Kills a detach of an IMAP account at many moments and checks that no mail was lost.

The account is a private Dovecot (tools/dovecot-instance.sh) serving emails with two
attachments each, every third without a Message-ID, and beside them strangers: emails
without attachments or Message-ID, each of exactly the size that one email's rewritten copy
has, so that nothing but its content tells a stranger from that copy. Each run starts from
the same mail, kills the command line's detach at a moment drawn from a seeded generator
(printed), checks that every email is still on the server at least once, then runs the next
job, whose start finishes what the killed run left half done. Then these must hold: every
email is on the server exactly once (by its subject), none marked \\Deleted, with its flags
and received date; every stranger is there once, byte for byte; every attachment is still in
its email, or its email notes it as saved and the file the note links to holds it whole.

    crash_imap_detach.py --cli PATH --tools DIR [--runs N] [--emails N] [--seed N]
                         [--courier ROOT]

With --courier, the server is a private Courier-IMAP run from its packages unpacked in ROOT
(tools/courier-instance.sh) instead of Dovecot.
"""
import argparse
import base64
import email
import email.policy
import hashlib
import imaplib
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

NOTE = re.compile(r"Attached file (.+?) detached and saved as (file://\S+)")
FETCHED = re.compile(rb"FLAGS \(([^)]*)\) INTERNALDATE \"([^\"]+)\"")
FLAGS = ["S", "FS", "", "RS", "DS"]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def make_mail(root, count, seed, stranger_sizes=None):
    """Emails with two base64 attachments each: (subject -> [(name, sha256)]); with
    stranger_sizes (subject -> size), a stranger of each size, whose bytes are returned too."""
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(root, sub))
    rnd = random.Random(seed)
    made = {}
    for number in range(count):
        subject = "Killed job email %d" % number
        identity = [] if number % 3 == 2 else ["Message-ID: <kill-%d@example.org>" % number]
        lines = ["From: Ann <ann@example.org>", "Subject: " + subject] + identity + ["MIME-Version: 1.0",
                 'Content-Type: multipart/mixed; boundary="b"', "", "--b",
                 "Content-Type: text/plain; charset=us-ascii", "", "Hello.", ""]
        parts = []
        for name in ("scan-%d.pdf" % number, "table-%d.bin" % number):
            payload = bytes(rnd.getrandbits(8) for _ in range(rnd.randint(4000, 30000)))
            parts.append((name, hashlib.sha256(payload).hexdigest()))
            encoded = base64.b64encode(payload).decode()
            lines += ["--b", 'Content-Type: application/octet-stream; name="%s"' % name,
                      'Content-Disposition: attachment; filename="%s"' % name,
                      "Content-Transfer-Encoding: base64", ""]
            lines += [encoded[i:i + 76] for i in range(0, len(encoded), 76)]
        lines += ["--b--", ""]
        path = os.path.join(root, "cur", "1700%05d.M1P1.kill:2,%s" % (number, FLAGS[number % len(FLAGS)]))
        with open(path, "w", newline="\n") as out:
            out.write("\n".join(lines))
        os.utime(path, (1700000000 + number * 3600, 1700000000 + number * 3600))
        made[subject] = parts
    strangers = {}
    for number, size in enumerate(sorted((stranger_sizes or {}).values())):
        # Written with LF, as a Maildir holds mail; servers send each line end as CR LF,
        # which the size counts.
        head = "From: Bob <bob@example.org>\nSubject: Stranger %d\n\n" % number
        body = "".join(rnd.choice("abcdefgh ") for _ in range(max(0, size - len(head) - 5)))
        text = (head + body + "\n").encode()
        # Named after the emails, so that the server numbers each stranger after some of them.
        path = os.path.join(root, "cur", "1700%05d.M2P1.stranger:2,S" % number)
        with open(path, "wb") as out:
            out.write(text)
        strangers["Stranger %d" % number] = text.replace(b"\n", b"\r\n")
    return made, strangers


class Server:
    """A private Dovecot (or Courier, given its unpacked ROOT) for one run, stopped by stop()."""

    def __init__(self, tools, maildir, courier=None):
        self.script = os.path.join(tools, "courier-instance.sh" if courier else "dovecot-instance.sh")
        extra = ["--root", courier] if courier else []
        self.instance = tempfile.mkdtemp(prefix="qb-kill-imapd-", dir="/tmp")
        for _ in range(3):
            self.port = free_port()
            done = subprocess.run(["bash", self.script, "start", self.instance, maildir, str(self.port)] + extra,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            if done.returncode == 0:
                return
            if b"already taken" not in done.stdout:
                break
        raise AssertionError("the IMAP server did not start (run scripts/setup.sh): %s" %
                             done.stdout.decode(errors="replace"))

    def stop(self):
        subprocess.run(["bash", self.script, "stop", self.instance],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.instance, ignore_errors=True)

    def messages(self):
        """[(subject, flags, internal date, email, bytes)] of the Inbox."""
        imap = imaplib.IMAP4("127.0.0.1", self.port)
        try:
            if imap.state != "AUTH":  # Courier's connections come logged in
                imap.login("ann", "secret")
            imap.select("INBOX", readonly=True)
            status, data = imap.fetch("1:*", "(FLAGS INTERNALDATE BODY.PEEK[])")
            if status != "OK":
                raise AssertionError("FETCH failed: %s" % data)
            found = []
            for item in data:
                if not isinstance(item, tuple):
                    continue
                head = FETCHED.search(item[0])
                if not head:
                    raise AssertionError("unexpected FETCH answer: %r" % item[0][:200])
                flags = sorted(f for f in head.group(1).decode().split() if f != "\\Recent")
                message = email.message_from_bytes(item[1], policy=email.policy.compat32)
                found.append((message.get("Subject"), flags, head.group(2).decode(), message, item[1]))
            return found
        finally:
            try:
                imap.logout()
            except (imaplib.IMAP4.error, OSError):
                pass


def attachments_of(message):
    """{name: sha256} of the attachments still in an email."""
    found = {}
    for part in message.walk():
        name = part.get_filename()
        if name and not part.is_multipart():
            found[name] = hashlib.sha256(part.get_payload(decode=True) or b"").hexdigest()
    return found


def notes_of(message):
    text = ""
    for part in message.walk():
        if part.get_content_type() == "text/plain" and not part.get_filename():
            text += (part.get_payload(decode=True) or b"").decode("utf-8", "replace")
    return NOTE.findall(text)


def check(made, strangers, before, server, exactly_once):
    """The invariants; before: subject -> (flags, date) at the start."""
    now = server.messages()
    ids = [message_id for message_id, _, _, _, _ in now]
    for message_id in made:
        count = ids.count(message_id)
        if count == 0:
            raise AssertionError("email %s is lost" % message_id)
        if exactly_once and count != 1:
            raise AssertionError("email %s is on the server %d times" % (message_id, count))
    for subject, text in strangers.items():
        held = [raw for message_id, _, _, _, raw in now if message_id == subject]
        if held != [text]:
            raise AssertionError("stranger %s is on the server %d times, or changed" % (subject, len(held)))
    if len(set(ids)) != len(made) + len(strangers) or None in ids:
        raise AssertionError("emails that were not there before: %s" %
                             sorted(set(ids) - set(made) - set(strangers)))
    if not exactly_once:
        return
    for message_id, flags, date, message, _ in now:
        if message_id in strangers:
            continue
        if "\\Deleted" in flags:
            raise AssertionError("email %s is left marked \\Deleted" % message_id)
        if (flags, date) != before[message_id]:
            raise AssertionError("email %s changed its flags or date: %s -> %s" %
                                 (message_id, before[message_id], (flags, date)))
        kept = attachments_of(message)
        notes = notes_of(message)
        for name, digest in made[message_id]:
            if kept.get(name) == digest:
                continue
            links = [link for noted, link in notes if noted == name]
            if not links:
                raise AssertionError("%s: attachment %s is neither in the email nor noted" % (message_id, name))
            path = urllib.parse.unquote(links[0][len("file://"):])
            if not os.path.isfile(path) or hashlib.sha256(open(path, "rb").read()).hexdigest() != digest:
                raise AssertionError("%s: %s is noted as saved at %s, which does not hold it whole" %
                                     (message_id, name, path))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--tools", required=True)
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--emails", type=int, default=40)
    parser.add_argument("--seed", type=int, default=int(os.environ.get("QB_KILL_SEED", "17")))
    parser.add_argument("--courier")
    args = parser.parse_args()
    print("crash test of IMAP detach: seed %d (QB_KILL_SEED repeats it)" % args.seed)

    work = tempfile.mkdtemp(prefix="qb-kill-", dir="/tmp")
    os.chmod(work, 0o755)
    try:
        def account_run(name, stranger_sizes=None):
            """A fresh copy of the mail on a server of its own, and a state folder for the journal."""
            root = os.path.join(work, name)
            maildir = os.path.join(root, "mail")
            os.makedirs(root)
            os.chmod(root, 0o755)
            made, strangers = make_mail(maildir, args.emails, 5, stranger_sizes)
            server = Server(args.tools, maildir, args.courier)
            environment = dict(os.environ, XDG_STATE_HOME=os.path.join(root, "state"),
                               XDG_CACHE_HOME=os.path.join(root, "cache"))
            with open(os.path.join(root, "password"), "w") as password:
                password.write("secret\n")

            def detach(out):
                return subprocess.Popen(
                    [args.cli, "detach", "--store", "imap://ann@127.0.0.1:%d" % server.port,
                     "--password-file", os.path.join(root, "password"),
                     "--folder", "Email Folders\\ann@127.0.0.1", "--all", "--yes",
                     "--to", os.path.join(root, out), "--log", os.path.join(root, out + ".log")],
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=environment)

            before = {message_id: (flags, date) for message_id, flags, date, _, _ in server.messages()}
            if sorted(before) != sorted(list(made) + list(strangers)):
                raise AssertionError("the server does not serve the mail it was given")
            def journalled():
                """Replacements the journal holds as begun and not ended."""
                folder = os.path.join(root, "state", "quillbrook", "imap")
                if not os.path.isdir(folder):
                    return 0
                return sum(open(os.path.join(folder, name), "rb").read().count(b"\n")
                           for name in os.listdir(folder) if name.endswith(".journal"))

            return made, strangers, server, before, detach, journalled

        # One whole run, to spread the kills over its length and learn the size of each
        # rewritten email, which the strangers of the other runs take.
        # Folder names of one length in every run: the notes' links, and so the rewritten
        # sizes, are then the same.
        made, strangers, server, before, detach, _ = account_run("run-t")
        started = time.monotonic()
        status = detach("job1").wait()
        duration = time.monotonic() - started
        try:
            if status != 0:
                raise AssertionError("a whole detach failed with status %d" % status)
            check(made, strangers, before, server, True)
            rewritten = {subject: len(raw) for subject, _, _, _, raw in server.messages()}
        finally:
            server.stop()

        rnd = random.Random(args.seed)
        kills = 0
        halfway = 0
        for run in range(args.runs):
            made, strangers, server, before, detach, journalled = account_run("r%04d" % run, rewritten)
            try:
                delay = 0.95 * duration * (run + rnd.random()) / args.runs
                process = detach("job1")
                time.sleep(delay)
                killed = process.poll() is None
                if killed:
                    process.send_signal(signal.SIGKILL)
                    kills += 1
                process.wait()
                pending = journalled()
                halfway += 1 if pending else 0
                print("run %d: killed after %.2f s%s%s" % (run, delay, "" if killed else " (it had ended)",
                                                          ", inside a replacement" if pending else ""))
                check(made, strangers, before, server, False)
                # The next job's start finishes the interrupted replacement, then does the rest.
                status = detach("job2").wait()
                if status not in (0, 3):
                    raise AssertionError("run %d: the job after the kill failed with status %d" % (run, status))
                check(made, strangers, before, server, True)
                sizes = {subject: len(raw) for subject, _, _, _, raw in server.messages() if subject in made}
                if sizes != rewritten:
                    raise AssertionError("the rewritten emails differ in size from their strangers")
            except AssertionError as failure:
                raise AssertionError("run %d (seed %d): %s" % (run, args.seed, failure))
            finally:
                server.stop()
                shutil.rmtree(os.path.join(work, "r%04d" % run), ignore_errors=True)
        print("crash test: %d runs, %d killed mid-job, %d inside a replacement (whole job %.2f s), "
              "every invariant held" % (args.runs, kills, halfway, duration))
        print("%d passed, 0 failed" % args.runs)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    try:
        main()
    except AssertionError as failure:
        print("crash test failed: %s" % failure)
        print("0 passed, 1 failed")
        sys.exit(1)
