#!/usr/bin/env python3
"""Kills a detach of a whole Maildir at many moments and checks that no mail was lost.

After each kill the store is opened again (which finishes any interrupted rewrite)
and these must hold: every email is there exactly once (by Message-ID, or by its
unchanged bytes), in its folder, with its flags and received date; every attachment
is still in its email or saved whole (same SHA-256) at the path its note links to;
and a detach run afterwards completes.

    crash_detach.py --cli PATH --maker PATH [--runs N] [--emails N]
"""
import argparse
import base64
import email
import email.header
import email.policy
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse

NOTE = re.compile(r"Attached file (.+?) detached and saved as (file://\S+)")


def attachments(message):
    """(kind, name, sha256) of the parts the store lists as attachments."""
    found = []

    def walk(part):
        ctype = part.get_content_type()
        if part.is_multipart() and ctype != "message/rfc822":
            for child in part.get_payload():
                walk(child)
            return
        name = part.get_filename()
        if name and "=?" in name:
            name = str(email.header.make_header(email.header.decode_header(name)))
        if ctype == "message/rfc822":
            found.append(("message", name, None))
            return
        if ctype in ("application/pgp-signature", "application/pkcs7-signature",
                     "application/x-pkcs7-signature"):
            return
        disposition = (part.get("Content-Disposition") or "").lower()
        if not name and not disposition.startswith("attachment") and ctype in ("text/plain", "text/html"):
            return
        payload = part.get_payload(decode=True) or b""
        found.append(("part", name, hashlib.sha256(payload).hexdigest()))

    walk(message)
    return found


def notes(message):
    text = ""
    for part in message.walk():
        if part.get_content_type() == "text/plain" and not part.get_filename():
            payload = part.get_payload(decode=True) or b""
            text += payload.decode(part.get_content_charset() or "utf-8", "replace")
    return NOTE.findall(text)


def snapshot(root):
    """Every email of the store: key -> (folder, flags, mtime, attachments, notes)."""
    emails = {}
    for directory, _, files in os.walk(root):
        sub = os.path.basename(directory)
        if sub not in ("cur", "new"):
            continue
        folder = os.path.relpath(os.path.dirname(directory), root)
        for name in files:
            path = os.path.join(directory, name)
            data = open(path, "rb").read()
            message = email.message_from_bytes(data, policy=email.policy.compat32)
            key = message.get("Message-ID") or hashlib.sha256(data).hexdigest()
            flags = name.split(":2,", 1)[1] if ":2," in name else None
            record = (folder, sub, flags, int(os.stat(path).st_mtime), attachments(message), notes(message))
            if key in emails:
                raise AssertionError("email %s is there twice: %s" % (key, path))
            emails[key] = record
    return emails


def check(before, root, after_kill):
    now = snapshot(root)
    # Emails without a Message-ID are keyed by their bytes: a rewritten one changes its key.
    lost = set(before) - set(now)
    for key in list(lost):
        if key.startswith("<"):
            continue
        lost.discard(key)
    if lost:
        raise AssertionError("emails lost: %s" % sorted(lost)[:5])
    if len(now) != len(before):
        raise AssertionError("%d emails before, %d now" % (len(before), len(now)))
    for key, (folder, sub, flags, mtime, parts, _) in before.items():
        if key not in now:
            continue
        nfolder, nsub, nflags, nmtime, nparts, nnotes = now[key]
        if (nfolder, nsub, nflags, nmtime) != (folder, sub, flags, mtime):
            raise AssertionError("%s moved or changed flags/date: %s -> %s" %
                                 (key, (folder, sub, flags, mtime), (nfolder, nsub, nflags, nmtime)))
        remaining = list(nparts)
        saved = list(nnotes)
        for kind, name, digest in parts:
            match = next((p for p in remaining if p[0] == kind and (p[2] == digest if kind == "part" else True)), None)
            if match:
                remaining.remove(match)
                continue
            def saved_whole(note):
                path = urllib.parse.unquote(note[1][len("file://"):])
                if not os.path.isfile(path):
                    return False
                return kind == "message" or hashlib.sha256(open(path, "rb").read()).hexdigest() == digest

            # Several attachments may share a name: any of their notes may be this one's.
            candidates = [n for n in saved if name is None or n[0] == name]
            if not candidates:
                raise AssertionError("%s: attachment %s neither in the email nor noted" % (key, name))
            note = next((n for n in candidates if saved_whole(n)), None)
            if not note:
                raise AssertionError("%s: %s is noted as saved, but no file holds it whole: %s" %
                                     (key, name, [n[1] for n in candidates]))
            saved.remove(note)
    return now


def add_grouped_emails(root, count, parts):
    """Emails with many attachments each: a kill then often falls between saving an
    email's attachments and the one rewrite of that email."""
    rnd = random.Random(5)
    for number in range(count):
        lines = ["From: Many <many@example.com>", "Subject: Many parts %d" % number,
                 "Message-ID: <many-%d@example.com>" % number, "MIME-Version: 1.0",
                 'Content-Type: multipart/mixed; boundary="many"', "", "--many",
                 "Content-Type: text/plain; charset=us-ascii", "", "Parts follow.", ""]
        for part in range(parts):
            payload = bytes(rnd.getrandbits(8) for _ in range(20000))
            lines += ["--many", 'Content-Type: application/octet-stream; name="part%02d.bin"' % part,
                      "Content-Transfer-Encoding: base64", ""]
            encoded = base64.b64encode(payload).decode()
            lines += [encoded[i:i + 76] for i in range(0, len(encoded), 76)]
        lines += ["--many--", ""]
        path = os.path.join(root, "cur", "1700000%03d.M1P1.crash:2,S" % number)
        with open(path, "w", newline="\n") as out:
            out.write("\n".join(lines))
        os.utime(path, (1700000000 + number, 1700000000 + number))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--maker", required=True)
    parser.add_argument("--runs", type=int, default=30)
    parser.add_argument("--emails", type=int, default=120)
    parser.add_argument("--grouped", type=int, default=3, help="emails with 25 attachments each")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="qb-crash-")
    try:
        base = os.path.join(work, "base")
        subprocess.run([sys.executable, args.maker, base, "--emails", str(args.emails), "--seed", "3"],
                       check=True, stderr=subprocess.DEVNULL)
        add_grouped_emails(base, args.grouped, 25)
        before = snapshot(base)

        def detach(store, out):
            return [args.cli, "detach", "--store", store, "--folder", "Email Folders\\" + os.path.basename(store),
                    "--all", "--to", out, "--yes"]

        # One whole run, to spread the kills over its length.
        store, out = os.path.join(work, "timing"), os.path.join(work, "timing-out")
        shutil.copytree(base, store, symlinks=True)
        started = time.monotonic()
        done = subprocess.run(detach(store, out), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        duration = time.monotonic() - started
        if done.returncode not in (0, 3):
            raise AssertionError("a whole detach failed with status %d" % done.returncode)
        check(before, store, False)

        kills = 0
        rnd = random.Random(11)
        for run in range(args.runs):
            store = os.path.join(work, "run%d" % run, os.path.basename(base))
            out = os.path.join(work, "run%d" % run, "out")
            shutil.copytree(base, store, symlinks=True)
            process = subprocess.Popen(detach(store, out), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.95 * duration * (run + rnd.random()) / args.runs)
            if process.poll() is None:
                process.send_signal(signal.SIGKILL)
                kills += 1
            process.wait()
            # Opening the store finishes what the killed run left half done.
            subprocess.run([args.cli, "analyze", "--store", store], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            check(before, store, True)
            again = subprocess.run(detach(store, out), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if again.returncode not in (0, 3):
                raise AssertionError("run %d: the detach after the kill failed with status %d" % (run, again.returncode))
            check(before, store, False)
            shutil.rmtree(os.path.dirname(store))
        print("crash test: %d runs, %d killed mid-job (whole job %.2f s), every invariant held" %
              (args.runs, kills, duration))
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
