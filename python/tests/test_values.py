"""What crosses the boundary without the library: variant layout and conversion, class ids,
the registration file, keyword placement."""
import ctypes
import enum

import pytest

from tolmail import AutomationError, Missing, _abi, _library, _objects, _variant


def _variant_with(value):
    cell = _abi.Variant()
    keep = []
    _variant.put(memoryview(cell).cast("B"), 0, value, keep)
    return cell, keep


def _read_back(cell):
    return _variant.read(None, ctypes.addressof(cell), memoryview(cell).cast("B"), 0, False)


@pytest.mark.parametrize("value, vt", [
    (0, _abi.VT_I4), (-0x80000000, _abi.VT_I4), (0x7FFFFFFF, _abi.VT_I4),
    (True, _abi.VT_BOOL), (False, _abi.VT_BOOL),
    (2.5, _abi.VT_R8), (None, _abi.VT_EMPTY),
    ("", _abi.VT_BSTR), ("Grüße ✓", _abi.VT_BSTR),
    (b"\x00\xff\r\n", _abi.VT_BYTES),
    # Bytes that are not UTF-8, carried in a str, come back as the same bytes.
    (b"\xe9t\xe9".decode("utf-8", "surrogateescape"), _abi.VT_BSTR),
])
def test_value_round_trips_with_its_variant_type(value, vt):
    cell, _ = _variant_with(value)
    assert cell.vt == vt
    back = _read_back(cell)
    assert back == value and type(back) is type(value)


def test_text_is_passed_as_utf8_bytes_with_their_length():
    cell, keep = _variant_with("a\x00é")
    assert ctypes.string_at(cell.u.str.data, cell.u.str.length) == b"a\x00\xc3\xa9"
    assert keep, "the encoded text must be held alive for the call"


def test_boolean_true_is_minus_one_as_automation_has_it():
    cell, _ = _variant_with(True)
    assert cell.u.boolean == -1


@pytest.mark.parametrize("value", [0x80000000, -0x80000001, 1 << 40])
def test_integer_beyond_32_bits_is_an_overflow(value):
    with pytest.raises(AutomationError) as raised:
        _variant_with(value)
    assert raised.value.code == _abi.unsigned(_abi.DISP_E_OVERFLOW)


def test_missing_is_the_left_out_marker_and_reads_as_none():
    cell, _ = _variant_with(Missing)
    assert (cell.vt, cell.u.scode) == (_abi.VT_ERROR, _abi.DISP_E_PARAMNOTFOUND)
    assert _read_back(cell) is None


@pytest.mark.parametrize("value, expected", [
    (bytearray(b"ab"), b"ab"), (memoryview(b"cd"), b"cd"), (enum.IntEnum("E", "A B")(2), 2)])
def test_other_kinds_pass_as_their_base_type(value, expected):
    cell, keep = _variant_with(value)  # keep: the converted copy must live as long as the call
    back = _read_back(cell)
    assert back == expected and type(back) is type(expected)


def test_unsupported_python_type_is_a_type_mismatch():
    with pytest.raises(AutomationError) as raised:
        _variant_with(object())
    assert raised.value.code == _abi.unsigned(_abi.DISP_E_TYPEMISMATCH)


@pytest.mark.parametrize("vt, field, raw, expected", [
    (_abi.VT_I2, "i2", -7, -7), (_abi.VT_UI1, "ui1", 200, 200),
    (_abi.VT_R4, "r4", 1.5, 1.5), (_abi.VT_NULL, "i4", 0, None),
])
def test_library_side_types_read_as_python_values(vt, field, raw, expected):
    cell = _abi.Variant()
    cell.vt = vt
    setattr(cell.u, field, raw)
    assert _read_back(cell) == expected


def test_variant_layout_matches_the_c_header():
    assert _abi.VARIANT_SIZE == (24 if ctypes.sizeof(ctypes.c_void_p) == 8 else 16)
    assert _abi.Variant.u.offset == 8
    assert ctypes.sizeof(_abi.ErrorInfo) == 4 + 64 + 512


@pytest.mark.parametrize("text", ["{00020400-0000-0000-C000-000000000046}",
                                  "6f1c2a3b-1d2e-4f50-8a9b-0c1d2e3f4a5b"])
def test_class_id_text_round_trips(text):
    assert str(_abi.Guid.parse(text)) == "{%s}" % text.strip("{}").upper()


def test_class_id_in_memory_is_the_c_struct():
    guid = _abi.Guid.parse("{00020400-0000-0000-C000-000000000046}")
    assert bytes(guid) == bytes.fromhex("00040200" "0000" "0000" "C000000000000046")


def test_registry_lines_resolve_progid_to_class_and_path(tmp_path):
    registry = tmp_path / "registry"
    registry.write_text(
        "# kept by hand\n"
        "progid\tTolvanMail.TolvanSMTP\t{11111111-2222-3333-4444-555555555555}\n"
        "clsid\t{11111111-2222-3333-4444-555555555555}\tTolvanSMTP\tApartment\t/opt/lib/libtolmail.so\n"
        "typelib\t{AAAAAAAA-2222-3333-4444-555555555555}\tTolvanMail\t40.0\t1033\t/opt/lib/libtolmail.so\n"
        "other\tkind\tof line\n"
        "progid\ttruncated\n")
    progids, classes, typelibs = _library.read_registry(str(registry))
    clsid = progids["tolvanmail.tolvansmtp"]
    assert classes[clsid] == ("TolvanSMTP", "/opt/lib/libtolmail.so")
    assert typelibs == {"tolvanmail": "/opt/lib/libtolmail.so"}
    assert len(progids) == 1


def test_registry_path_follows_xdg_data_home(monkeypatch, tmp_path):
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path))
    assert _library.registry_path() == str(tmp_path / "tolmail" / "registry")
    assert _library.read_registry() == ({}, {}, {})


@pytest.mark.parametrize("args, keywords, expected", [
    ((), {"datalen": 5}, (Missing, 5)),
    (("x",), {"DataLen": 5}, ("x", 5)),
    ((), {"DataBuff": "y"}, ("y",)),
])
def test_keywords_take_their_declared_place(args, keywords, expected):
    assert _objects._place_keywords("GetData", ["databuff", "datalen"], args, keywords) == expected


def test_unknown_keyword_is_an_automation_error():
    with pytest.raises(AutomationError):
        _objects._place_keywords("GetData", ["databuff"], (), {"size": 1})
