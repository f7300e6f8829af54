#!/usr/bin/env python3
"""Sends a message with attachments through TolvanSMTP, printing the component's progress.

    TOLMAIL_LIBRARY=build/libtolmail.so python3 examples/send.py \
        --host 127.0.0.1 --port 2525 --from me@example.org --to you@example.org file...
"""
import argparse
import sys

import tolmail

BASE64 = 2
TO = 1


class Progress:
    """Receives TolvanSMTP's events: only the ones named here are delivered."""

    def OnSMTPEvent(self, paramtext, task, param1, param2):
        print("  [%2d] %s" % (task, paramtext), file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", required=True)
    parser.add_argument("--port", type=int, default=25)
    parser.add_argument("--from", dest="sender", required=True)
    parser.add_argument("--to", required=True, action="append")
    parser.add_argument("--subject", default="Sent from Python")
    parser.add_argument("files", nargs="*")
    options = parser.parse_args()

    smtp = tolmail.Dispatch("TolvanMail.TolvanSMTP")
    tolmail.WithEvents(smtp, Progress)
    smtp.Host = options.host
    smtp.Port = options.port
    smtp.FromEmail = options.sender
    smtp.Subject = options.subject
    smtp.MailBody = "Hello from Python.\r\n"
    for address in options.to:
        if smtp.AddRecipients(address.partition("@")[0], address, TO) != 0:  # a name is required
            sys.exit("not a usable address: %s" % address)
    for path in options.files:
        if smtp.AddAttachment(path, BASE64) != 0:
            sys.exit("no such file: %s" % path)
    code = smtp.Send()  # connects first when not connected
    smtp.Disconnect()
    if code != 0:
        sys.exit("not sent (%d): %s" % (code, smtp.SMTPError))
    print("sent")


if __name__ == "__main__":
    main()
