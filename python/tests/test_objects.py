"""The package against the real library, without servers: members by name, values, errors,
collections, registration, unloading and socket events over loopback."""
import socket

import pytest

import tolmail
from conftest import collect, pump_until

BAD_INDEX = 0x800A0009
UNKNOWN_NAME = 0x80020006


@pytest.fixture
def smtp(library):
    return tolmail.Dispatch("TolvanSMTP")


@pytest.mark.parametrize("name, value", [
    ("Subject", "Grüße from Python ✓"),
    ("MailBody", b"\xe9t\xe9 raw".decode("utf-8", "surrogateescape")),
    ("UseMIME", False),
    ("ReturnReceipt", True),
    ("Priority", 5),
    ("TimeOut", 30),
])
def test_property_set_reads_back_in_every_letter_case(smtp, name, value):
    setattr(smtp, name.lower(), value)
    for spelling in (name, name.lower(), name.upper()):
        got = getattr(smtp, spelling)
        assert got == value and type(got) is type(value), spelling


def test_members_are_class_attributes_not_lookups(smtp):
    # The fast path: the interface's class carries the member, no __getattr__ round trip.
    assert isinstance(type(smtp).__dict__["Subject"], property)
    assert callable(type(smtp).__dict__["AddRecipients"])


def test_methods_take_positional_arguments_and_leave_optional_ones_out(smtp):
    assert smtp.AddRecipients("Ann", "ann@example.org", 1) == 0
    assert smtp.CountRecipients == 1
    smtp.Clear()  # Clearflag left out: 0, which empties everything
    assert smtp.CountRecipients == 0


@pytest.mark.parametrize("action", [
    lambda s: s.NoSuchMember,
    lambda s: s.NoSuchMethod(1),
    lambda s: setattr(s, "NoSuchProperty", 1),
])
def test_unknown_name_is_an_automation_error_with_code_and_text(smtp, action):
    with pytest.raises(tolmail.AutomationError) as raised:
        action(smtp)
    assert raised.value.code == UNKNOWN_NAME
    assert raised.value.text
    assert not hasattr(smtp, "NoSuchMember")


def test_bad_index_is_the_collections_automation_error(library):
    messages = tolmail.Dispatch("TolvanPOP3").Messages
    assert len(messages) == 0
    for call in (lambda: messages(1), lambda: messages.Item(1), lambda: messages[1]):
        with pytest.raises(tolmail.AutomationError) as raised:
            call()
        assert raised.value.code == BAD_INDEX
        assert raised.value.text


@pytest.mark.parametrize("action", [
    lambda s: setattr(s, "Priority", "high"),  # not a number
    lambda s: setattr(s, "Version", "2.0"),    # read-only
    lambda s: s.Host,                          # write-only
])
def test_misuse_of_a_member_is_the_librarys_automation_error(smtp, action):
    with pytest.raises(tolmail.AutomationError) as raised:
        action(smtp)
    assert raised.value.text and not isinstance(raised.value, AttributeError)


def test_objects_come_back_as_python_objects_of_their_interface(library):
    pop3 = tolmail.Dispatch("TolvanPOP3")
    assert type(pop3.Messages).__name__ == "Messages"
    assert type(pop3.Messages) is type(pop3.messages), "one class per interface, built once"


def test_registration_round_trip_keeps_foreign_lines(library, tmp_path, monkeypatch):
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path))
    registry = tmp_path / "tolmail" / "registry"
    registry.parent.mkdir()
    registry.write_text("# someone else's\nprogid\tOther.Thing\t{00000000-0000-0000-0000-000000000001}\n")
    tolmail.register(library)
    lines = registry.read_text().splitlines()
    kinds = sorted(line.split("\t")[0] for line in lines if not line.startswith("#"))
    assert kinds.count("progid") == 4 and kinds.count("clsid") == 3 and kinds.count("typelib") == 1
    assert all(line.endswith(library) for line in lines if line.startswith(("clsid", "typelib")))

    # By ProgID through the file alone: no TOLMAIL_LIBRARY, no copy beside the package.
    monkeypatch.delenv("TOLMAIL_LIBRARY")
    smtp = tolmail.Dispatch("TolvanMail.TolvanSMTP")
    smtp.Subject = "registered"
    assert smtp.Subject == "registered"

    tolmail.DllUnregisterServer(library)
    assert registry.read_text().splitlines() == [
        "# someone else's", "progid\tOther.Thing\t{00000000-0000-0000-0000-000000000001}"]
    with pytest.raises(tolmail.AutomationError):
        tolmail.Dispatch("TolvanMail.TolvanSMTP")
    assert tolmail.Dispatch("TolvanSMTP", library=library).Version  # a class name with a path


def test_library_can_unload_once_every_python_reference_is_gone(library):
    collect()
    assert tolmail.can_unload_now()
    pop3 = tolmail.Dispatch("TolvanPOP3")
    messages = pop3.Messages
    del pop3
    collect()
    assert not tolmail.DllCanUnloadNow(), "the collection still holds the library"
    list(messages)
    del messages
    collect()
    assert tolmail.can_unload_now()


def _free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def test_socket_listens_accepts_and_receives_with_python_handlers(library):
    listener, server, client = (tolmail.Dispatch("TolvanMail.TolvanSocket") for _ in range(3))
    seen = []

    class ListenerEvents:
        def OnAcceptConnection(self, socketID):
            seen.append("accept")
            assert server.Accept(socketID.value) == -1

    class ServerEvents:
        def OnConnect(self):
            seen.append("server connect")

        def onrecvdata(self, DataLen, RcvPort, RcvAddr):  # any letter case
            code, line = server.GetlnData()
            if code == 0:
                seen.append(line)

    class ClientEvents:
        def OnConnect(self):
            seen.append("client connect")

    tolmail.WithEvents(listener, ListenerEvents)
    tolmail.WithEvents(server, ServerEvents())
    tolmail.WithEvents(client, ClientEvents)
    port = _free_port()
    listener.LocalPort = port
    assert listener.Listen() == 0
    client.Host, client.Port = "127.0.0.1", port
    assert client.Connect() == 0
    assert pump_until(lambda: "server connect" in seen)
    assert client.senddta("héllo\r\n") == 0
    assert pump_until(lambda: "héllo\r\n" in seen)
    assert seen.index("accept") < seen.index("server connect")
    assert "client connect" in seen
    for s in (client, server, listener):
        s.CloseSocket()


def test_get_data_returns_code_and_text_and_fills_a_box(library):
    listener, server, client = (tolmail.Dispatch("TolvanSocket") for _ in range(3))

    class Accepting:
        def OnAcceptConnection(self, socketID):
            server.Accept(socketID.value)

    tolmail.WithEvents(listener, Accepting)
    port = _free_port()
    listener.LocalPort = port
    listener.Listen()
    client.Host, client.Port = "127.0.0.1", port
    client.Connect()
    assert pump_until(lambda: server.Connected)
    client.senddta(b"ab\x00\xffcd\r\n")
    box = tolmail.Ref("")
    assert pump_until(lambda: server.GetData(box, 8)[0] == 0 and box.value)
    assert box.value.encode("utf-8", "surrogateescape") == b"ab\x00\xffcd\r\n"
    for s in (client, server, listener):
        s.CloseSocket()


def test_an_exception_in_a_handler_is_raised_by_the_call_it_happened_in(library):
    listener, client = tolmail.Dispatch("TolvanSocket"), tolmail.Dispatch("TolvanSocket")

    class Failing:
        def OnAcceptConnection(self, socketID):
            raise ValueError("from the handler")

    tolmail.WithEvents(listener, Failing)
    port = _free_port()
    listener.LocalPort = port
    listener.Listen()
    client.Host, client.Port = "127.0.0.1", port
    with pytest.raises(ValueError, match="from the handler"):
        client.Connect()
        pump_until(lambda: False, seconds=2)
    client.CloseSocket()
    listener.CloseSocket()


def test_object_without_events_refuses_a_sink(library):
    messages = tolmail.Dispatch("TolvanPOP3").Messages
    with pytest.raises(tolmail.AutomationError):
        tolmail.WithEvents(messages, object)


def test_constants_come_from_the_description(library):
    assert tolmail.constants()["IPPROTO_UDP"] == 17


def test_call_from_another_thread_is_refused_and_leaves_the_object_usable(smtp):
    import threading
    smtp.Subject = "owner's"
    raised = []
    worker = threading.Thread(target=lambda: raised.append(_failure(lambda: smtp.Subject)))
    worker.start()
    worker.join(10)
    assert raised and raised[0].code == 0x8001010E
    assert smtp.Subject == "owner's"


def _failure(action):
    try:
        action()
    except tolmail.AutomationError as error:
        return error
    return None


def test_a_handler_may_disconnect_itself_while_its_event_is_delivered(library):
    listener, client = tolmail.Dispatch("TolvanSocket"), tolmail.Dispatch("TolvanSocket")
    calls = []

    class Once:
        def OnAcceptConnection(self, socketID):
            calls.append(socketID.value)
            tolmail.Disconnect(listener)

    tolmail.WithEvents(listener, Once)
    port = _free_port()
    listener.LocalPort = port
    listener.Listen()
    client.Host, client.Port = "127.0.0.1", port
    client.Connect()
    assert pump_until(lambda: calls)
    other = tolmail.Dispatch("TolvanSocket")
    other.Host, other.Port = "127.0.0.1", port
    other.Connect()
    pump_until(lambda: False, seconds=0.5)
    assert len(calls) == 1, "no event after the handler disconnected"
    for s in (client, other, listener):
        s.CloseSocket()
