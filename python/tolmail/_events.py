"""Events: a Python sink whose methods are named after the events (OnSMTPEvent, OnRecvData,
...), called with the event's arguments in declaration order. A by-reference argument arrives
as a Ref box; the handler answers by setting box.value or by returning the value (for the
first by-reference argument). Events without a method are ignored."""
import ctypes
import sys
import traceback

from . import _abi, _objects, _variant
from ._variant import SIZE, Ref
from .errors import AutomationError


class _Connection:
    __slots__ = ("cookie", "callback", "sink")


def _handlers(obj, sink):
    """dispatch id -> (bound method, by-reference flags) for the events the sink handles."""
    library = obj._library
    events = library.desc.events_of(obj._type.address) if obj._type is not None else None
    if events is None:
        raise AutomationError(_abi.E_NOINTERFACE, "%s raises no events" % type(obj).__name__)
    methods = {name.lower(): name for name in dir(sink) if not name.startswith("__")}
    handlers = {}
    for func in events.funcs:
        name = methods.get(func.name.lower())
        if name is not None:
            handler = getattr(sink, name)
            if callable(handler):
                handlers[func.dispid] = (handler, [p.by_ref for p in func.params])
    return handlers


# Connections ended while an event was being delivered: their callbacks may be the ones
# running, so they live until no event is in progress.
_retired = []
_delivering = [0]


def _dispatcher(library, handlers):
    def on_event(context, dispid, args, count):
        entry = handlers.get(dispid)
        if entry is None:
            return
        handler, by_ref = entry
        _delivering[0] += 1
        try:
            buffer = (ctypes.c_char * (SIZE * count)).from_address(args) if count else b""
            values = []
            cells = []
            for index in range(count):
                value = _variant.read(library, args + index * SIZE, buffer, index * SIZE, False)
                vt = _variant.TYPE.unpack_from(buffer, index * SIZE)[0]
                if vt == _abi.VT_BYREF_VARIANT:
                    box = Ref(value)
                    cells.append((_variant.READ_POINTER.unpack_from(buffer, index * SIZE)[0], box, value))
                    value = box
                values.append(value)
            answer = handler(*values)
            for position, (address, box, before) in enumerate(cells):
                if position == 0 and answer is not None:
                    box.value = answer
                if box.value is not before:
                    _variant.put_owned(library, address, box.value)
        except BaseException as error:  # never unwind through the library's frames
            traceback.print_exc(file=sys.stderr)
            _objects.pending_errors.append(error)
        finally:
            _delivering[0] -= 1
    return _abi.EventCallback(on_event)


def with_events(obj, sink):
    """Connects `sink` (a class, instantiated without arguments, or an instance) to the events
    of `obj`; returns the sink instance. The connection lasts until disconnect(obj) or the
    object's end."""
    if isinstance(sink, type):
        sink = sink()
    handlers = _handlers(obj, sink)
    connection = _Connection()
    connection.sink = sink
    connection.callback = _dispatcher(obj._library, handlers)
    cookie = ctypes.c_uint32()
    result = obj._vtbl.advise(obj._ptr, connection.callback, None, ctypes.addressof(cookie))
    if result < 0:
        raise AutomationError(result, "%s refused the event connection" % type(obj).__name__)
    connection.cookie = cookie.value
    if obj._connections is None:
        object.__setattr__(obj, "_connections", [])
    obj._connections.append(connection)
    return sink


def disconnect(obj, sink=None):
    """Disconnects `sink` (every sink when None) from the events of `obj`."""
    kept = []
    for connection in obj._connections or ():
        if sink is None or connection.sink is sink:
            obj._vtbl.unadvise(obj._ptr, connection.cookie)
            _retired.append(connection)
        else:
            kept.append(connection)
    object.__setattr__(obj, "_connections", kept or None)
    if not _delivering[0]:
        del _retired[:]


def disconnect_all(obj):
    disconnect(obj)
