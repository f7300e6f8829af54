"""The round trip from Python against the loopback servers scripts/test.sh starts:
TolvanSMTP (created by ProgID from a registration in a temporary $XDG_DATA_HOME) → Postfix →
Maildir → Dovecot → TolvanPOP3 → Attachment.Save, with both components' events in Python."""
import os
import random

import pytest

import tolmail

USER = os.environ.get("TOLMAIL_PYTHON_TEST_USER", "pyhost")  # a mailbox of its own (scripts/servers/common.sh)
ENCODINGS = {"qp.bin": 1, "b64.bin": 2, "uu.bin": 3, "plain.txt": 7}


def _originals(folder):
    rng = random.Random(7)
    files = {}
    for name in ENCODINGS:
        if name.endswith(".txt"):  # unencoded: 8-bit text in CR LF lines, as SMTP carries it
            line = bytes(rng.choice(range(0x20, 0x100)) for _ in range(70)) + b"\r\n"
            data = line * 300
        else:
            data = bytes(rng.getrandbits(8) for _ in range(50000))
        path = folder / name
        path.write_bytes(data)
        files[name.upper()] = (str(path), data)
    return files


@pytest.fixture
def registered(library, tmp_path, monkeypatch):
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "data"))
    tolmail.register(library)
    monkeypatch.delenv("TOLMAIL_LIBRARY")
    yield
    tolmail.unregister(library)


def test_attachments_in_all_four_encodings_come_back_byte_identical(servers, registered, tmp_path):
    servers.clear(USER)
    originals = _originals(tmp_path)
    smtp_events, pop3_events = [], []

    class SmtpSink:
        def OnSMTPEvent(self, paramtext, task, param1, param2):
            smtp_events.append((task, paramtext))

    class Pop3Sink:
        def OnPOP3Event(self, paramtext, task, param1, param2):
            pop3_events.append((task, paramtext))

    smtp = tolmail.Dispatch("TolvanMail.TolvanSMTP")
    tolmail.WithEvents(smtp, SmtpSink)
    smtp.Host = servers.smtp_host
    smtp.Port = servers.smtp_port
    smtp.TimeOut = 60
    smtp.FromEmail = "python@" + servers.domain
    smtp.Subject = "from Python"
    smtp.MailBody = "The files.\r\n"
    assert smtp.AddRecipients("Py Host", "%s@%s" % (USER, servers.domain), 1) == 0
    for name, (path, _) in originals.items():
        assert smtp.AddAttachment(path, ENCODINGS[name.lower()]) == 0, name
    assert smtp.Connect() == 0, smtp.SMTPError
    assert smtp.Send() == 0, smtp.SMTPError
    smtp.Disconnect()
    assert smtp_events and all(isinstance(text, str) for _, text in smtp_events)
    assert servers.wait_for(USER, 1) == 1

    pop3 = tolmail.Dispatch("TolvanMail.TolvanPOP3")
    tolmail.WithEvents(pop3, Pop3Sink())
    pop3.Host, pop3.Port = servers.pop3_host, servers.pop3_port
    pop3.Login, pop3.Password = USER, servers.password
    pop3.CachedDirectory = str(tmp_path / "cache") + "/"
    os.mkdir(tmp_path / "cache")
    assert pop3.Connect() == 0, pop3.POP3Error
    assert pop3.GetMessages(2) == 0, pop3.POP3Error
    pop3.Disconnect()
    assert pop3_events and all(isinstance(text, str) for _, text in pop3_events)

    message = pop3.Messages(1)
    assert message.Subject == "from Python"
    saved = {}
    for part in message.Attachments:
        if not part.Filename:
            continue  # the text part
        target = str(tmp_path / ("saved-" + part.Filename))
        assert part.Save(target) == 0, part.Filename
        with open(target, "rb") as file:
            saved[part.Filename] = file.read()
    assert sorted(saved) == sorted(originals)
    for name, (_, data) in originals.items():
        assert saved[name] == data, name
    assert servers.messages_in(USER) == 0, "GetMessages(2) deletes what it received whole"
