"""The retrieval job in Python, for comparison: poplib downloads every message, the
email package parses it, its text goes to OUTDIR/message-N.txt and every attachment is
decoded into OUTDIR: the files `tolmail fetch --save-dir` writes.

usage: pop3_python_fetch.py HOST PORT USER PASSWORD OUTDIR
With TOLMAIL_BENCH_CA set (a PEM file), the session is POP3 over implicit TLS verified
against it.
"""
import email
import os
import poplib
import ssl
import sys


def main():
    host, port, user, password, outdir = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
    ca = os.environ.get("TOLMAIL_BENCH_CA")
    if ca:
        context = ssl.create_default_context(cafile=ca)
        pop = poplib.POP3_SSL(host, port, context=context)
    else:
        pop = poplib.POP3(host, port)
    pop.user(user)
    pop.pass_(password)
    count, _ = pop.stat()
    for n in range(1, count + 1):
        _, lines, _ = pop.retr(n)
        msg = email.message_from_bytes(b"\r\n".join(lines) + b"\r\n")
        text = None
        for part in msg.walk():
            name = part.get_filename()
            if name and not part.is_multipart():
                with open(os.path.join(outdir, os.path.basename(name)), "wb") as f:
                    f.write(part.get_payload(decode=True))
            elif text is None and part.get_content_type() == "text/plain":
                text = part.get_payload(decode=True)
        with open(os.path.join(outdir, "message-%d.txt" % n), "wb") as f:
            f.write(text or b"")
    pop.quit()


if __name__ == "__main__":
    main()
