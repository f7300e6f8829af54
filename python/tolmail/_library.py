"""Finding and loading libtolmail: TOLMAIL_LIBRARY, then a copy beside this package, then the
per-user registration file that DllRegisterServer writes."""
import ctypes
import os
import threading

from . import _abi
from .errors import AutomationError

LIBRARY_FILE = "libtolmail.so"
_loaded = {}
_lock = threading.Lock()


def registry_path():
    """${XDG_DATA_HOME:-$HOME/.local/share}/tolmail/registry, read anew on every call so that
    a host (or a test) may change XDG_DATA_HOME at run time."""
    base = os.environ.get("XDG_DATA_HOME") or os.path.join(os.path.expanduser("~"), ".local", "share")
    return os.path.join(base, "tolmail", "registry")


def read_registry(path=None):
    """The registration file as (progids, classes, typelibs): ProgID -> CLSID text,
    CLSID text (upper case) -> (class name, library path), library name -> library path.
    A missing file is an empty registry; lines of unknown kinds are ignored."""
    progids, classes, typelibs = {}, {}, {}
    try:
        with open(path or registry_path(), encoding="utf-8", errors="surrogateescape") as file:
            lines = file.read().splitlines()
    except FileNotFoundError:
        return progids, classes, typelibs
    for line in lines:
        if not line or line.startswith("#"):
            continue
        fields = line.split("\t")
        if fields[0] == "progid" and len(fields) >= 3:
            progids[fields[1].lower()] = fields[2].upper()
        elif fields[0] == "clsid" and len(fields) >= 5:
            classes[fields[1].upper()] = (fields[2], fields[-1])
        elif fields[0] == "typelib" and len(fields) >= 6:
            typelibs[fields[2].lower()] = fields[-1]
    return progids, classes, typelibs


class Library:
    """One loaded libtolmail: its exported functions and its description."""

    def __init__(self, path):
        self.path = path
        self.dll = _abi.declare(ctypes.CDLL(path))
        self._desc = None

    @property
    def desc(self):
        if self._desc is None:
            from ._description import describe
            self._desc = describe(self.dll.TmGetLibraryDesc().contents)
        return self._desc


def load(path):
    """The library at `path`, loaded once per process. Loaded by the path as given (made
    absolute), not the file a version link points to: the library registers itself under the
    name it was loaded by, so that an update behind the link stays registered."""
    absolute = os.path.abspath(path)
    real = os.path.realpath(absolute)
    with _lock:
        library = _loaded.get(real)
        if library is None:
            if not os.path.exists(real):
                raise AutomationError(_abi.E_FAIL, "no library at %s" % path)
            library = _loaded[real] = Library(absolute)
        return library


def _beside_package():
    candidate = os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_FILE)
    return candidate if os.path.exists(candidate) else None


def direct_path():
    """The library a host names without the registry: TOLMAIL_LIBRARY, else beside the package."""
    return os.environ.get("TOLMAIL_LIBRARY") or _beside_package()


def default():
    """The library for calls that name no class (the message loop, registration)."""
    path = direct_path()
    if path:
        return load(path)
    progids, classes, typelibs = read_registry()
    path = typelibs.get("tolvanmail") or next((p for _, p in classes.values()), None)
    if not path:
        raise AutomationError(_abi.CLASS_E_CLASSNOTAVAILABLE,
                              "libtolmail not found: set TOLMAIL_LIBRARY, install it beside the "
                              "package, or register it (%s)" % registry_path())
    return load(path)


def resolve(name, library=None):
    """(Library, class id) for a ProgID ("TolvanMail.TolvanSMTP"), a class name ("TolvanSMTP")
    or a class id ("{...}"); `library` (a path) overrides where the library is looked for."""
    path = library or direct_path()
    if path:
        lib = load(path)
        return lib, lib.desc.class_id(name)
    progids, classes, _ = read_registry()
    clsid = name.upper() if name.startswith("{") else progids.get(name.lower())
    if clsid is None or clsid not in classes:
        raise AutomationError(_abi.CLASS_E_CLASSNOTAVAILABLE,
                              "class %s is not registered (%s)" % (name, registry_path()))
    return load(classes[clsid][1]), _abi.Guid.parse(clsid)
