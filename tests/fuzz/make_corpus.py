#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/<target>/.

The protocol seeds are whole server transcripts (the replies a POP3 or SMTP server sends
to our components), with messages composed by Python's email package. Each seed starts
with the header the targets read (see stream_peer.h): an options byte, the number of
cuts, the cuts (0 = wait for the client's next command), then the stream.
Rerunning it rewrites the seeds it names and leaves inputs the fuzzers added alone.
"""
import base64
import binascii
import os
import sys
from email.message import EmailMessage
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.policy import SMTP

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def crlf(message) -> bytes:
    # Fixed boundaries keep the seeds the same from one run to the next.
    for number, part in enumerate(message.walk()):
        if part.is_multipart():
            part.set_boundary("=_part%d_boundary" % number)
    return message.as_bytes(policy=SMTP)


def retr(message: bytes) -> bytes:
    """The "RETR" reply: status, dot-stuffed text, terminator."""
    lines = message.split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    stuffed = [b"." + line if line.startswith(b".") else line for line in lines]
    return b"+OK %d octets\r\n" % len(message) + b"\r\n".join(stuffed) + b"\r\n.\r\n"


def mixed() -> bytes:
    outer = MIMEMultipart("mixed")
    outer["From"] = '"Doe, John" <jd@example.com>'
    outer["To"] = "Ann <ann@example.org>, bob@example.org"
    outer["Subject"] = "Quarterly figures, folded over\r\n two lines"
    outer["Date"] = "Tue, 01 Dec 2026 10:00:00 +0000"
    outer["Message-ID"] = "<1@example.com>"
    outer.attach(MIMEText("Figures attached.\n.\n.. and a dotted line\n", "plain", "utf-8"))
    outer.attach(MIMEApplication(bytes(range(256)) * 2, Name="figures.bin"))
    qp = MIMEText("caf\u00e9 = bistro " * 8, "plain", "iso-8859-1")
    qp.add_header("Content-Disposition", "attachment", filename="notes.txt")
    outer.attach(qp)
    return crlf(outer)


def alternative() -> bytes:
    message = EmailMessage()
    message["From"] = "news@example.net"
    message["To"] = "reader@example.org"
    message["Subject"] = "=?utf-8?q?Gr=C3=BC=C3=9Fe?="
    message.set_content("Plain text version.\n")
    message.add_alternative("<html><body><p>HTML version.</p></body></html>\n", subtype="html")
    message.get_payload()[1].add_related(b"\x89PNG\r\n\x1a\n" + b"\0" * 40, "image", "png", cid="<logo>")
    return crlf(message)


def digest() -> bytes:
    inner = EmailMessage()
    inner["From"] = "a@example.org"
    inner["Subject"] = "inner"
    inner.set_content("inner body\n")
    outer = EmailMessage()
    outer["From"] = "list@example.org"
    outer["Subject"] = "digest"
    outer.make_mixed()
    outer.attach(inner)
    return crlf(outer)


def uuencoded() -> bytes:
    data = b"uuencoded payload\n" * 5
    lines = [binascii.b2a_uu(data[i:i + 45]).rstrip(b"\n") for i in range(0, len(data), 45)]
    body = b"Here is the file:\r\n\r\nbegin 644 payload.txt\r\n" + b"\r\n".join(lines) + b"\r\n`\r\nend\r\n"
    return (b"From: old@example.com\r\nSubject:no blank after the colon\r\nTo: you@example.org\r\n\r\n" + body)


def plain_qp() -> bytes:
    message = EmailMessage()
    message["From"] = "qp@example.org"
    message["Subject"] = "quoted-printable"
    message.set_content("Line with a trailing blank \nand =equals= and caf\u00e9\n" * 3, cte="quoted-printable")
    return crlf(message)


def pieces(length: int):
    """Cut bytes that write exactly `length` bytes (1..198 as is, 200.. in 256s)."""
    cuts = []
    while length >= 256:
        blocks = min(length // 256, 56)
        cuts.append(199 + blocks)
        length -= blocks * 256
    while length > 0:
        cuts.append(min(length, 198))
        length -= cuts[-1]
    return cuts


def seed(options: int, replies, paced: bool = True, cuts=None, bytewise_last: bool = False) -> bytes:
    """Header and stream; paced: each reply waits for its command, as a server does;
    bytewise_last: the last reply goes out a byte at a time."""
    stream = b"".join(replies)
    if paced:
        cuts = []
        for i, reply in enumerate(replies):
            if i:
                cuts.append(0)
            last = bytewise_last and i == len(replies) - 1
            cuts += [1] * len(reply) if last else pieces(len(reply))
        cuts = cuts[:31]
    cuts = cuts or []
    return bytes([options, len(cuts)]) + bytes(cuts) + stream


def pop3_seeds():
    login = [b"+OK POP3 ready <1.2@example.org>\r\n", b"+OK\r\n", b"+OK Logged in.\r\n"]
    quit_ = [b"+OK Bye\r\n"]
    m1, m2, m3, m4 = mixed(), uuencoded(), alternative(), plain_qp()
    erase, headers = 2, 1
    stat = lambda n: b"+OK %d %d\r\n" % (n, 4000 * n)
    yield "two-deleted", seed(erase, login + [stat(2), retr(m1), b"+OK\r\n", retr(m2), b"+OK\r\n"] + quit_)
    yield "two-deleted-at-once", seed(erase, login + [stat(2), retr(m1), b"+OK\r\n", retr(m2), b"+OK\r\n"] + quit_,
                                      paced=False)
    yield "two-kept-paced", seed(0, login + [stat(2), retr(m3), retr(m4)] + quit_)
    yield "digest-small-memory", seed(4 | 8, login + [stat(1), retr(digest())] + quit_)
    yield "html-no-memory", seed(4 | 16 | erase, login + [stat(1), retr(m3), b"+OK\r\n"] + quit_)
    header = m1.split(b"\r\n\r\n")[0] + b"\r\n"
    top = [b"+OK 1 %d\r\n" % len(m1), b"+OK\r\n" + header + b"\r\n.\r\n"]
    yield "headers-then-retr", seed(headers | erase, login + [stat(1)] + top + [retr(m1), b"+OK\r\n"] + quit_)
    yield "text-on-disk", seed(32 | erase, login + [stat(2), retr(m4), b"+OK\r\n", retr(m1), b"+OK\r\n"] + quit_)
    yield "errors", seed(erase, login + [stat(2), b"-ERR no such message\r\n"] + quit_)
    yield "login-refused", seed(0, login[:2] + [b"-ERR [AUTH] Authentication failed.\r\n"])
    # Writes of a few bytes around the line ends of a message's last lines.
    small = retr(m4)
    yield "cut-at-terminator", seed(erase, login + [stat(1), small, b"+OK\r\n"] + quit_, paced=False,
                                    cuts=[len(b"".join(login)) + 10, 0, 198, 198, 198, 1, 1, 1, 1, 2, 3])


def smtp_seeds():
    greeting = [b"220 mail.example.org ESMTP ready\r\n", b"250 mail.example.org\r\n"]
    transaction = [b"250 2.1.0 Ok\r\n", b"250 2.1.5 Ok\r\n", b"354 End data with <CR><LF>.<CR><LF>\r\n",
                   b"250 2.0.0 Ok: queued as 4F3A\r\n"]
    quit_ = [b"221 2.0.0 Bye\r\n"]
    yield "mime-base64", seed(4, greeting + transaction + quit_)
    yield "mime-quoted-printable", seed(2, greeting + transaction + quit_)
    multi = [b"220-mail.example.org ESMTP\r\n220-second line\r\n220 last line\r\n",
             b"250-mail.example.org\r\n250-PIPELINING\r\n250 8BITMIME\r\n"]
    rcpt3 = transaction[:2] + [transaction[1]] * 2 + transaction[2:]
    yield "multiline-cc-bcc", seed(8 | 6, multi + rcpt3 + quit_)
    yield "plain-two-transactions", seed(1 | 6, greeting + transaction * 2 + quit_)
    yield "rcpt-refused", seed(2, greeting + transaction[:1] + [b"550 5.1.1 No such user\r\n"] + quit_)
    yield "data-refused", seed(0, greeting + transaction[:2] + [b"554 5.5.1 No valid recipients\r\n"] + quit_)
    yield "greeting-refused", seed(0, [b"554 5.7.1 Go away\r\n"])
    yield "bytewise-end", seed(4, greeting + transaction, bytewise_last=True)
    yield "all-at-once", seed(4, greeting + transaction + quit_, paced=False)
    ehlo = [greeting[0], b"250-mail.example.org\r\n250-SIZE 0\r\n250 AUTH LOGIN PLAIN XOAUTH2\r\n"]
    yield "auth-plain", seed(16 | 4, ehlo + [b"235 2.7.0 Authentication successful\r\n"] + transaction + quit_)
    yield "auth-token", seed(16 | 32, ehlo + [b"235 2.7.0 Authentication successful\r\n"] + transaction + quit_)
    login_only = [greeting[0], b"250-mail.example.org\r\n250 AUTH=LOGIN\r\n"]
    yield "auth-login", seed(16, login_only + [b"334 VXNlcm5hbWU6\r\n", b"334 UGFzc3dvcmQ6\r\n",
                                               b"235 2.7.0 Authentication successful\r\n"] + transaction + quit_)
    yield "auth-refused", seed(16, ehlo + [b"535 5.7.8 Error: authentication failed\r\n"])
    yield "ehlo-refused", seed(16, [greeting[0], b"502 5.5.2 Error: command not recognized\r\n", greeting[1]])


def function_seeds():
    m = mixed()
    yield "base64_decode", "text", base64.encodebytes(bytes(range(200)))
    yield "get_word", "words", b"\x02+OK 12 3456 extra words\r\n"
    yield "header_reader", "retr", b"\x00" + m.split(b"\r\n\r\n")[0] + b"\r\n\r\n"
    yield "header_reader", "top", b"\x01" + uuencoded().split(b"\r\n\r\n")[0] + b"\r\n.\r\n"
    yield "header_reader", "international", (b"\x02From: =?utf-8?Q?J=C3=B6rg?= <j@example.com>\r\n"
                                             b"To: \xc3\x89milie <e@example.org>, \"Doe, John\" <jd@example.org>\r\n"
                                             b"Subject: =?koi8-r?B?8NLJ18XU?=\r\n =?shift_jis?B?k/o=?=\r\n"
                                             b"Content-Type: text/plain; charset=iso-8859-1\r\n"
                                             b"Content-Disposition: attachment; filename*0*=utf-8''Gr%C3%BC;"
                                             b" filename*1*=%C3%9Fe.txt\r\n\r\n")
    body = m.split(b"\r\n\r\n", 1)[1]
    boundary = m.split(b'boundary="')[1].split(b'"')[0]
    yield "mime_walk", "mixed", bytes([31, 0, 0]) + body.replace(boundary, b"b") + b".\r\n"
    yield "mime_walk", "international", bytes([31, 16, 0]) + body.replace(boundary, b"b") + b".\r\n"
    yield "parse_content_type", "multipart", b'multipart/mixed; boundary="==b=="; charset=utf-8'
    yield "qp_decode", "text", b"caf=C3=A9 =3D soft=\r\nbreak \r\n"
    yield "split_address", "list", b'"Doe, John" <jd@example.com>, Ann <ann@example.org>; bob@example.org'
    yield "uu_decode", "line", binascii.b2a_uu(b"uuencoded payload of 45 bytes, more or less!")
    yield "encoded_word_decoder", "subject", (b"Re: =?utf-8?Q?Gr=C3=BC=C3=9Fe?= =?ISO-8859-1*fr?B?6XTp?=\t"
                                              b"=?shift_jis?B?k/o=?= =?utf-8?q?broken ?= \xe9t\xe9")
    yield "encoded_word_decoder", "split", b"=?utf-8?B?w6k=?= =?utf-8?Q?=E2=82?= =?UTF-8?Q?=AC?= =?koi8-r?B?8NLJ18XU?="
    yield "mime_parameters", "sections", (b"attachment; filename*1*=%C3%9Fe.txt; filename*0*=utf-8'de'Gr%C3%BC;"
                                          b" size=12")
    yield "mime_parameters", "quoted", (b'text/plain; charset="iso-8859-1"; name="=?utf-8?B?w6l0w6kudHh0?=";'
                                        b' title="a \\"b\\" c"; name*=iso-8859-1\'\'%E9')


def write(target: str, name: str, data: bytes):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def main():
    for name, data in pop3_seeds():
        write("pop3_session", name, data)
    for name, data in smtp_seeds():
        write("smtp_session", name, data)
    for target, name, data in function_seeds():
        write(target, name, data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
