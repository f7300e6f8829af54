"""Prints what Python's email package (policy.default) reads in a message file: the
subject, every address with its display name, each attachment's name and bytes (hex),
the text, and any defect it found on the way.

Usage: read_message.py MAILFILE
"""
import email
import email.policy
import sys

from check_delivery import uudecode_lines  # the one x-uuencode reader of these checks


def main():
    raw = open(sys.argv[1], "rb").read()
    # A Maildir file has LF line ends; the message on the wire had CR LF.
    raw = raw.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    print("subject=" + str(msg["subject"]))
    for field in ("from", "to", "cc", "reply-to"):
        header = msg[field]
        for address in (header.addresses if header is not None else ()):
            print("%s=%s|%s" % (field, address.display_name, address.addr_spec))
    for field in ("x-note",):
        if msg[field] is not None:
            print("%s=%s" % (field, str(msg[field])))
    for name in msg.keys():
        for defect in msg[name].defects:
            print("defect in %s: %s" % (name, defect))
    for part in msg.walk():
        for defect in part.defects:
            print("defect in a part: %s" % defect)
    for part in msg.iter_attachments():
        if part.get("Content-Transfer-Encoding", "").lower() == "x-uuencode":
            data = uudecode_lines(part.get_payload(decode=False).encode("ascii"))
        else:
            data = part.get_payload(decode=True)
        print("attachment=%s|%s" % (part.get_filename(), data.hex()))
    body = msg.get_body(("plain",))
    print("text=" + (body.get_content().rstrip("\r\n") if body is not None else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
