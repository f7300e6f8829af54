"""The one exception of the package."""


class AutomationError(Exception):
    """An automation error or failure of the library.

    `code` is the unsigned 32-bit code: the member's own error (0x800A0009 for a bad index)
    when it raised one, else the call's result (0x80020006 for an unknown name, ...);
    `text` says what went wrong, `source` names the class when the library did."""

    def __init__(self, code, text, source="", hresult=None):
        code &= 0xFFFFFFFF
        super().__init__(code, text)
        self.code = code
        self.text = text
        self.source = source
        self.hresult = code if hresult is None else hresult & 0xFFFFFFFF

    def __str__(self):
        where = "%s: " % self.source if self.source else ""
        return "%s%s (0x%08X)" % (where, self.text, self.code)


class UnknownNameError(AutomationError, AttributeError):
    """A member name the object does not know; also an AttributeError, so that hasattr()
    and getattr(obj, name, default) behave as Python users expect."""
