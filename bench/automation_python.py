#!/usr/bin/env python3
"""Costs of late-bound calls from Python through the tolmail package, next to a plain Python
object and a plain ctypes call, and broken down to show where the time goes.

    TOLMAIL_LIBRARY=build-release/libtolmail.so PYTHONPATH=python python3 bench/automation_python.py

Use a Release build without sanitizers: an instrumented library measures the instrumentation.
"""
import ctypes
import sys
import timeit

import tolmail
from tolmail import _abi, _library, _objects


def best(statement, number, **names):
    """Nanoseconds per call: the best of five runs (the least disturbed by the machine)."""
    timer = timeit.Timer(statement, globals=names)
    return min(timer.repeat(5, number)) / number * 1e9


class Plain:
    def __init__(self):
        self.value = 3

    @property
    def Priority(self):
        return self.value

    def Clear(self, flag=0):
        return None


def main():
    number = int(sys.argv[1]) if len(sys.argv) > 1 else 200000
    lib = _library.default()
    smtp = tolmail.Dispatch("TolvanMail.TolvanSMTP")
    smtp.Subject = "A subject of ordinary length"
    plain = Plain()
    descriptor = lib.dll.TmMessageLoopDescriptor

    # The bare ABI call the wrapper makes, with everything prepared: the floor of a get.
    scratch = _objects.Scratch()
    priority_id = ctypes.c_int32()
    smtp._vtbl.idofname(smtp._ptr, b"Priority", ctypes.addressof(priority_id), None)
    invoke, pointer, dispid = smtp._invoke, smtp._cptr, priority_id.value
    result, error = scratch.c_result, scratch.c_error

    # ctypes' own cost of seven arguments, on a C function that ignores them (labs).
    libc = ctypes.CDLL(None)
    seven = _abi.InvokeFn(ctypes.cast(libc.labs, ctypes.c_void_p).value)

    rows = [
        ("plain ctypes call (TmMessageLoopDescriptor)", best("f()", number, f=descriptor)),
        ("ctypes call with Invoke's seven arguments to labs()",
         best("f(p, 1, 2, None, 0, r, e)", number, f=seven, p=smtp._cptr, r=result, e=error)),
        ("plain Python object: property get", best("o.Priority", number, o=plain)),
        ("plain Python object: method call", best("o.Clear(0)", number, o=plain)),
        ("bare Invoke through ctypes (property get, int)",
         best("invoke(p, d, 2, None, 0, r, e)", number, invoke=invoke, p=pointer, d=dispid, r=result, e=error)),
        ("tolmail: late-bound property get (int)", best("o.Priority", number, o=smtp)),
        ("tolmail: late-bound property get (str)", best("o.Subject", number, o=smtp)),
        ("tolmail: late-bound property get, other letter case", best("o.priority", number, o=smtp)),
        ("tolmail: method call with one argument (Clear(0))", best("o.Clear(0)", number, o=smtp)),
    ]
    floor = rows[0][1]
    width = max(len(name) for name, _ in rows)
    for name, nanoseconds in rows:
        print("%-*s  %8.0f ns  %5.1fx" % (width, name, nanoseconds, nanoseconds / floor))
    del smtp, invoke


if __name__ == "__main__":
    main()
