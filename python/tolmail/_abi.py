"""The C automation ABI of libtolmail as ctypes declarations (include/tolmail/automation.h).

Pointers cross the boundary as plain integers (c_void_p): converting a Python int is the
cheapest argument ctypes has, and the hot path (Invoke) passes addresses computed once.
"""
import ctypes
from ctypes import (CFUNCTYPE, POINTER, Structure, Union, c_char, c_char_p, c_double, c_float,
                    c_int16, c_int32, c_uint8, c_uint16, c_uint32, c_void_p)


def unsigned(code):
    """The 32-bit code as the unsigned number hosts print (0x80020006)."""
    return code & 0xFFFFFFFF


def signed(code):
    code &= 0xFFFFFFFF
    return code - 0x100000000 if code & 0x80000000 else code


# Result codes an automation host sees.
S_OK = 0
S_FALSE = 1
E_NOINTERFACE = signed(0x80004002)
E_FAIL = signed(0x80004005)
CLASS_E_CLASSNOTAVAILABLE = signed(0x80040111)
DISP_E_MEMBERNOTFOUND = signed(0x80020003)
DISP_E_PARAMNOTFOUND = signed(0x80020004)
DISP_E_TYPEMISMATCH = signed(0x80020005)
DISP_E_UNKNOWNNAME = signed(0x80020006)
DISP_E_EXCEPTION = signed(0x80020009)
DISP_E_OVERFLOW = signed(0x8002000A)
RPC_E_WRONG_THREAD = signed(0x8001010E)


# Variant types.
VT_EMPTY = 0
VT_NULL = 1
VT_I2 = 2
VT_I4 = 3
VT_R4 = 4
VT_R8 = 5
VT_BSTR = 8
VT_DISPATCH = 9
VT_ERROR = 10
VT_BOOL = 11
VT_VARIANT = 12
VT_UNKNOWN = 13
VT_UI1 = 17
VT_ARRAY = 0x2000
VT_BYREF = 0x4000
VT_BYTES = VT_ARRAY | VT_UI1
VT_BYREF_VARIANT = VT_BYREF | VT_VARIANT

# Invoke flags.
DISPATCH_METHOD = 1
DISPATCH_PROPERTYGET = 2
DISPATCH_PROPERTYPUT = 4
DISPATCH_PROPERTYPUTREF = 8
DISPID_VALUE = 0
DISPID_NEWENUM = -4

# Description flags.
TKIND_ENUM = 0
TKIND_INTERFACE = 3
TKIND_DISPATCH = 4
TKIND_COCLASS = 5
TYPEFLAG_CANCREATE = 0x2
PARAMFLAG_IN = 0x1
PARAMFLAG_OUT = 0x2
PARAMFLAG_OPTIONAL = 0x10
PARAMFLAG_BYREF = 0x1000


class Guid(Structure):
    _fields_ = [("data1", c_uint32), ("data2", c_uint16), ("data3", c_uint16), ("data4", c_uint8 * 8)]

    @classmethod
    def parse(cls, text):
        """'{00020400-0000-0000-C000-000000000046}' (braces optional)."""
        hexdigits = text.strip().strip("{}").replace("-", "")
        if len(hexdigits) != 32:
            raise ValueError("not a class id: %r" % text)
        raw = bytes.fromhex(hexdigits)
        guid = cls(int.from_bytes(raw[0:4], "big"), int.from_bytes(raw[4:6], "big"),
                   int.from_bytes(raw[6:8], "big"))
        guid.data4[:] = list(raw[8:])
        return guid

    def __str__(self):
        tail = bytes(self.data4).hex().upper()
        return "{%08X-%04X-%04X-%s-%s}" % (self.data1, self.data2, self.data3, tail[:4], tail[4:])

    def __eq__(self, other):
        return isinstance(other, Guid) and bytes(self) == bytes(other)

    def __hash__(self):
        return hash(bytes(self))


class _Str(Structure):
    _fields_ = [("data", c_void_p), ("length", c_uint32)]


class _Payload(Union):
    _fields_ = [("i2", c_int16), ("i4", c_int32), ("r4", c_float), ("r8", c_double),
                ("boolean", c_int16), ("ui1", c_uint8), ("scode", c_int32), ("str", _Str),
                ("object", c_void_p), ("unknown", c_void_p), ("ref", c_void_p)]


class Variant(Structure):
    _fields_ = [("vt", c_uint16), ("reserved1", c_uint16), ("reserved2", c_uint16),
                ("reserved3", c_uint16), ("u", _Payload)]


VARIANT_SIZE = ctypes.sizeof(Variant)


class ErrorInfo(Structure):
    _fields_ = [("code", c_int32), ("source", c_char * 64), ("description", c_char * 512)]


# ---- vtables ------------------------------------------------------------------------------

QueryInterfaceFn = CFUNCTYPE(c_int32, c_void_p, c_void_p, c_void_p)
AddRefFn = CFUNCTYPE(c_uint32, c_void_p)
ReleaseFn = CFUNCTYPE(c_uint32, c_void_p)
GetTypeDescFn = CFUNCTYPE(c_void_p, c_void_p)
GetIDOfNameFn = CFUNCTYPE(c_int32, c_void_p, c_char_p, c_void_p, c_void_p)
def _unchecked(restype, address):
    """A function pointer called without declared argument types: ctypes then passes each
    argument as it is (ints as C int, c_void_p objects as pointers, None as NULL) instead of
    converting it through the declared type, which costs more than the call itself on the
    hot path. Callers pass pointers only as c_void_p objects or None, never as ints."""
    function = CFUNCTYPE(restype)(address)
    function.argtypes = None
    return function


def InvokeFn(address):
    """Invoke(self, dispid, flags, args, argCount, result, error), unchecked (see above)."""
    return _unchecked(c_int32, address)
EventCallback = CFUNCTYPE(None, c_void_p, c_int32, c_void_p, c_uint32)
AdviseFn = CFUNCTYPE(c_int32, c_void_p, EventCallback, c_void_p, c_void_p)
UnadviseFn = CFUNCTYPE(c_int32, c_void_p, c_uint32)
EnumNextFn = CFUNCTYPE(c_int32, c_void_p, c_uint32, c_void_p, c_void_p)
CreateInstanceFn = CFUNCTYPE(c_int32, c_void_p, c_void_p, c_void_p, c_void_p)
LockServerFn = CFUNCTYPE(c_int32, c_void_p, c_int32)


class DispatchVtbl(Structure):
    _fields_ = [("QueryInterface", c_void_p), ("AddRef", c_void_p), ("Release", c_void_p),
                ("GetTypeDesc", c_void_p), ("GetIDOfName", c_void_p), ("Invoke", c_void_p),
                ("Advise", c_void_p), ("Unadvise", c_void_p)]


class EnumVtbl(Structure):
    _fields_ = [("QueryInterface", c_void_p), ("AddRef", c_void_p), ("Release", c_void_p),
                ("Next", c_void_p), ("Skip", c_void_p), ("Reset", c_void_p), ("Clone", c_void_p)]


class ClassFactoryVtbl(Structure):
    _fields_ = [("QueryInterface", c_void_p), ("AddRef", c_void_p), ("Release", c_void_p),
                ("CreateInstance", c_void_p), ("LockServer", c_void_p)]


def vtable(pointer, vtbl_type):
    """The function table of an object: its first word points to it."""
    return vtbl_type.from_address(c_void_p.from_address(pointer).value)


# ---- the description ----------------------------------------------------------------------

class ParamDesc(Structure):
    _fields_ = [("name", c_char_p), ("type", c_uint16), ("flags", c_uint16)]


class FuncDesc(Structure):
    _fields_ = [("name", c_char_p), ("dispid", c_int32), ("invokeKind", c_uint16), ("flags", c_uint16),
                ("resultType", c_uint16), ("paramCount", c_uint16), ("params", POINTER(ParamDesc)),
                ("help", c_char_p)]


class EnumValueDesc(Structure):
    _fields_ = [("name", c_char_p), ("value", c_int32)]


class TypeDesc(Structure):
    pass


TypeDesc._fields_ = [("name", c_char_p), ("kind", c_uint16), ("flags", c_uint16), ("guid", Guid),
                     ("help", c_char_p), ("funcCount", c_uint32), ("funcs", POINTER(FuncDesc)),
                     ("valueCount", c_uint32), ("values", POINTER(EnumValueDesc)),
                     ("defaultInterface", POINTER(TypeDesc)), ("eventInterface", POINTER(TypeDesc))]


class LibraryDesc(Structure):
    _fields_ = [("name", c_char_p), ("guid", Guid), ("majorVersion", c_uint16), ("minorVersion", c_uint16),
                ("lcid", c_uint32), ("help", c_char_p), ("typeCount", c_uint32), ("types", POINTER(TypeDesc))]


def declare(dll):
    """Gives the library's exported functions their C signatures."""
    dll.TmVariantClear.argtypes = [c_void_p]
    dll.TmVariantClear.restype = None
    # The same function for the hot path: called with a c_void_p object, unchecked.
    dll.clear_unchecked = _unchecked(None, ctypes.cast(dll.TmVariantClear, c_void_p).value)
    dll.TmVariantSetString.argtypes = [c_void_p, c_char_p, c_uint32]
    dll.TmVariantSetString.restype = c_int32
    dll.TmVariantSetBytes.argtypes = [c_void_p, c_char_p, c_uint32]
    dll.TmVariantSetBytes.restype = c_int32
    dll.TmGetLibraryDesc.argtypes = []
    dll.TmGetLibraryDesc.restype = POINTER(LibraryDesc)
    dll.TmMessageLoopDescriptor.argtypes = []
    dll.TmMessageLoopDescriptor.restype = c_int32
    dll.TmPumpMessages.argtypes = []
    dll.TmPumpMessages.restype = None
    dll.DllGetClassObject.argtypes = [c_void_p, c_void_p, c_void_p]
    dll.DllGetClassObject.restype = c_int32
    for name in ("DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"):
        function = getattr(dll, name)
        function.argtypes = []
        function.restype = c_int32
    return dll


IID_IUnknown = Guid.parse("{00000000-0000-0000-C000-000000000046}")
IID_IDispatch = Guid.parse("{00020400-0000-0000-C000-000000000046}")
IID_IClassFactory = Guid.parse("{00000001-0000-0000-C000-000000000046}")
IID_IEnumVARIANT = Guid.parse("{00020404-0000-0000-C000-000000000046}")
