"""Composes the MIME test messages with Python's email package and writes, next to
each raw message, what Python's own parser finds in it, in the terms the POP3
component reports: the message text and every part's fields, body and decoded bytes.

usage: mime_cases.py OUTDIR   (writes NAME.eml and NAME.expect for every case)
"""
import binascii
import email
import email.policy
import quopri
import random
import sys
from email.mime.application import MIMEApplication
from email.mime.base import MIMEBase
from email.mime.message import MIMEMessage
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText

MAX_MEM = 16384  # the component's default MaxMemAttachment
DIGEST_TEXT = "MultiPart Message Digest, please refer to the attachments"
rng = random.Random(7)


def multipart(subtype, subject, *parts):
    msg = MIMEMultipart(subtype)
    msg["From"] = "Ann Example <ann@tolmail.test>"
    msg["To"] = "mimetest@tolmail.test"
    msg["Subject"] = subject
    for part in parts:
        msg.attach(part)
    return msg


def attachment(data, name, subtype="octet-stream"):
    part = MIMEApplication(data, subtype)
    part.set_param("name", name)
    part.add_header("Content-Disposition", "attachment", filename=name)
    return part


def described(text, description):
    part = MIMEText(text)
    part["Content-Description"] = description
    return part


def quoted_printable(text):
    part = MIMEText("", "plain", "iso-8859-1")
    del part["Content-Transfer-Encoding"]
    part["Content-Transfer-Encoding"] = "quoted-printable"
    part.set_payload(quopri.encodestring(text.encode("latin-1")).decode())
    return part


def sized(length):
    """A 7bit part whose body is exactly `length` characters long."""
    line = "x" * 98 + "\r\n"
    part = MIMEBase("application", "octet-stream")
    part.set_payload((line * (length // len(line) + 1))[:length - 2] + "\r\n")
    part["Content-Transfer-Encoding"] = "7bit"
    part.set_param("name", "sized-%d.txt" % length)
    return part


def composed_cases():
    plain_and_html = [MIMEText("plain version\n"), MIMEText("<p>html version</p>\n", "html")]
    members = []
    for i in range(2):
        inner = MIMEText("digest member %d\n" % i)
        inner["Subject"] = "member %d" % i
        members.append(MIMEMessage(inner))
    return [
        multipart("mixed", "mixed", MIMEText("Hello,\nthe files.\n.a line with a dot\n"),
                  attachment(rng.randbytes(70000), "data.bin"), described("second text part\n", "Notes")),
        multipart("alternative", "alternative", *plain_and_html),
        multipart("mixed", "nested", multipart("alternative", "", *[MIMEText(t.get_payload(), t.get_content_subtype())
                                                                    for t in plain_and_html]),
                  attachment(b"\x00\x01\x02tail", "small.bin")),
        multipart("digest", "digest", *members),
        multipart("mixed", "quoted", quoted_printable("Caf\u00e9 cr\u00e8me, " + "long line " * 12 + "\n"),
                  attachment(b"report body", "Report.doc", "msword")),
        multipart("mixed", "at-limit", MIMEText("sized\n"), sized(MAX_MEM)),
        multipart("mixed", "below-limit", MIMEText("sized\n"), sized(MAX_MEM - 1)),
    ]


def raw_cases():
    """Messages that the composer does not make: written by hand, parsed by Python."""
    empty_header = (
        "From: ann@tolmail.test\r\nSubject: empty-header\r\nMIME-Version: 1.0\r\n"
        'Content-Type: multipart/mixed; boundary="b1"\r\n\r\n'
        "preamble\r\n--b1\r\n\r\nno header here\r\n--b1\r\n"
        "Content-Type: text/plain\r\n\r\nsecond\r\n--b1--\r\n"
    )
    data = rng.randbytes(700)
    lines = "".join(binascii.b2a_uu(data[i:i + 45], backtick=True).decode().replace("\n", "\r\n") for i in range(0, len(data), 45))
    uu = (
        "From: ann@tolmail.test\r\nSubject: uuencoded\r\n\r\n"
        "Here is the file.\r\n\r\nbegin 644 file.zip\r\n" + lines + "`\r\nend\r\nBye.\r\n"
    )
    return [("empty-header", empty_header.encode()), ("uuencoded", uu.encode())]


def leaves(msg):
    """The parts the walk keeps, in order: every part that is not itself multipart."""
    for part in msg.get_payload():
        if part.get_content_maintype() == "multipart":
            yield from leaves(part)
        else:
            yield part


def decoded_text(part):
    body = part.get_payload()
    if (part.get("Content-Transfer-Encoding") or "").upper() == "QUOTED-PRINTABLE" and body:
        return quopri.decodestring(body.encode("latin-1")).decode("latin-1")
    return body


def message_text(msg, parts, preferred):
    """The text the component chooses, from Python's view of the parts."""
    sub = msg.get_content_subtype().upper()
    if sub == "DIGEST":
        return DIGEST_TEXT
    chosen, text = False, ""
    for i, part in enumerate(parts):
        is_text = part.get_content_maintype().upper() == "TEXT"
        if sub == "ALTERNATIVE" and is_text:
            if not chosen:
                text = decoded_text(part)
            chosen = chosen or part.get_content_subtype().upper() == preferred
        elif i == 0 and is_text:
            text = decoded_text(part)
    return text


def hexed(text):
    return text.encode("latin-1").hex()


def multipart_expectations(msg):
    parts = list(leaves(msg))
    out = ["T\t" + hexed(message_text(msg, parts, "PLAIN")), "H\t" + hexed(message_text(msg, parts, "HTML"))]
    digest = msg.get_content_subtype() == "digest"
    for part in parts:
        if digest:
            inner = part.get_payload(0).as_bytes(policy=email.policy.compat32.clone(linesep="\r\n"))
            body, maintype, subtype, decoded = inner.decode("latin-1"), "message", "rfc822", inner
        else:
            body = part.get_payload()
            maintype, subtype = part.get_content_maintype().upper(), part.get_content_subtype().upper()
            decoded = part.get_payload(decode=True)
        fields = [maintype, subtype, (part.get("Content-Transfer-Encoding") or "").upper(),
                  (part.get_param("name") or "").upper(), (part.get("Content-Description") or "").upper()]
        out.append("P\t" + "\t".join(fields) + "\t%d\t%s\t%s" % (len(body), hexed(body), decoded.hex()))
    return out


def uuencoded_expectations(msg):
    text = msg.get_payload()
    begin = text.find("\r\nbegin ") + 2
    encoded, data = "", b""
    for line in text[begin:].split("\r\n")[1:]:
        if line.lower() == "end":
            break
        encoded += line + "\r\n"
        if line and line[0] not in " `":
            data += binascii.a2b_uu(line)
    # The text around the block stays: what comes before "begin" and after "end".
    end = text.lower().find("\r\nend\r\n", begin) + 7
    around = hexed(text[:begin] + text[end:])
    return ["T\t" + around, "H\t" + around,
            "P\t\t\tx-uuencode\tfile.zip\t\t%d\t%s\t%s" % (len(encoded), hexed(encoded), data.hex())]


def expectations(raw):
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    lines = multipart_expectations(msg) if msg.is_multipart() else uuencoded_expectations(msg)
    return "\n".join(lines) + "\n"


def main():
    outdir = sys.argv[1]
    cases = [(m["Subject"], m.as_bytes(policy=email.policy.SMTP)) for m in composed_cases()]
    for name, raw in cases + raw_cases():
        with open("%s/%s.eml" % (outdir, name), "wb") as f:
            f.write(raw)
        with open("%s/%s.expect" % (outdir, name), "w") as f:
            f.write(expectations(raw))


if __name__ == "__main__":
    main()
