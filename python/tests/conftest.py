"""Where the tests find the library and the servers.

The library: TOLMAIL_LIBRARY, else $TOLMAIL_BUILD_DIR/libtolmail.so, else build/libtolmail.so
of this source tree. The servers: the environment scripts/servers/*.sh export (the C++
server tests read the same). Without them the tests that need them skip, unless
TOLMAIL_REQUIRE_SERVERS=1 (scripts/test.sh) makes a missing server a failure."""
import gc
import os
import select
import time

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def _library_path():
    for candidate in (os.environ.get("TOLMAIL_LIBRARY"),
                      os.path.join(os.environ.get("TOLMAIL_BUILD_DIR", ""), "libtolmail.so"),
                      os.path.join(ROOT, "build", "libtolmail.so")):
        if candidate and os.path.isfile(candidate):
            return os.path.abspath(candidate)
    return None


LIBRARY = _library_path()
if LIBRARY:
    os.environ["TOLMAIL_LIBRARY"] = LIBRARY


def required():
    return os.environ.get("TOLMAIL_REQUIRE_SERVERS") == "1"


def need(condition, why):
    if not condition:
        if required():
            pytest.fail(why + " (TOLMAIL_REQUIRE_SERVERS=1)")
        pytest.skip(why)


@pytest.fixture
def library():
    need(LIBRARY, "libtolmail.so not built (set TOLMAIL_LIBRARY or TOLMAIL_BUILD_DIR)")
    return LIBRARY


class Servers:
    def __init__(self):
        env = os.environ
        self.smtp_host = env.get("TOLMAIL_SMTP_HOST", "127.0.0.1")
        self.smtp_port = int(env.get("TOLMAIL_SMTP_PORT", "0") or 0)
        self.pop3_host = env.get("TOLMAIL_POP3_HOST", "127.0.0.1")
        self.pop3_port = int(env.get("TOLMAIL_POP3_PORT", "0") or 0)
        self.password = env.get("TOLMAIL_POP3_PASSWORD", "tolmail-pass")
        self.mail_root = env.get("TOLMAIL_MAIL_ROOT", "")
        self.domain = env.get("TOLMAIL_MAIL_DOMAIN", "tolmail.test")

    def maildir(self, user):
        return os.path.join(self.mail_root, user, "Maildir")

    def messages_in(self, user):
        count = 0
        for sub in ("new", "cur"):
            try:
                count += len(os.listdir(os.path.join(self.maildir(user), sub)))
            except FileNotFoundError:
                pass
        return count

    def clear(self, user):
        for sub in ("new", "cur", "tmp"):
            folder = os.path.join(self.maildir(user), sub)
            for name in os.listdir(folder) if os.path.isdir(folder) else ():
                os.remove(os.path.join(folder, name))

    def wait_for(self, user, count, seconds=120):
        """Postfix delivers in the background: wait, boundedly, for `count` messages."""
        deadline = time.monotonic() + seconds
        while self.messages_in(user) < count and time.monotonic() < deadline:
            time.sleep(0.2)
        return self.messages_in(user)


@pytest.fixture
def servers(library):
    found = Servers()
    need(found.smtp_port and found.pop3_port and found.mail_root,
         "the loopback servers' environment is not set (source /tmp/tolmail-run/*.env)")
    return found


def pump_until(condition, seconds=10):
    """Delivers the library's events, as a host with its own loop does, until `condition()`
    holds or the time is up."""
    import tolmail
    descriptor = tolmail.MessageLoopDescriptor()
    deadline = time.monotonic() + seconds
    while True:
        met = condition()  # asked once per round: it may consume what it waits for
        if met or time.monotonic() >= deadline:
            return met
        select.select([descriptor], [], [], 0.05)
        tolmail.PumpMessages()


def collect():
    gc.collect()
    gc.collect()
