"""The library's description (TmGetLibraryDesc) read once into plain Python data, from which
the per-interface classes are built."""
import ctypes

from . import _abi
from .errors import AutomationError


def _text(raw):
    return raw.decode("utf-8", "replace") if raw else ""


class Param:
    __slots__ = ("name", "type", "flags")

    def __init__(self, desc):
        self.name = _text(desc.name)
        self.type = desc.type
        self.flags = desc.flags

    @property
    def optional(self):
        return bool(self.flags & _abi.PARAMFLAG_OPTIONAL)

    @property
    def by_ref(self):
        return bool(self.flags & _abi.PARAMFLAG_BYREF)


class Func:
    """One slot: a method, or one accessor of a property."""
    __slots__ = ("name", "dispid", "kind", "flags", "result_type", "params", "help")

    def __init__(self, desc):
        self.name = _text(desc.name)
        self.dispid = desc.dispid
        self.kind = desc.invokeKind
        self.flags = desc.flags
        self.result_type = desc.resultType
        self.params = [Param(desc.params[i]) for i in range(desc.paramCount)]
        self.help = _text(desc.help)


class Type:
    __slots__ = ("address", "name", "kind", "flags", "guid", "help", "funcs", "values",
                 "default_interface", "event_interface")

    def __init__(self, address, desc):
        self.address = address
        self.name = _text(desc.name)
        self.kind = desc.kind
        self.flags = desc.flags
        self.guid = _abi.Guid.from_buffer_copy(desc.guid)
        self.help = _text(desc.help)
        self.funcs = [Func(desc.funcs[i]) for i in range(desc.funcCount)]
        self.values = {_text(desc.values[i].name): desc.values[i].value for i in range(desc.valueCount)}
        self.default_interface = ctypes.cast(desc.defaultInterface, ctypes.c_void_p).value
        self.event_interface = ctypes.cast(desc.eventInterface, ctypes.c_void_p).value


class Library:
    def __init__(self, desc):
        self.name = _text(desc.name)
        self.guid = _abi.Guid.from_buffer_copy(desc.guid)
        self.version = (desc.majorVersion, desc.minorVersion)
        size = ctypes.sizeof(_abi.TypeDesc)
        base = ctypes.cast(desc.types, ctypes.c_void_p).value
        self.types = [Type(base + i * size, desc.types[i]) for i in range(desc.typeCount)]
        self.by_address = {t.address: t for t in self.types}
        self.class_of_interface = {t.default_interface: t for t in self.types
                                   if t.kind == _abi.TKIND_COCLASS and t.default_interface}
        # Enumeration values, by name, for hosts that want the library's constants.
        self.constants = {name: value for t in self.types if t.kind == _abi.TKIND_ENUM
                          for name, value in t.values.items()}

    def class_id(self, name):
        """The class id of a creatable class named by ProgID, class name or class id text."""
        if name.startswith("{"):
            return _abi.Guid.parse(name)
        prefix, dot, short = name.rpartition(".")
        if dot and prefix.lower() != self.name.lower():
            raise AutomationError(_abi.CLASS_E_CLASSNOTAVAILABLE, "no class %s in %s" % (name, self.name))
        for t in self.types:
            if t.kind == _abi.TKIND_COCLASS and t.name.lower() == short.lower():
                return t.guid
        raise AutomationError(_abi.CLASS_E_CLASSNOTAVAILABLE, "no class %s in %s" % (name, self.name))

    def events_of(self, interface_address):
        """The event interface of the class whose default interface this is, or None."""
        coclass = self.class_of_interface.get(interface_address)
        if coclass is None or not coclass.event_interface:
            return None
        return self.by_address.get(coclass.event_interface)


def describe(desc):
    return Library(desc)
