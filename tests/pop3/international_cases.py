"""Composes messages with non-ASCII subjects, display names, attachment names and texts
with Python's email package (EmailMessage, default policy) and writes, next to each raw
message, what Python's own parser reads back from it.

usage: international_cases.py OUTDIR   (writes NAME.eml and NAME.expect for every case)

An .expect file has one line per value: a key, a tab, the value's UTF-8 in hex.
S subject, F From's display name, R each To and Cc display name in order, X the plain
text (line ends as LF), A each attachment's file name in order.
"""
import binascii
import email
import email.policy
import sys
from email.message import EmailMessage


def message(number, subject, sender, recipients, copies=()):
    msg = EmailMessage()
    msg["Message-ID"] = "<intl-%d@tolmail.test>" % number
    msg["Subject"] = subject
    msg["From"] = sender
    msg["To"] = ", ".join(recipients)
    if copies:
        msg["Cc"] = ", ".join(copies)
    return msg


def cases():
    first = message(1, "Grüße aus Köln – 日本語のテキスト, Привет мир, and a subject long enough to fold",
                    "Jörg Müller <jm@tolmail.test>",
                    ['"Doe, John" <jd@tolmail.test>', "Émilie Dubois <ed@tolmail.test>"],
                    ["山田太郎 <yamada@tolmail.test>"])
    first.set_content("Hällo wörld,\nliebe Grüße.\n")
    first.add_attachment(b"%PDF-1.4 fake", maintype="application", subtype="pdf", filename="Résumé 2026.pdf")
    first.add_attachment(b"long", maintype="application", subtype="octet-stream",
                         filename="Überlänge " * 9 + "Датотека.txt")
    yield "utf8", first

    latin = message(2, "Ça va? Déjà vu", "François <fr@tolmail.test>", ["mimetest@tolmail.test"])
    latin.set_content("Café crème à la française.\n" * 3, charset="iso-8859-1")
    latin.add_attachment("naïve text\n".encode("iso-8859-1"), maintype="text", subtype="plain",
                         filename="naïve.txt")
    yield "latin1", latin

    japanese = message(3, "日本語の件名", "山田 花子 <hanako@tolmail.test>", ["mimetest@tolmail.test"])
    japanese.set_content("こんにちは、世界。\n", charset="shift_jis")
    yield "shiftjis", japanese

    russian = message(4, "Отчёт за квартал", "Иван Петров <ivan@tolmail.test>", ["mimetest@tolmail.test"])
    russian.set_content("Добрый день!\n", charset="koi8-r")
    russian.add_attachment(b"\x00\x01", maintype="application", subtype="octet-stream", filename="отчёт.bin")
    yield "koi8r", russian


def names(field):
    return [address.display_name for address in field.addresses] if field is not None else []


def expect(raw):
    parsed = email.message_from_bytes(raw, policy=email.policy.default)
    lines = [("S", str(parsed["Subject"])), ("F", names(parsed["From"])[0])]
    lines += [("R", name) for name in names(parsed["To"]) + names(parsed["Cc"])]
    lines.append(("X", parsed.get_body(("plain",)).get_content().replace("\r\n", "\n")))
    lines += [("A", part.get_filename()) for part in parsed.iter_attachments()]
    return "".join("%s\t%s\n" % (key, binascii.hexlify(value.encode("utf-8")).decode()) for key, value in lines)


def main():
    out = sys.argv[1]
    for name, msg in cases():
        raw = msg.as_bytes()
        with open("%s/%s.eml" % (out, name), "wb") as f:
            f.write(raw)
        with open("%s/%s.expect" % (out, name), "w") as f:
            f.write(expect(raw))
    return 0


if __name__ == "__main__":
    sys.exit(main())
