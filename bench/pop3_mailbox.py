"""Fills a test user's Maildir for the retrieval benchmarks: COUNT messages composed by
Python's email package, each a short text part and a random attachment of SIZE bytes
in base64.

usage: pop3_mailbox.py MAILDIR COUNT SIZE
"""
import os
import pwd
import random
import sys
import time
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
import email.policy


def main():
    maildir, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    owner = pwd.getpwnam("tolmail") if os.geteuid() == 0 else None
    for sub in ("new", "cur", "tmp"):
        os.makedirs(os.path.join(maildir, sub), exist_ok=True)
        for name in os.listdir(os.path.join(maildir, sub)):
            os.remove(os.path.join(maildir, sub, name))
    rng = random.Random(1)
    for i in range(count):
        msg = MIMEMultipart("mixed")
        msg["From"] = "Bench Sender <sender@tolmail.test>"
        msg["To"] = "bench@tolmail.test"
        msg["Subject"] = "benchmark message %d" % (i + 1)
        msg.attach(MIMEText("Message %d of the benchmark mailbox.\n" % (i + 1)))
        part = MIMEApplication(rng.randbytes(size))
        part.add_header("Content-Disposition", "attachment", filename="data-%d.bin" % (i + 1))
        part.set_param("name", "data-%d.bin" % (i + 1))
        msg.attach(part)
        name = "%d.M%06dP%d.bench" % (int(time.time()), i, os.getpid())
        staged = os.path.join(maildir, "tmp", name)
        with open(staged, "wb") as f:
            f.write(msg.as_bytes(policy=email.policy.SMTP))
        if owner:
            os.chown(staged, owner.pw_uid, owner.pw_gid)
        os.rename(staged, os.path.join(maildir, "new", name))


if __name__ == "__main__":
    main()
