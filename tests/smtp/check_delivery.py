"""Checks a message delivered by Postfix into a Maildir: Python's email package parses
it, and every attachment must decode to the bytes of the file it was made from.

Usage: check_delivery.py MAILFILE NAME=PATH...
Exits 0 when every named attachment is present and equal, 1 otherwise.
"""
import binascii
import email
import email.policy
import sys


def uudecode_lines(payload):
    # x-uuencode parts hold data lines only, closed by a line of one grave accent.
    out = bytearray()
    for line in payload.split(b"\r\n"):
        if not line or line.startswith(b"`"):
            break
        out += binascii.a2b_uu(line)
    return bytes(out)


def main():
    raw = open(sys.argv[1], "rb").read()
    # The Maildir file has LF line ends; the message on the wire had CR LF.
    raw = raw.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    expected = dict(arg.split("=", 1) for arg in sys.argv[2:])
    found = {}
    for part in msg.walk():
        name = part.get_filename()
        if name is None:
            continue
        cte = part.get("Content-Transfer-Encoding", "").lower()
        if cte == "x-uuencode":
            data = uudecode_lines(part.get_payload(decode=False).encode("latin-1", "surrogateescape"))
        else:
            data = part.get_payload(decode=True)
        found[name] = (cte, data)
    ok = True
    for name, path in expected.items():
        want = open(path, "rb").read()
        if name not in found:
            print("missing attachment", name)
            ok = False
        elif found[name][1] != want:
            print("attachment %s (%s) differs: %d bytes, expected %d" % (name, found[name][0], len(found[name][1]), len(want)))
            ok = False
    body = msg.get_payload()[0].get_payload() if msg.is_multipart() else msg.get_payload()
    print("body:", body[:60].replace("\r\n", "|"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
