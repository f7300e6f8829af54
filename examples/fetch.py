#!/usr/bin/env python3
"""Lists a POP3 mailbox with TolvanPOP3 and saves every attachment into a folder; the
messages stay on the server.

    TOLMAIL_LIBRARY=build/libtolmail.so python3 examples/fetch.py \
        --host 127.0.0.1 --port 11110 --user demo --password tolmail-pass --into saved/
"""
import argparse
import getpass
import os
import sys

import tolmail

RETRIEVE_ONLY = 0  # no bits: the message stays at the server


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", required=True)
    parser.add_argument("--port", type=int, default=110)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password")
    parser.add_argument("--into", default="attachments")
    options = parser.parse_args()

    pop3 = tolmail.Dispatch("TolvanMail.TolvanPOP3")
    pop3.Host = options.host
    pop3.Port = options.port
    pop3.Login = options.user
    pop3.Password = options.password if options.password is not None else getpass.getpass()
    if pop3.Connect() != 0:
        sys.exit("cannot log in: %s" % pop3.POP3Error)
    try:
        if pop3.GetMessages(RETRIEVE_ONLY) != 0:
            sys.exit("cannot fetch: %s" % pop3.POP3Error)
    finally:
        pop3.Disconnect()

    os.makedirs(options.into, exist_ok=True)
    for number, message in enumerate(pop3.Messages, 1):
        print("%3d  %-30.30s  %s" % (number, message.FromAddress, message.Subject))
        for part in message.Attachments:
            if part.Filename:
                target = os.path.join(options.into, "%d-%s" % (number, part.Filename))
                if part.Save(target) == 0:
                    print("       saved %s (%s bytes)" % (target, part.Size))


if __name__ == "__main__":
    main()
