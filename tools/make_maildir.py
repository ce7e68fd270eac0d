#!/usr/bin/env python3
"""Writes a Maildir of realistic emails with attachments, for the demo and for tests.

The mail is deterministic for a seed: folders in both common layouts, attachments of
several types and sizes, encoded subjects and file names, forwarded emails nested in
each other, signed mail and a few broken emails that a reader must survive.

    make_maildir.py OUT [--emails N] [--layout maildir++|nested] [--seed S]
                        [--average-kb K]
"""
import argparse
import base64
import os
import random
import sys
import time

FOLDERS = ["", "Projects", "Projects/2024", "Projects/\u00c9t\u00e9", "Old", "Receipts",
           "Archive/2023"]

PEOPLE = [
    ("Alice Martin", "alice@example.com"),
    ("Bob O'Neil", "bob@example.org"),
    ("J\u00fcrgen M\u00fcller", "juergen@example.de"),
    ("Zo\u00eb Fran\u00e7ois", "zoe@example.fr"),
    ("\u5c71\u7530 \u592a\u90ce", "yamada@example.jp"),
    ("Doe, John", "john.doe@example.net"),
    ("", "noreply@billing.example.com"),
]

SUBJECTS = [
    "Q3 report", "Minutes of Monday's meeting", "Holiday photos", "Invoice 2024-117",
    "Re: budget draft", "Fwd: contract signed", "Signed lease", "Quarterly numbers",
    "Plans for the offsite", "Receipt for your order", "Caf\u00e9 menu for Friday",
    "\u00dcbersicht der Kosten", "Your statement is ready", "Slides: roadmap.final",
    "Hello world", "\u4f1a\u8b70\u306e\u8b70\u4e8b\u9332",
]

ATTACHMENTS = [
    ("application/pdf", "pdf", (20, 900)),
    ("application/vnd.openxmlformats-officedocument.wordprocessingml.document", "docx", (10, 300)),
    ("image/png", "png", (5, 2000)),
    ("image/jpeg", "jpg", (30, 3000)),
    ("application/zip", "zip", (50, 5000)),
    ("text/csv", "csv", (1, 50)),
    ("text/calendar", "ics", (1, 3)),
]


class Pool:
    """Random bytes taken from a shared pool, so large Maildirs are quick to write."""

    def __init__(self, rnd):
        self.rnd = rnd
        self.data = rnd.randbytes(1 << 20)

    def take(self, size):
        out = bytearray()
        while len(out) < size:
            start = self.rnd.randrange(len(self.data))
            out += self.data[start:start + size - len(out)]
        return bytes(out)


def encoded_word(text, mode="B", charset="UTF-8"):
    raw = text.encode(charset)
    if mode == "B":
        return "=?%s?B?%s?=" % (charset, base64.b64encode(raw).decode())
    q = "".join(chr(b) if 33 <= b < 127 and chr(b) not in "=?_" else
                ("_" if b == 32 else "=%02X" % b) for b in raw)
    return "=?%s?Q?%s?=" % (charset, q)


def header_text(text, rnd):
    """A header value: plain when ASCII, else encoded words, sometimes split mid-way."""
    if all(ord(c) < 128 for c in text):
        return text
    if len(text) > 6 and rnd.random() < 0.5:
        # Two B words, the first ending in padding: readers must join both.
        cut = len(text) // 2
        return encoded_word(text[:cut]) + " " + encoded_word(text[cut:])
    return encoded_word(text, rnd.choice("BQ"))


def mailbox(person, rnd):
    name, address = person
    if not name:
        return address
    if "," in name:
        return '"%s" <%s>' % (name, address)
    return "%s <%s>" % (header_text(name, rnd), address)


def rfc_date(when):
    return time.strftime("%a, %d %b %Y %H:%M:%S +0000", time.gmtime(when))


def base64_lines(data):
    text = base64.b64encode(data).decode()
    return "\n".join(text[i:i + 76] for i in range(0, len(text), 76))


def filename_params(name, rnd):
    if all(ord(c) < 128 for c in name) and len(name) < 60:
        return 'filename="%s"' % name
    if rnd.random() < 0.5:
        # RFC 2231 with continuations, as most mail programs write long or non-ASCII names.
        from urllib.parse import quote
        units = [quote(bytes([b]), safe="") for b in name.encode("utf-8")]
        parts = ["".join(units[i:i + 12]) for i in range(0, len(units), 12)]
        return "\n ".join("filename*%d*=%s%s;" % (i, "UTF-8''" if i == 0 else "", p)
                          for i, p in enumerate(parts)).rstrip(";")
    return 'filename="%s"' % header_text(name, rnd)


def attachment_part(rnd, pool, scale):
    mime, ext, (low, high) = rnd.choice(ATTACHMENTS)
    size = int(rnd.randint(low, high) * 1024 * scale)
    stem = rnd.choice(["report", "photo", "Rechnung M\u00e4rz", "scan 0042", "notes.final",
                       "\u8cc7\u6599", "a very long attachment name that needs more than one line"])
    name = "%s.%s" % (stem, ext)
    if mime.startswith("text/"):
        body = "\n".join("%d,%d,%d" % (i, rnd.randint(0, 999), rnd.randint(0, 999))
                         for i in range(max(1, size // 12)))
        return ("Content-Type: %s; charset=utf-8\nContent-Disposition: attachment; %s\n"
                "Content-Transfer-Encoding: 7bit\n\n%s\n" % (mime, filename_params(name, rnd), body))
    return ("Content-Type: %s; name=\"%s.%s\"\nContent-Disposition: attachment; %s\n"
            "Content-Transfer-Encoding: base64\n\n%s\n"
            % (mime, "file", ext, filename_params(name, rnd), base64_lines(pool.take(size))))


def text_part(text, charset="utf-8"):
    if charset == "windows-1252":
        from quopri import encodestring
        body = encodestring(text.encode("cp1252")).decode()
        return ("Content-Type: text/plain; charset=windows-1252\n"
                "Content-Transfer-Encoding: quoted-printable\n\n%s\n" % body)
    return "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n%s\n" % text


def multipart(subtype, parts, rnd, extra=""):
    boundary = "=_qb_%x" % rnd.getrandbits(64)
    out = 'Content-Type: multipart/%s; boundary="%s"%s\n\n' % (subtype, boundary, extra)
    out += "This is a multi-part message in MIME format.\n"
    for part in parts:
        out += "--%s\n%s" % (boundary, part)
    return out + "--%s--\n" % boundary


def headers(rnd, subject, when, sender, number):
    recipient = rnd.choice(PEOPLE)
    return ("Return-Path: <%s>\nFrom: %s\nTo: %s\nSubject: %s\nDate: %s\n"
            "Message-ID: <%d.%x@demo.example>\nMIME-Version: 1.0\n"
            % (sender[1], mailbox(sender, rnd), mailbox(recipient, rnd),
               header_text(subject, rnd), rfc_date(when), number, rnd.getrandbits(32)))


def email(rnd, pool, number, when, scale, depth=0):
    """One email as text, with 0 to 4 attachments and sometimes a forwarded email."""
    sender = rnd.choice(PEOPLE)
    subject = rnd.choice(SUBJECTS)
    greeting = "Hello,\n\nPlease find the files attached.\n\nRegards,\n%s\n" % (sender[0] or "Billing")
    kind = rnd.random()
    head = headers(rnd, subject, when, sender, number)
    if kind < 0.15 and depth == 0:
        return head + text_part("Just a note, nothing attached.\nCaf\u00e9 at 10?",
                                rnd.choice(["utf-8", "windows-1252"]))
    parts = [text_part(greeting)]
    if rnd.random() < 0.3:
        parts = [multipart("alternative", [text_part(greeting),
                                           "Content-Type: text/html; charset=utf-8\n\n"
                                           "<p>%s</p>\n" % greeting.replace("\n", "<br>")], rnd)]
    for _ in range(rnd.choice([1, 1, 1, 2, 2, 3, 4])):
        parts.append(attachment_part(rnd, pool, scale))
    if rnd.random() < 0.1:
        # An inline image without a name, as HTML mail carries pictures.
        parts.append("Content-Type: image/png\nContent-ID: <logo@demo>\n"
                     "Content-Transfer-Encoding: base64\n\n%s\n" % base64_lines(pool.take(3000)))
    if depth < 2 and rnd.random() < 0.12:
        inner = email(rnd, pool, number * 10 + depth + 1, when - 86400, scale / 4, depth + 1)
        named = rnd.random() < 0.5
        parts.append("Content-Type: message/rfc822%s\nContent-Disposition: %s\n\n%s\n"
                     % ('; name="forwarded.eml"' if named else "",
                        "attachment; filename=\"forwarded.eml\"" if named else "inline", inner))
    if depth == 0 and rnd.random() < 0.05:
        signed = multipart("mixed", parts, rnd)
        return head + multipart("signed", [signed,
                                           "Content-Type: application/pgp-signature; name=\"signature.asc\"\n\n"
                                           "-----BEGIN PGP SIGNATURE-----\nAAAA\n-----END PGP SIGNATURE-----\n"],
                                rnd, '; protocol="application/pgp-signature"; micalg=pgp-sha256')
    if len(parts) == 2 and rnd.random() < 0.1:
        # A single-part email whose only part is the file.
        return head + parts[1]
    return head + multipart("mixed", parts, rnd)


BROKEN = [
    b"",
    b"This file has no headers at all, just text.\n",
    b"From: x@example.com\nSubject: truncated\nMIME-Version: 1.0\n"
    b"Content-Type: multipart/mixed; boundary=\"never-closed\"\n\n--never-closed\n"
    b"Content-Type: application/pdf; name=\"cut.pdf\"\nContent-Transfer-Encoding: base64\n\nJVBERi0",
    bytes(range(256)) * 4,
    b"Subject: =?bogus-charset?Q?caf=E9?= =?UTF-8?B?!!!notbase64?=\nFrom: \"unterminated <a@b>\n"
    b"Content-Type: application/octet-stream\n\n\x00\x01\x02",
]


def folder_directory(root, folder, layout):
    if not folder:
        return root
    if layout == "nested":
        return os.path.join(root, *folder.split("/"))
    return os.path.join(root, "." + ".".join(modified_utf7(level) for level in folder.split("/")))


def modified_utf7(name):
    out, run = "", ""
    for c in name + "\0":
        if c != "\0" and not (0x20 <= ord(c) < 0x7f):
            run += c
            continue
        if run:
            encoded = base64.b64encode(run.encode("utf-16-be")).decode().rstrip("=").replace("/", ",")
            out += "&" + encoded + "-"
            run = ""
        if c == "&":
            out += "&-"
        elif c != "\0":
            out += c
    return out


def write_message(directory, number, when, data, rnd):
    seen = rnd.random() < 0.7
    unique = "%d.M%dP%d.demo" % (when, number, 4242)
    name = unique + (":2,S" if seen else "")
    path = os.path.join(directory, "cur" if seen else "new", name)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (when, when))
    return len(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--emails", type=int, default=300)
    parser.add_argument("--layout", choices=["maildir++", "nested"], default="maildir++")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--average-kb", type=float, default=0,
                        help="scale attachments so emails average about this size")
    args = parser.parse_args()

    rnd = random.Random(args.seed)
    pool = Pool(rnd)
    # At scale 1 an email averages about 1.9 MB.
    scale = args.average_kb / 1940.0 if args.average_kb else 0.05
    for folder in FOLDERS:
        directory = folder_directory(args.out, folder, args.layout)
        for sub in ("cur", "new", "tmp"):
            os.makedirs(os.path.join(directory, sub), exist_ok=True)
        if folder and args.layout == "maildir++":
            open(os.path.join(directory, "maildirfolder"), "w").close()

    start = 1700000000
    total = 0
    for number in range(1, args.emails + 1):
        folder = FOLDERS[0] if rnd.random() < 0.4 else rnd.choice(FOLDERS)
        when = start + number * 3600 + rnd.randrange(3600)
        if number % 97 == 0:
            data = BROKEN[(number // 97) % len(BROKEN)]
        else:
            data = email(rnd, pool, number, when, scale).encode("utf-8")
        total += write_message(folder_directory(args.out, folder, args.layout), number, when, data, rnd)
    print("%s: %d emails, %.1f MB, layout %s" % (args.out, args.emails, total / 1e6, args.layout),
          file=sys.stderr)


if __name__ == "__main__":
    main()
