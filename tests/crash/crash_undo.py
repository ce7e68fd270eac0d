#!/usr/bin/env python3
"""Kills an undo of a whole detach at many moments and checks that no mail was lost.

After each kill the store is opened again (which finishes any interrupted rewrite) and
every email must be there exactly once, in its folder, with its flags and received date,
its bytes either as the detach left them or as they were before it; an undo run afterwards
must put every changed email back byte for byte.

    crash_undo.py --cli PATH --maker PATH [--runs N] [--emails N]
"""
import argparse
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from crash_detach import add_grouped_emails  # noqa: E402


def contents(root):
    """Every email: Message-ID (or content digest) -> (folder, flags, mtime, sha256)."""
    emails = {}
    for directory, _, files in os.walk(root):
        if os.path.basename(directory) not in ("cur", "new"):
            continue
        folder = os.path.relpath(os.path.dirname(directory), root)
        for name in files:
            path = os.path.join(directory, name)
            data = open(path, "rb").read()
            digest = hashlib.sha256(data).hexdigest()
            key = next((line.split(b":", 1)[1].strip() for line in data.split(b"\n")[:40]
                        if line.lower().startswith(b"message-id:")), digest.encode())
            flags = name.split(":2,", 1)[1] if ":2," in name else None
            if key in emails:
                raise AssertionError("email %s is there twice: %s" % (key, path))
            emails[key] = (folder, flags, int(os.stat(path).st_mtime), digest)
    return emails


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--maker", required=True)
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--emails", type=int, default=80)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="qb-crash-undo-")
    env = dict(os.environ, XDG_STATE_HOME=os.path.join(work, "state"))
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    try:
        store, out = os.path.join(work, "Mail"), os.path.join(work, "out")
        subprocess.run([sys.executable, args.maker, store, "--emails", str(args.emails), "--seed", "5"],
                       check=True, stderr=subprocess.DEVNULL)
        add_grouped_emails(store, 3, 25)
        original = contents(store)
        detach = subprocess.run([args.cli, "detach", "--store", store, "--all", "--to", out, "--yes"], **quiet)
        if detach.returncode not in (0, 3):
            raise AssertionError("the detach failed with status %d" % detach.returncode)
        detached = contents(store)
        changed = sum(1 for key in original if detached.get(key, (None,) * 4)[3] != original[key][3])
        if changed < 10:
            raise AssertionError("the detach changed only %d emails" % changed)
        # The store and the saved files as the detach left them, restored at their own paths
        # before each run: the record names the store by its path.
        shutil.copytree(store, store + ".detached", symlinks=True)
        shutil.copytree(out, out + ".detached", symlinks=True)
        undo = [args.cli, "undo", "--store", store, "--from", out, "--yes"]

        def restore():
            shutil.rmtree(store)
            shutil.rmtree(out)
            shutil.copytree(store + ".detached", store, symlinks=True)
            shutil.copytree(out + ".detached", out, symlinks=True)

        def check(after_kill):
            now = contents(store)
            if set(now) != set(original):
                raise AssertionError("emails lost or added: %s" % sorted(set(original) ^ set(now))[:5])
            for key, (folder, flags, mtime, digest) in original.items():
                nfolder, nflags, nmtime, ndigest = now[key]
                if (nfolder, nflags, nmtime) != (folder, flags, mtime):
                    raise AssertionError("%s moved or changed flags/date" % key)
                allowed = {digest, detached[key][3]} if after_kill else {digest}
                if ndigest not in allowed:
                    raise AssertionError("%s is neither as it was nor as the detach left it" % key)

        restore()
        started = time.monotonic()
        whole = subprocess.run(undo, **quiet)
        duration = time.monotonic() - started
        if whole.returncode != 0:
            raise AssertionError("a whole undo failed with status %d" % whole.returncode)
        check(False)

        kills = 0
        rnd = random.Random(13)
        for run in range(args.runs):
            restore()
            process = subprocess.Popen(undo, **quiet)
            time.sleep(0.95 * duration * (run + rnd.random()) / args.runs)
            if process.poll() is None:
                process.send_signal(signal.SIGKILL)
                kills += 1
            process.wait()
            # Opening the store finishes what the killed run left half done.
            subprocess.run([args.cli, "analyze", "--store", store], **quiet)
            check(True)
            again = subprocess.run(undo, **quiet)
            if again.returncode != 0:
                raise AssertionError("run %d: the undo after the kill failed with status %d" %
                                     (run, again.returncode))
            check(False)
        print("crash test: %d runs, %d killed mid-undo (whole undo %.2f s), every invariant held" %
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
