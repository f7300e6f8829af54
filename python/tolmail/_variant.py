"""Python values to and from TmVariant, written and read with struct on a memoryview of the
variant's bytes: one pack or unpack per value instead of a ctypes attribute walk per field.

Strings travel as UTF-8; text that is not valid UTF-8 is decoded with surrogateescape, so
bytes a message carries come back unchanged when the str is passed to the library again."""
import ctypes
import platform
import struct
import sys

from . import _abi
from .errors import AutomationError

SIZE = _abi.VARIANT_SIZE


def _layout(code):
    """The format of a variant whose union holds `code`: type, three reserved words, payload."""
    pad = SIZE - 8 - struct.calcsize("@" + code)
    return struct.Struct("@H6x%s%dx" % (code, pad))


def _reader(code):
    """The payload alone, for reading once the type is known."""
    pad = SIZE - 8 - struct.calcsize("@" + code)
    return struct.Struct("@8x%s%dx" % (code, pad))


TYPE = struct.Struct("@H")
READ_I2 = _reader("h")
READ_I4 = _reader("i")
READ_UI1 = _reader("B")
READ_R4 = _reader("f")
READ_R8 = _reader("d")
READ_POINTER = _reader("P")
READ_STRING = _reader("PI")
EMPTY = _layout("")
I2 = _layout("h")
I4 = _layout("i")
R8 = _layout("d")
POINTER = _layout("P")
STRING = _layout("PI")


class Ref:
    """A by-reference argument: pass Ref(value) where a member (or an event) takes one and
    read .value afterwards; the call's tuple result carries the same value."""
    __slots__ = ("value",)

    def __init__(self, value=None):
        self.value = value

    def __repr__(self):
        return "Ref(%r)" % (self.value,)


class _MissingType:
    """An optional argument left out in the middle of a call (trailing ones may simply be
    omitted)."""
    __slots__ = ()

    def __repr__(self):
        return "tolmail.Missing"


Missing = _MissingType()


def _probe_bytes_offset():
    """Where CPython keeps a bytes object's data relative to id(); lets a by-value argument
    point at the Python bytes without a copy. Checked, not assumed: any other layout falls
    back to ctypes."""
    if platform.python_implementation() != "CPython":
        return None
    offset = sys.getsizeof(b"") - 1
    probe = b"tolmail-layout-probe"
    return offset if ctypes.string_at(id(probe) + offset, len(probe)) == probe else None


_BYTES_OFFSET = _probe_bytes_offset()


def bytes_address(data):
    if _BYTES_OFFSET is not None:
        return id(data) + _BYTES_OFFSET
    return ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p).value


_INT32_MIN = -0x80000000
_INT32_MAX = 0x7FFFFFFF


def _overflow(value):
    return AutomationError(_abi.DISP_E_OVERFLOW, "%r does not fit a 32-bit integer" % (value,))


def put(buffer, offset, value, keep):
    """Writes a by-value argument into the variant at `offset`. Text and bytes are pointed at,
    not copied: `keep` holds them alive until the call returns."""
    kind = type(value)
    if kind is str:
        data = value.encode("utf-8", "surrogateescape")
        keep.append(data)
        STRING.pack_into(buffer, offset, _abi.VT_BSTR, bytes_address(data), len(data))
    elif kind is int:
        if not _INT32_MIN <= value <= _INT32_MAX:
            raise _overflow(value)
        I4.pack_into(buffer, offset, _abi.VT_I4, value)
    elif kind is bool:
        I2.pack_into(buffer, offset, _abi.VT_BOOL, -1 if value else 0)
    elif kind is float:
        R8.pack_into(buffer, offset, _abi.VT_R8, value)
    elif value is None:
        EMPTY.pack_into(buffer, offset, _abi.VT_EMPTY)
    elif value is Missing:
        I4.pack_into(buffer, offset, _abi.VT_ERROR, _abi.DISP_E_PARAMNOTFOUND)
    elif kind is bytes:
        keep.append(value)
        STRING.pack_into(buffer, offset, _abi.VT_BYTES, bytes_address(value), len(value))
    elif hasattr(value, "_ptr"):
        POINTER.pack_into(buffer, offset, _abi.VT_DISPATCH, value._ptr)
    elif isinstance(value, (bytearray, memoryview)):
        put(buffer, offset, bytes(value), keep)
    elif isinstance(value, bool):
        put(buffer, offset, bool(value), keep)
    elif isinstance(value, int):
        put(buffer, offset, int(value), keep)
    elif isinstance(value, float):
        put(buffer, offset, float(value), keep)
    elif isinstance(value, str):
        put(buffer, offset, str(value), keep)
    else:
        raise AutomationError(_abi.DISP_E_TYPEMISMATCH, "cannot pass a %s to the library" % kind.__name__)


def put_owned(library, address, value):
    """Stores `value` at `address` as the library's own (text copied by the library, an object
    with a reference of its own), for a by-reference variable the callee may clear."""
    dll = library.dll
    dll.TmVariantClear(address)
    buffer = (ctypes.c_char * SIZE).from_address(address)
    if isinstance(value, str):
        data = value.encode("utf-8", "surrogateescape")
        result = dll.TmVariantSetString(address, data, len(data))
    elif isinstance(value, (bytes, bytearray, memoryview)):
        data = bytes(value)
        result = dll.TmVariantSetBytes(address, data, len(data))
    elif hasattr(value, "_ptr"):
        value._addref(value._ptr)
        POINTER.pack_into(buffer, 0, _abi.VT_DISPATCH, value._ptr)
        return
    else:
        keep = []
        put(buffer, 0, value, keep)
        return
    if result < 0:
        raise AutomationError(result, "the library could not store a value")


def _memory_window():
    """A byte view of the whole address space: slicing it copies library memory into Python
    objects in one step (a ctypes array per string costs twice as much). Nothing is read
    until a slice is taken, and only where the library said its text is."""
    try:
        return memoryview((ctypes.c_char * sys.maxsize).from_address(0)).cast("B")
    except (TypeError, ValueError, OverflowError, MemoryError):
        return None


_MEMORY = _memory_window()


def bytes_at(pointer, length):
    """A copy of library memory."""
    if not length:
        return b""
    if _MEMORY is not None:
        return _MEMORY[pointer:pointer + length].tobytes()
    return ctypes.string_at(pointer, length)


def text_at(pointer, length):
    """Library text as str (UTF-8; other bytes kept as surrogate escapes)."""
    if not length:
        return ""
    if _MEMORY is not None:
        return str(_MEMORY[pointer:pointer + length], "utf-8", "surrogateescape")
    return ctypes.string_at(pointer, length).decode("utf-8", "surrogateescape")


def read(library, address, buffer, offset, owned):
    """The Python value of the variant at `offset` of `buffer` (whose memory is at `address`).
    owned: the value is ours to release (a result, a by-reference variable written back) and
    the variant is left empty; else it stays the library's and objects get a reference of
    their own."""
    vt = TYPE.unpack_from(buffer, offset)[0]
    if vt == _abi.VT_I4:
        value = READ_I4.unpack_from(buffer, offset)[0]
    elif vt == _abi.VT_BSTR or vt == _abi.VT_BYTES:
        pointer, length = READ_STRING.unpack_from(buffer, offset)
        value = text_at(pointer, length) if vt == _abi.VT_BSTR else bytes_at(pointer, length)
        if owned:
            library.dll.TmVariantClear(address + offset)
        return value
    elif vt == _abi.VT_BOOL:
        value = READ_I2.unpack_from(buffer, offset)[0] != 0
    elif vt == _abi.VT_EMPTY or vt == _abi.VT_NULL:
        return None
    elif vt == _abi.VT_DISPATCH or vt == _abi.VT_UNKNOWN:
        pointer = READ_POINTER.unpack_from(buffer, offset)[0]
        if owned:
            EMPTY.pack_into(buffer, offset, _abi.VT_EMPTY)
        if not pointer:
            return None
        from ._objects import wrap, wrap_unknown
        return (wrap if vt == _abi.VT_DISPATCH else wrap_unknown)(library, pointer, owned)
    elif vt == _abi.VT_I2:
        value = READ_I2.unpack_from(buffer, offset)[0]
    elif vt == _abi.VT_UI1:
        value = READ_UI1.unpack_from(buffer, offset)[0]
    elif vt == _abi.VT_R8:
        value = READ_R8.unpack_from(buffer, offset)[0]
    elif vt == _abi.VT_R4:
        value = READ_R4.unpack_from(buffer, offset)[0]
    elif vt == _abi.VT_ERROR:
        code = READ_I4.unpack_from(buffer, offset)[0]
        value = None if code == _abi.DISP_E_PARAMNOTFOUND else code
    elif vt == _abi.VT_BYREF_VARIANT:
        inner = READ_POINTER.unpack_from(buffer, offset)[0]
        return read(library, inner, (ctypes.c_char * SIZE).from_address(inner), 0, False)
    else:
        if owned:
            library.dll.TmVariantClear(address + offset)
        raise AutomationError(_abi.DISP_E_TYPEMISMATCH, "a variant of type 0x%04X is not supported" % vt)
    return value  # a scalar holds nothing to release
