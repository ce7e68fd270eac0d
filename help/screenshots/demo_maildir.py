#!/usr/bin/env python3
"""Writes the small Maildir that the manual's screenshots show: a few everyday emails
with attachments in the Inbox, and two more folders. Always the same mail.

    demo_maildir.py OUT
"""
import os
import sys
import time
from email.message import EmailMessage
from email.utils import format_datetime
from datetime import datetime, timezone

# (folder, subject, sender, received, [(file name, kind, bytes)])
EMAILS = [
    ("", "Q3 report", "Alice Martin <alice@example.com>", (2024, 10, 2, 9, 14),
     [("Q3 report.pdf", "application/pdf", 412_000), ("figures.xlsx", "application/vnd.ms-excel", 96_000)]),
    ("", "Holiday photos", "Bob O'Neil <bob@example.org>", (2024, 8, 19, 18, 40),
     [("beach.jpg", "image/jpeg", 2_310_000), ("harbour.jpg", "image/jpeg", 1_870_000),
      ("sunset.jpg", "image/jpeg", 2_050_000)]),
    ("", "Invoice 2024-117", "Billing <billing@example.com>", (2024, 9, 30, 7, 2),
     [("invoice-2024-117.pdf", "application/pdf", 58_000)]),
    ("", "Minutes of Monday's meeting", "Zoe Francois <zoe@example.fr>", (2024, 10, 7, 16, 25),
     [("minutes.docx", "application/msword", 31_000)]),
    ("", "Contract signed", "Doe, John <john.doe@example.net>", (2024, 6, 12, 11, 3),
     [("contract.pdf", "application/pdf", 780_000)]),
    ("", "Slides for the offsite", "Alice Martin <alice@example.com>", (2024, 9, 5, 14, 51),
     [("offsite.pptx", "application/vnd.ms-powerpoint", 5_400_000)]),
    ("", "Lunch on Friday?", "Bob O'Neil <bob@example.org>", (2024, 10, 9, 12, 0), []),
    ("", "Scanned receipts", "Juergen Mueller <juergen@example.de>", (2024, 7, 22, 10, 37),
     [("receipts.zip", "application/zip", 3_120_000)]),
    ("Projects", "Budget draft", "Zoe Francois <zoe@example.fr>", (2024, 5, 14, 9, 30),
     [("budget.xlsx", "application/vnd.ms-excel", 120_000)]),
    ("Receipts", "Your order has shipped", "Shop <orders@example.com>", (2024, 4, 3, 8, 15),
     [("receipt.pdf", "application/pdf", 44_000)]),
]


def write(root, number, folder, subject, sender, received, attachments):
    path = os.path.join(root, "." + folder) if folder else root
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(path, sub), exist_ok=True)
    when = datetime(*received, tzinfo=timezone.utc)
    message = EmailMessage()
    message["From"] = sender
    message["To"] = "Ann <ann@example.com>"
    message["Subject"] = subject
    message["Date"] = format_datetime(when)
    message.set_content("Hello Ann,\n\nplease find it attached.\n\nBest wishes\n")
    for name, kind, size in attachments:
        main, sub = kind.split("/")
        payload = (name.encode() * (size // len(name) + 1))[:size]
        message.add_attachment(payload, maintype=main, subtype=sub, filename=name)
    stamp = int(when.timestamp())
    file = os.path.join(path, "cur", "%d.M%dP1.demo:2,S" % (stamp, number))
    with open(file, "wb") as out:
        out.write(bytes(message))
    os.utime(file, (stamp, stamp))


def main():
    root = sys.argv[1]
    for number, email in enumerate(EMAILS):
        write(root, number, *email)


if __name__ == "__main__":
    main()
