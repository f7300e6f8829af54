#!/usr/bin/env python3
"""Proves the test servers' TLS and SASL set-up before any of our own TLS code runs.

Talks to the servers started by scripts/servers/{dovecot,postfix}.sh through Python's
standard library only, trusting nothing but TOLMAIL_CA_FILE: if a check fails here, a
failing TLS test of ours says nothing about our code. Needs the env files of the run
directory (ca.env, dovecot.env, postfix.env) in the environment. Every connection has a
timeout, so a hung server fails the check within seconds instead of stalling the run.

    set -a; source "$TOLMAIL_RUN_DIR"/ca.env ...; set +a
    python3 tests/integration/tls_servers_check.py
"""

import os
import poplib
import smtplib
import ssl
import sys
import time
import uuid
from email.message import EmailMessage

TIMEOUT = 10  # seconds per connection; delivery is awaited as long


def env(name):
    value = os.environ.get(name)
    if not value:
        raise SystemExit(f"tls_servers_check: {name} is not set; source the servers' env files")
    return value


HOST = "127.0.0.1"
CLIENT_NAME = "check.tolmail.test"
SERVER_NAME = env("TOLMAIL_TLS_SERVER_NAME")
USER = env("TOLMAIL_SASL_USER")
PASSWORD = env("TOLMAIL_SASL_PASSWORD")
DOMAIN = env("TOLMAIL_MAIL_DOMAIN")
MAIL_ROOT = env("TOLMAIL_MAIL_ROOT")
PORTS = {
    "smtp": int(env("TOLMAIL_SMTP_PORT")),
    "submission": int(env("TOLMAIL_SUBMISSION_PORT")),
    "smtps": int(env("TOLMAIL_SMTPS_PORT")),
    "pop3": int(env("TOLMAIL_POP3_PORT")),
    "pop3s": int(env("TOLMAIL_POP3S_PORT")),
}


class CheckFailed(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise CheckFailed(what)


class NamedContext:
    """Trusts only TOLMAIL_CA_FILE and checks the certificate for the server's name.

    smtplib and poplib pass the host they connected to as the name to check; they
    connect to 127.0.0.1 (the name "localhost" could lead to ::1, where nothing
    listens), so the name is put back here.
    """

    def __init__(self):
        self.inner = ssl.create_default_context(cafile=env("TOLMAIL_CA_FILE"))

    def wrap_socket(self, sock, server_hostname=None):
        return self.inner.wrap_socket(sock, server_hostname=SERVER_NAME)


class Smtp(smtplib.SMTP):
    def __init__(self, port):
        super().__init__(HOST, port, local_hostname=CLIENT_NAME, timeout=TIMEOUT)

    def secure(self):
        self.starttls(context=NamedContext())
        self.ehlo()


class Smtps(smtplib.SMTP_SSL):
    def __init__(self, port):
        super().__init__(HOST, port, local_hostname=CLIENT_NAME, timeout=TIMEOUT,
                         context=NamedContext())
        self.ehlo()


class Pop3Stls(poplib.POP3):
    def __init__(self):
        super().__init__(HOST, PORTS["pop3"], timeout=TIMEOUT)
        expect("STLS" in self.capa(), "POP3 does not offer STLS")
        self.stls(context=NamedContext())


class Pop3s(poplib.POP3_SSL):
    def __init__(self):
        super().__init__(HOST, PORTS["pop3s"], timeout=TIMEOUT, context=NamedContext())


def marker_message(marker, via):
    message = EmailMessage()
    message["From"] = f"{USER}@{DOMAIN}"
    message["To"] = f"{USER}@{DOMAIN}"
    message["Subject"] = f"tls check {via} {marker}"
    message.set_content(f"sent through {via}\n")
    return message


def wait_for_delivery(marker):
    """The Maildir file holding `marker`, waiting up to TIMEOUT seconds."""
    maildir = os.path.join(MAIL_ROOT, USER, "Maildir")
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        for folder in ("new", "cur"):
            path = os.path.join(maildir, folder)
            for name in os.listdir(path):
                try:
                    with open(os.path.join(path, name), "rb") as file:
                        if marker.encode() in file.read():
                            return os.path.join(path, name)
                except FileNotFoundError:
                    pass  # moved from new/ to cur/ by a POP3 session meanwhile
        time.sleep(0.1)
    raise CheckFailed(f"message {marker} not delivered into {maildir} within {TIMEOUT} s")


def smtp_open_port():
    with Smtp(PORTS["smtp"]) as client:
        client.ehlo()
        expect(client.has_extn("starttls"), "smtp does not offer STARTTLS")
        expect(not client.has_extn("auth"), "smtp offers AUTH")
        client.secure()
        expect(not client.has_extn("auth"), "smtp offers AUTH after STARTTLS: it must stay unauthenticated")


def submission_needs_tls():
    with Smtp(PORTS["submission"]) as client:
        client.ehlo()
        expect(client.has_extn("starttls"), "submission does not offer STARTTLS")
        expect(not client.has_extn("auth"), "submission offers AUTH before STARTTLS")
        code, _ = client.mail(f"{USER}@{DOMAIN}")
        expect(code == 530, f"submission took MAIL before STARTTLS (reply {code})")


def submission_needs_auth():
    with Smtp(PORTS["submission"]) as client:
        client.secure()
        expect(client.has_extn("auth"), "submission offers no AUTH after STARTTLS")
        mechanisms = client.esmtp_features.get("auth", "").upper().split()
        expect({"PLAIN", "LOGIN"} <= set(mechanisms), f"submission AUTH offers {mechanisms}")
        client.mail(f"{USER}@{DOMAIN}")
        code, _ = client.rcpt(f"{USER}@{DOMAIN}")
        expect(500 <= code < 600, f"submission took RCPT without AUTH (reply {code})")


def submission_refuses_wrong_password():
    with Smtp(PORTS["submission"]) as client:
        client.secure()
        try:
            client.login(USER, PASSWORD + "-wrong")
        except smtplib.SMTPAuthenticationError as refusal:
            expect(refusal.smtp_code == 535, f"wrong password refused with {refusal.smtp_code}")
        else:
            raise CheckFailed("submission accepted a wrong password")


def send(client, via):
    marker = uuid.uuid4().hex
    client.login(USER, PASSWORD)
    refused = client.send_message(marker_message(marker, via))
    expect(not refused, f"{via} refused recipients {refused}")
    return marker


def submission_sends():
    with Smtp(PORTS["submission"]) as client:
        client.secure()
        marker = send(client, "submission")
    wait_for_delivery(marker)
    return marker


def smtps_sends():
    with Smtps(PORTS["smtps"]) as client:
        expect(client.has_extn("auth"), "smtps offers no AUTH")
        marker = send(client, "smtps")
    wait_for_delivery(marker)
    return marker


def pop3_collect(client, markers):
    """Retrieves and deletes the messages carrying `markers`; all must be there."""
    client.user(USER)
    client.pass_(PASSWORD)
    found = set()
    _, listing, _ = client.list()
    for entry in listing:
        number = int(entry.split()[0])
        _, lines, _ = client.retr(number)
        text = b"\n".join(lines).decode("utf-8", "replace")
        for marker in markers:
            if marker in text:
                found.add(marker)
                client.dele(number)
    expect(found == set(markers), f"POP3 lacks {set(markers) - found}")
    client.quit()


def pop3_apop():
    """APOP rides on the plain port; a wrong secret must not pass the digest check."""
    client = poplib.POP3(HOST, PORTS["pop3"], timeout=TIMEOUT)
    try:
        client.apop(USER, PASSWORD + "-wrong")
    except poplib.error_proto:
        pass
    else:
        raise CheckFailed("APOP accepted a wrong password")
    finally:
        client.close()
    client = poplib.POP3(HOST, PORTS["pop3"], timeout=TIMEOUT)
    client.apop(USER, PASSWORD)
    client.quit()


def pop3_refuses_wrong_password(client):
    client.user(USER)
    try:
        client.pass_(PASSWORD + "-wrong")
    except poplib.error_proto:
        return
    finally:
        client.close()
    raise CheckFailed("POP3 accepted a wrong password")


def main():
    sent = []
    smtp, submission, smtps = (f"smtp {PORTS['smtp']}", f"submission {PORTS['submission']}",
                               f"smtps {PORTS['smtps']}")
    pop3, pop3s = f"pop3 {PORTS['pop3']}", f"pop3s {PORTS['pop3s']}"
    checks = [
        (f"{smtp} offers STARTTLS and no AUTH", smtp_open_port),
        (f"{submission} refuses mail before STARTTLS", submission_needs_tls),
        (f"{submission} refuses mail without AUTH", submission_needs_auth),
        (f"{submission} refuses a wrong password", submission_refuses_wrong_password),
        (f"{submission} STARTTLS + AUTH delivers", lambda: sent.append(submission_sends())),
        (f"{smtps} implicit TLS + AUTH delivers", lambda: sent.append(smtps_sends())),
        (f"{pop3} STLS log-in fetches and deletes what was sent",
         lambda: pop3_collect(Pop3Stls(), sent)),
        (f"{pop3s} refuses a wrong password", lambda: pop3_refuses_wrong_password(Pop3s())),
        (f"{pop3s} implicit TLS log-in", lambda: pop3_collect(Pop3s(), [])),
        (f"{pop3} APOP log-in, wrong password refused", pop3_apop),
    ]
    started = time.monotonic()
    failures = 0
    for name, check in checks:
        begun = time.monotonic()
        try:
            check()
        except (CheckFailed, OSError, smtplib.SMTPException, poplib.error_proto,
                ssl.SSLError) as problem:
            failures += 1
            print(f"tls_servers_check: FAILED {name}: {type(problem).__name__}: {problem}",
                  file=sys.stderr)
        else:
            print(f"tls_servers_check: ok     {name} ({time.monotonic() - begun:.1f} s)")
    elapsed = time.monotonic() - started
    if failures:
        print(f"tls_servers_check: {failures} of {len(checks)} checks failed", file=sys.stderr)
        return 1
    print(f"tls_servers_check: all {len(checks)} checks passed in {elapsed:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
