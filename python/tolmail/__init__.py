"""tolmail: drive libtolmail's components from Python through the library's automation ABI.

    import tolmail
    smtp = tolmail.Dispatch("TolvanMail.TolvanSMTP")
    smtp.Host = "mail.example.org"
    smtp.FromEmail = "me@example.org"
    smtp.AddRecipients("You", "you@example.org", 1)
    if smtp.Send() != 0:
        print(smtp.SMTPError)

Members are found by name in any letter case. A method with by-reference parameters returns a
tuple: its own value, then each by-reference parameter's value after the call
(`code, line = sock.GetlnData()`); a Ref box passed in such a place is updated as well.
Errors of the library are raised as AutomationError(code, text).

The library is looked for in this order: the path in TOLMAIL_LIBRARY, libtolmail.so beside
this package, then the registration file that register() writes
(${XDG_DATA_HOME:-~/.local/share}/tolmail/registry).
"""
import ctypes

from . import _abi, _events, _library, _objects
from ._variant import Missing, Ref
from .errors import AutomationError, UnknownNameError

__version__ = "1.10.0"
__all__ = ["Dispatch", "WithEvents", "Disconnect", "PumpMessages", "MessageLoopDescriptor",
           "AutomationError", "UnknownNameError", "Ref", "Missing", "register", "unregister",
           "can_unload_now", "DllRegisterServer", "DllUnregisterServer", "DllCanUnloadNow",
           "constants", "Object"]

Object = _objects.Object


def _check(result, what):
    if result < 0:
        raise AutomationError(result, "%s failed (0x%08X)" % (what, _abi.unsigned(result)))
    return result


def Dispatch(name, library=None):
    """A new object of a creatable class, named by ProgID ("TolvanMail.TolvanSMTP"), class
    name ("TolvanSMTP") or class id ("{...}"); `library` is the path of the library to take
    it from, instead of looking it up."""
    lib, clsid = _library.resolve(name, library)
    factory = ctypes.c_void_p()
    _check(lib.dll.DllGetClassObject(ctypes.addressof(clsid), ctypes.addressof(_abi.IID_IClassFactory),
                                     ctypes.addressof(factory)), "the class object of %s" % name)
    table = _abi.vtable(factory.value, _abi.ClassFactoryVtbl)
    release = _abi.ReleaseFn(table.Release)
    try:
        instance = ctypes.c_void_p()
        result = _abi.CreateInstanceFn(table.CreateInstance)(factory.value, None,
                                                             ctypes.addressof(_abi.IID_IDispatch),
                                                             ctypes.addressof(instance))
        _check(result, "creating %s" % name)
    finally:
        release(factory.value)
    return _objects.wrap(lib, instance.value, owned=True)


def WithEvents(obj, sink):
    """Connects the events of `obj` to `sink` (a class or an instance whose methods are
    named after the events); returns the sink instance."""
    return _events.with_events(obj, sink)


def Disconnect(obj, sink=None):
    """Ends the event connection(s) WithEvents made on `obj`."""
    _events.disconnect(obj, sink)


def PumpMessages():
    """Delivers the events due on this thread without blocking, for hosts whose own loop
    watches MessageLoopDescriptor()."""
    _library.default().dll.TmPumpMessages()
    if _objects.pending_errors:
        _objects._raise_pending()


def MessageLoopDescriptor():
    """A descriptor that polls readable when this thread has events due (see PumpMessages)."""
    return _library.default().dll.TmMessageLoopDescriptor()


def _library_at(path):
    return _library.load(path) if path else _library.default()


def register(path=None):
    """Records the library (at `path`, or the one found) in the per-user registration file,
    so that Dispatch finds it by ProgID from any process."""
    _check(_library_at(path).dll.DllRegisterServer(), "DllRegisterServer")


def unregister(path=None):
    """Removes exactly the library's lines from the registration file."""
    _check(_library_at(path).dll.DllUnregisterServer(), "DllUnregisterServer")


def can_unload_now(path=None):
    """True when no object of the library is alive and no class object is locked."""
    return _check(_library_at(path).dll.DllCanUnloadNow(), "DllCanUnloadNow") == _abi.S_OK


DllRegisterServer = register
DllUnregisterServer = unregister
DllCanUnloadNow = can_unload_now


def constants(path=None):
    """The library's enumeration values by name (IPPROTO_TCP, ...)."""
    return dict(_library_at(path).desc.constants)
