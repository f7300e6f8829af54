"""Python objects over the library's dispatch objects.

Each interface of the description becomes one Python class, built once, whose properties and
methods carry their dispatch ids: `smtp.Subject` is a property lookup and one Invoke, with no
GetIDOfName and no __getattr__. Names in other letter cases resolve on first use and are then
added to the class, so they are as fast from the second time on."""
import ctypes
import threading

from . import _abi, _variant
from ._variant import SIZE, Missing, Ref
from .errors import AutomationError, UnknownNameError

GET = _abi.DISPATCH_PROPERTYGET
PUT = _abi.DISPATCH_PROPERTYPUT
PUTREF = _abi.DISPATCH_PROPERTYPUTREF
METHOD = _abi.DISPATCH_METHOD
METHOD_OR_GET = METHOD | GET

# An exception a Python event handler raised, re-raised by the call it happened inside.
pending_errors = []


class Scratch:
    """The memory of one call: argument variants, the result variant and the error info,
    allocated once and reused (taken from a pool so that a call made from an event handler
    inside another call gets memory of its own)."""
    __slots__ = ("args", "args_address", "args_buffer", "capacity", "result", "result_address",
                 "result_buffer", "error", "error_address", "c_args", "c_result", "c_error")

    def __init__(self, capacity=8):
        self.capacity = capacity
        self.args = (_abi.Variant * capacity)()
        self.args_address = ctypes.addressof(self.args)
        self.args_buffer = memoryview(self.args).cast("B")
        self.result = _abi.Variant()
        self.result_address = ctypes.addressof(self.result)
        self.result_buffer = memoryview(self.result).cast("B")
        self.error = _abi.ErrorInfo()
        self.error_address = ctypes.addressof(self.error)
        # The same addresses as pointer objects, as the unchecked Invoke takes them.
        self.c_args = ctypes.c_void_p(self.args_address)
        self.c_result = ctypes.c_void_p(self.result_address)
        self.c_error = ctypes.c_void_p(self.error_address)

    def grow(self, count):
        if count > self.capacity:
            self.__init__(max(count, 2 * self.capacity))

    def failure(self, result, member):
        """The AutomationError for a failed call, from the error info the library filled."""
        info = self.error
        description = info.description.decode("utf-8", "replace")
        source = info.source.decode("utf-8", "replace")
        code = info.code if result == _abi.DISP_E_EXCEPTION and info.code else result
        info.code = 0  # the next failure of this scratch must not show this one's text
        info.description = b""
        info.source = b""
        text = description or "%s failed (0x%08X)" % (member, _abi.unsigned(result))
        # Never an AttributeError here: raised from a property, it would send Python on to
        # __getattr__ and hide the library's text.
        return AutomationError(code, text, source, result)


_pool = [Scratch() for _ in range(4)]


def _scratch():
    return _pool.pop() if _pool else Scratch()


class _Vtable:
    """The functions of one dispatch vtable, made callable once per table."""
    __slots__ = ("query", "addref", "release", "typedesc", "idofname", "invoke", "advise", "unadvise")

    def __init__(self, address):
        table = _abi.DispatchVtbl.from_address(address)
        self.query = _abi.QueryInterfaceFn(table.QueryInterface)
        self.addref = _abi.AddRefFn(table.AddRef)
        self.release = _abi.ReleaseFn(table.Release)
        self.typedesc = _abi.GetTypeDescFn(table.GetTypeDesc)
        self.idofname = _abi.GetIDOfNameFn(table.GetIDOfName)
        self.invoke = _abi.InvokeFn(table.Invoke)
        self.advise = _abi.AdviseFn(table.Advise)
        self.unadvise = _abi.UnadviseFn(table.Unadvise)


_vtables = {}
_vtables_lock = threading.Lock()


def _vtable(pointer):
    address = ctypes.c_void_p.from_address(pointer).value
    table = _vtables.get(address)
    if table is None:
        with _vtables_lock:
            table = _vtables.setdefault(address, _Vtable(address))
    return table


class Object:
    """A library object. Members by name in any letter case; `obj(i)` and `obj[i]` call the
    default member (Item), `len(obj)` reads Count and `for x in obj` walks the collection
    when the interface has them."""
    __slots__ = ("_ptr", "_cptr", "_invoke", "_release", "_addref", "_vtbl", "_connections", "__weakref__")
    _library = None
    _type = None
    _setters = {}
    _members = {}

    def __init__(self, library, pointer, vtbl):
        raw_set = object.__setattr__
        raw_set(self, "_ptr", pointer)
        raw_set(self, "_cptr", ctypes.c_void_p(pointer))
        raw_set(self, "_vtbl", vtbl)
        raw_set(self, "_invoke", vtbl.invoke)
        raw_set(self, "_release", vtbl.release)
        raw_set(self, "_addref", vtbl.addref)
        raw_set(self, "_connections", None)

    def __del__(self):
        try:
            pointer = self._ptr
        except AttributeError:
            return
        try:
            if self._connections:
                from ._events import disconnect_all
                disconnect_all(self)
            object.__setattr__(self, "_ptr", 0)
            if pointer:
                self._release(pointer)
        except Exception:  # the interpreter is shutting down; the process frees the rest
            pass

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)
        cls = type(self)
        member = cls._members.get(name.lower())
        if member is None:
            raise _unknown_name(self, name)
        setattr(cls, name, member)  # this spelling is a class attribute from now on
        return getattr(self, name)

    def __setattr__(self, name, value):
        setter = self._setters.get(name) or self._setters.get(name.lower())
        if setter is None:
            raise _unknown_name(self, name)
        setter(self, value)

    def __eq__(self, other):
        return isinstance(other, Object) and _identity(self) == _identity(other)

    def __hash__(self):
        return hash(_identity(self))

    def __repr__(self):
        return "<tolmail.%s object at 0x%x>" % (type(self).__name__, self._ptr)

    def __call__(self, *args):
        return _call(self, _abi.DISPID_VALUE, METHOD_OR_GET, args, None, "Item")

    def __getitem__(self, index):
        return _call(self, _abi.DISPID_VALUE, METHOD_OR_GET, (index,), None, "Item")


def _identity(obj):
    """The IUnknown pointer: two wrappers of one object compare equal."""
    out = ctypes.c_void_p()
    if obj._vtbl.query(obj._ptr, ctypes.addressof(_abi.IID_IUnknown), ctypes.addressof(out)) < 0:
        return obj._ptr
    _vtable(out.value).release(out.value)
    return out.value


def _unknown_name(obj, name):
    """The library's own error for a name the object does not have."""
    scratch = _scratch()
    try:
        dispid = ctypes.c_int32()
        result = obj._vtbl.idofname(obj._ptr, name.encode("utf-8", "surrogateescape"),
                                    ctypes.addressof(dispid), scratch.error_address)
        if result >= 0:  # known to the library, not to the description: a late-bound property
            result = _abi.DISP_E_UNKNOWNNAME
        error = scratch.failure(result, name)
        return UnknownNameError(error.code, error.text, error.source, error.hresult)
    finally:
        _pool.append(scratch)


def _raise_pending():
    error = pending_errors.pop()
    del pending_errors[:]
    raise error


_vt_of = _variant.TYPE.unpack_from
_i4_of = _variant.READ_I4.unpack_from
_put = _variant.put


def _call(obj, dispid, flags, args, by_ref, member):
    """Invoke with positional arguments. by_ref: for each declared parameter whether it is
    by reference (then the result is a tuple: the member's value, then each by-reference
    parameter's value after the call) or None when the member has none."""
    count = len(args)
    if by_ref is not None and count < len(by_ref):
        args = tuple(args) + (Missing,) * (len(by_ref) - count)
        count = len(args)
    scratch = _pool.pop() if _pool else Scratch()
    if count > scratch.capacity:
        scratch.grow(count)
    buffer = scratch.args_buffer
    keep = []
    boxes = None
    try:
        offset = 0
        for index, value in enumerate(args):
            if value.__class__ is Ref or (by_ref is not None and index < len(by_ref) and by_ref[index]):
                if boxes is None:
                    boxes = []
                boxes.append(_by_reference(obj, buffer, index, value, keep))
            else:
                _put(buffer, offset, value, keep)
            offset += SIZE
        result = obj._invoke(obj._cptr, dispid, flags, scratch.c_args, count, scratch.c_result,
                             scratch.c_error)
        if boxes is not None:
            outs = [_take_by_reference(obj, cell, box) for cell, box in boxes]
        if result < 0:
            raise scratch.failure(result, member)
        vt = _vt_of(scratch.result_buffer)[0]
        if vt == _abi.VT_I4:  # the usual result code, read inline
            value = _i4_of(scratch.result_buffer)[0]
        elif vt == _abi.VT_EMPTY:
            value = None
        else:
            value = _variant.read(obj._library, scratch.result_address, scratch.result_buffer, 0, True)
    finally:
        _pool.append(scratch)
    if pending_errors:
        _raise_pending()
    if by_ref is not None:
        return (value, *outs)
    return value


def _by_reference(obj, buffer, index, value, keep):
    """A by-reference argument: a variable of the library's own (the callee may clear and
    replace it) pointed at from the argument slot."""
    box = value if value.__class__ is Ref else None
    initial = box.value if box is not None else value
    cell = _abi.Variant()
    keep.append(cell)
    if initial is not None and initial is not Missing:
        _variant.put_owned(obj._library, ctypes.addressof(cell), initial)
    _variant.POINTER.pack_into(buffer, index * SIZE, _abi.VT_BYREF_VARIANT, ctypes.addressof(cell))
    return cell, box


def _take_by_reference(obj, cell, box):
    value = _variant.read(obj._library, ctypes.addressof(cell), memoryview(cell).cast("B"), 0, True)
    if box is not None:
        box.value = value
    return value


# ---- building the class of an interface ---------------------------------------------------

def _getter(dispid, name):
    # The hot path of the package: no try/finally (a scratch lost to an exception is simply
    # replaced), the common result types read inline, everything else through read().
    vt_of = _variant.TYPE.unpack_from
    i4_of = _variant.READ_I4.unpack_from
    i2_of = _variant.READ_I2.unpack_from
    string_of = _variant.READ_STRING.unpack_from
    text_at = _variant.text_at
    read = _variant.read
    VT_I4, VT_BOOL, VT_BSTR = _abi.VT_I4, _abi.VT_BOOL, _abi.VT_BSTR

    def get(self):
        scratch = _pool.pop() if _pool else Scratch()
        result = self._invoke(self._cptr, dispid, GET, None, 0, scratch.c_result, scratch.c_error)
        if result < 0:
            _pool.append(scratch)
            raise scratch.failure(result, name)
        buffer = scratch.result_buffer
        vt = vt_of(buffer)[0]
        if vt == VT_I4:  # a scalar needs no clearing: Invoke clears the result it writes
            value = i4_of(buffer)[0]
        elif vt == VT_BSTR:
            value = text_at(*string_of(buffer))
            self._library.dll.clear_unchecked(scratch.c_result)
        elif vt == VT_BOOL:
            value = i2_of(buffer)[0] != 0
        else:
            value = read(self._library, scratch.result_address, buffer, 0, True)
        _pool.append(scratch)
        return value
    return get


def _setter(dispid, name, has_let, has_set):
    def put(self, value):
        if has_set and (hasattr(value, "_ptr") or not has_let):
            flags = PUTREF
        else:
            flags = PUT
        _call(self, dispid, flags, (value,), None, name)
    return put


def _method(func):
    dispid = func.dispid
    name = func.name
    flags = METHOD_OR_GET if dispid == _abi.DISPID_VALUE else METHOD
    by_ref = tuple(p.by_ref for p in func.params) if any(p.by_ref for p in func.params) else None
    names = [p.name.lower() for p in func.params]

    def method(self, *args, **keywords):
        if keywords:
            args = _place_keywords(name, names, args, keywords)
        return _call(self, dispid, flags, args, by_ref, name)
    method.__name__ = name
    method.__doc__ = _signature(func)
    return method


def _place_keywords(member, names, args, keywords):
    placed = list(args) + [Missing] * (len(names) - len(args))
    for key, value in keywords.items():
        try:
            placed[names.index(key.lower())] = value
        except ValueError:
            raise AutomationError(_abi.DISP_E_PARAMNOTFOUND,
                                  "%s has no parameter %s" % (member, key)) from None
    while placed and placed[-1] is Missing:
        placed.pop()
    return tuple(placed)


def _signature(func):
    params = ", ".join(("[%s]" if p.optional else "%s") % (("ByRef " if p.by_ref else "") + p.name)
                       for p in func.params)
    text = "%s(%s)" % (func.name, params)
    return "%s\n\n%s" % (text, func.help) if func.help else text


def _len(self):
    return self.Count


def _iter(self):
    enumerator = _call(self, _abi.DISPID_NEWENUM, METHOD_OR_GET, (), None, "NewEnum")
    return iter(enumerator) if enumerator is not None else iter(())


def build_class(library, desc):
    """The Python class of one interface of the description."""
    namespace = {"__slots__": (), "_library": library, "_type": desc, "__doc__": desc.help or None}
    properties = {}
    members = {}
    setters = {}
    for func in desc.funcs:
        if func.kind == METHOD:
            members[func.name.lower()] = (func.name, _method(func))
        else:
            accessors = properties.setdefault(func.name, {})
            accessors[func.kind] = func
    for name, accessors in properties.items():
        getter = accessors.get(GET)
        fget = _getter(getter.dispid if getter else next(iter(accessors.values())).dispid, name)
        # A read-only property gets a setter too, so that assigning it brings the library's
        # own error rather than a Python one that names no member.
        put_func = accessors.get(PUT) or accessors.get(PUTREF) or getter
        fset = _setter(put_func.dispid, name, PUT in accessors, PUTREF in accessors)
        setters[name] = setters[name.lower()] = fset
        members[name.lower()] = (name, property(fget, fset, doc=getter.help if getter else None))
    for lower, (name, member) in members.items():
        namespace[name] = member
        namespace.setdefault(lower, member)
    lowered = {lower: member for lower, (name, member) in members.items()}
    namespace["_members"] = lowered
    namespace["_setters"] = setters
    if "count" in lowered and isinstance(lowered["count"], property):
        namespace["__len__"] = _len
    if any(func.dispid == _abi.DISPID_NEWENUM for func in desc.funcs):
        namespace["__iter__"] = _iter
    return type(desc.name.lstrip("_") or "Object", (Object,), namespace)


_classes = {}


def class_for(library, type_address):
    key = (id(library), type_address)
    cls = _classes.get(key)
    if cls is None:
        desc = library.desc.by_address.get(type_address)
        if desc is None:
            cls = type("Object", (Object,), {"__slots__": (), "_library": library})
        else:
            cls = build_class(library, desc)
        cls = _classes.setdefault(key, cls)
    return cls


def wrap(library, pointer, owned=True):
    """The Python object of a dispatch pointer; owned: the reference is handed over (else one
    is taken)."""
    vtbl = _vtable(pointer)
    if not owned:
        vtbl.addref(pointer)
    cls = class_for(library, vtbl.typedesc(pointer) or 0)
    return cls(library, pointer, vtbl)


class Enumerator:
    """What NewEnum returns: iterating it walks the collection's items in order."""
    __slots__ = ("_library", "_ptr", "_next", "_release")

    def __init__(self, library, pointer):
        table = _abi.EnumVtbl.from_address(ctypes.c_void_p.from_address(pointer).value)
        self._library = library
        self._ptr = pointer
        self._next = _abi.EnumNextFn(table.Next)
        self._release = _abi.ReleaseFn(table.Release)

    def __iter__(self):
        item = _abi.Variant()
        address = ctypes.addressof(item)
        buffer = memoryview(item).cast("B")
        fetched = ctypes.c_uint32()
        while True:
            result = self._next(self._ptr, 1, address, ctypes.addressof(fetched))
            if result < 0:
                raise AutomationError(result, "the enumeration failed")
            if fetched.value == 0:
                return
            yield _variant.read(self._library, address, buffer, 0, True)

    def __del__(self):
        try:
            pointer, self._ptr = self._ptr, 0
            if pointer:
                self._release(pointer)
        except Exception:
            pass


def wrap_unknown(library, pointer, owned=True):
    """An object known only by identity: the enumerator NewEnum hands out."""
    unknown = _abi.vtable(pointer, _abi.EnumVtbl)
    query = _abi.QueryInterfaceFn(unknown.QueryInterface)
    release = _abi.ReleaseFn(unknown.Release)
    out = ctypes.c_void_p()
    result = query(pointer, ctypes.addressof(_abi.IID_IEnumVARIANT), ctypes.addressof(out))
    if owned:
        release(pointer)
    if result < 0 or not out.value:
        raise AutomationError(result if result < 0 else _abi.E_NOINTERFACE, "the object is not an enumerator")
    return Enumerator(library, out.value)
