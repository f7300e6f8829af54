"""The Python side of the sending benchmark: builds a message with one attachment with
the email package (base64) and sends it with smtplib, or writes it for curl.

  smtp_python_send.py HOST PORT FILE     build and send (the timed job)
  smtp_python_send.py --write OUT FILE   build only and write the message with CR LF
                                         line ends (curl's upload, built untimed)
With TOLMAIL_BENCH_CA set (a PEM file), the session uses STARTTLS verified against it
and logs in as TOLMAIL_BENCH_USER with TOLMAIL_BENCH_PASSWORD.
"""
import email.policy
import os
import smtplib
import ssl
import sys
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText


def build(path):
    msg = MIMEMultipart()
    msg["From"] = "Bench Sender <sender@tolmail.test>"
    msg["To"] = "Bench <bench@tolmail.test>"
    msg["Subject"] = "benchmark"
    msg.attach(MIMEText("A large attachment follows.\n"))
    with open(path, "rb") as f:
        msg.attach(MIMEApplication(f.read(), Name=os.path.basename(path)))
    return msg


def main():
    if sys.argv[1] == "--write":
        with open(sys.argv[2], "wb") as out:
            out.write(build(sys.argv[3]).as_bytes(policy=email.policy.SMTP))
        return
    host, port, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    with smtplib.SMTP(host, port) as server:
        ca = os.environ.get("TOLMAIL_BENCH_CA")
        if ca:
            server.starttls(context=ssl.create_default_context(cafile=ca))
            server.login(os.environ["TOLMAIL_BENCH_USER"], os.environ["TOLMAIL_BENCH_PASSWORD"])
        server.sendmail("sender@tolmail.test", ["bench@tolmail.test"], build(path).as_bytes())


if __name__ == "__main__":
    main()
