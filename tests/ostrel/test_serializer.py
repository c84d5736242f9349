"""Wire values: encoding every kind of Python value in rule order, decoding every tag, and the
limits on deep and self-containing values."""
import datetime
import enum
import sys

import numpy as np
import pandas as pd
import pytest

from ostrel_fakes import wire


def W(tag, value, is_spec=False):
    return {"type": tag, "value": value, "isSpec": is_spec}


class Color(enum.IntEnum):
    BLUE = 3


class MyFloat(float):
    pass


class MyStr(str):
    pass


class MyList(list):
    pass


class MyDict(dict):
    pass


class Plain:
    def __str__(self):
        return "plain!"


@pytest.mark.parametrize("value,expected", [
    (None, W("Null", None)),
    (True, W("Bool", True)),
    (np.bool_(False), W("Bool", False)),
    (7, W("Int", 7)),
    (Color.BLUE, W("Int", 3)),
    (2.5, W("Float", 2.5)),
    (MyFloat(1.5), W("Float", 1.5)),
    (np.float64(0.25), W("Float", 0.25)),
    ("x", W("String", "x")),
    (np.int64(5), W("Int", 5)),
    (Plain(), W("String", "plain!")),
    (datetime.datetime(2024, 1, 2, 3, 4, 5), W("Date", "2024-01-02T03:04:05")),
    (datetime.datetime(2024, 1, 2, 3, 4, 5, tzinfo=datetime.timezone(datetime.timedelta(hours=2))),
     W("Date", "2024-01-02T01:04:05+00:00")),
    (datetime.date(2024, 1, 2), W("Date", "2024-01-02")),
    (pd.Timestamp("2024-01-02 03:04:05"), W("Date", "2024-01-02T03:04:05")),
    (np.datetime64("2024-01-02T03:04:05.123456789"), W("Date", "2024-01-02T03:04:05.123456789")),
    (np.datetime64("2024-01-02"), W("Date", "2024-01-02")),
    (b"\x00\xffhi", W("Bytes", "AP9oaQ==")),
    (bytearray(b"abc"), W("Bytes", "YWJj")),
    (memoryview(b"abc"), W("Bytes", "YWJj")),
    ((1, None), W("Array", [W("Int", 1), W("Null", None)])),
    (MyList(["a"]), W("Array", [W("String", "a")])),
    ({1: "a", "b": [2.0]}, W("Dict", {1: W("String", "a"), "b": W("Array", [W("Float", 2.0)])})),
    (MyDict(k=None), W("Dict", {"k": W("Null", None)})),
])
def test_encoding_rules(ostrel, value, expected):
    got = ostrel.Serializer.to_wire(value)
    assert got == expected
    assert type(got["value"]) is type(expected["value"])


def test_wire_values_have_three_keys_in_order_and_plain_payloads(ostrel):
    got = ostrel.Serializer.to_wire(value=[Color.BLUE, MyStr("s")])
    assert list(got) == ["type", "value", "isSpec"]
    assert all(list(item) == ["type", "value", "isSpec"] for item in got["value"])
    assert type(got["value"][0]["value"]) is int
    assert type(got["value"][1]["value"]) is MyStr
    assert type(ostrel.Serializer.to_wire(True)["value"]) is bool
    assert type(ostrel.Serializer.to_wire(np.bool_(True))["value"]) is bool


def test_dict_keys_kept_and_order_of_items(ostrel):
    got = ostrel.Serializer.to_wire({"z": 1, 1: 2, (1, 2): 3})
    assert list(got["value"]) == ["z", 1, (1, 2)]


def test_dataframe_and_series_as_tables(ostrel):
    df = pd.DataFrame({"x": [1, 2], "y": ["a", "b"]}, index=["r1", "r2"])
    got = ostrel.Serializer.to_wire(df)
    assert got == W("Array", [
        W("Array", [W("String", "x"), W("String", "y")]),
        W("Array", [W("Int", 1), W("String", "a")]),
        W("Array", [W("Int", 2), W("String", "b")]),
    ])
    s = pd.Series([1.5, 2.5], name="price")
    assert ostrel.Serializer.to_wire(s) == W("Array", [
        W("Array", [W("String", "price")]),
        W("Array", [W("Float", 1.5)]),
        W("Array", [W("Float", 2.5)]),
    ])


def test_proxies_encode_by_reference_and_collections_by_value(ostrel):
    assert ostrel.Serializer.to_wire(ostrel.Excel) == W("Excel", 1, True)
    assert ostrel.Serializer.to_wire(ostrel.GetSetting) == W("Function", 2, True)
    arr = ostrel.OfficeJsArray(4)
    arr.extend([1, "a"])
    assert ostrel.Serializer.to_wire(arr) == W("Array", [W("Int", 1), W("String", "a")])
    d = ostrel.OfficeJsDict(5)
    d.update(k=True)
    assert ostrel.Serializer.to_wire(d) == W("Dict", {"k": W("Bool", True)})


def test_callables_register_every_time(ostrel):
    def f():
        pass

    first = ostrel.Serializer.to_wire(f)
    second = ostrel.Serializer.to_wire(f)
    assert first["type"] == "Python_Function" and first["isSpec"] is True
    assert first["value"] != second["value"]
    for record in (first, second):
        assert record["value"].startswith("pyfunc_" + ostrel.messaging._guid[:8] + "_")
        assert ostrel.messaging.get_callable(record["value"]) is f
        ostrel.messaging.unregister_callable(record["value"])


def test_encoding_errors_propagate(ostrel):
    class BadInt(int):
        def __int__(self):
            raise ArithmeticError("no int")

    class BadStr:
        def __str__(self):
            raise LookupError("no str")

    with pytest.raises(ArithmeticError, match="no int"):
        ostrel.Serializer.to_wire([BadInt(1)])
    with pytest.raises(LookupError, match="no str"):
        ostrel.Serializer.to_wire({"k": BadStr()})


def test_self_containing_values_are_refused(ostrel):
    lst = [1]
    lst.append(lst)
    with pytest.raises(ValueError, match="[Cc]ircular reference"):
        ostrel.Serializer.to_wire(lst)
    d = {}
    d["me"] = [d]
    with pytest.raises(ValueError, match="[Cc]ircular reference"):
        ostrel.Serializer.to_wire(d)
    # The same object twice is no cycle.
    shared = [1]
    assert ostrel.Serializer.to_wire([shared, shared])["value"][1] == W("Array", [W("Int", 1)])


def test_deep_nesting_raises_recursion_error(ostrel):
    deep = None
    for _ in range(sys.getrecursionlimit() + 10):
        deep = [deep]
    with pytest.raises(RecursionError):
        ostrel.Serializer.to_wire(deep)
    # Within the limit it works, also for tuples and dicts mixed.
    ok = None
    for i in range(200):
        ok = ({"k": ok},) if i % 2 else [ok]
    assert ostrel.Serializer.to_wire(ok)["type"] == "Array"

    w = {"type": "Null"}
    for _ in range(sys.getrecursionlimit() + 10):
        w = {"type": "Array", "id": 1, "value": [w]}
    with pytest.raises(RecursionError):
        ostrel.Serializer.from_wire(w)


def test_deep_nesting_with_a_raised_recursion_limit_stays_safe(run_python):
    # However high the program sets the limit, the encoder refuses before the C stack runs out.
    proc = run_python(
        "import sys\n"
        "sys.setrecursionlimit(1_000_000)\n"
        "import cellumo_master.python_server.cellumo.ostrel as o\n"
        "deep = None\n"
        "for _ in range(200_000): deep = [deep]\n"
        "try:\n"
        "    o.Serializer.to_wire(deep)\n"
        "except RecursionError:\n"
        "    print('refused')\n"
        "w = {'type': 'Null'}\n"
        "for _ in range(200_000): w = {'type': 'Array', 'id': 1, 'value': [w]}\n"
        "try:\n"
        "    o.Serializer.from_wire(w)\n"
        "except RecursionError:\n"
        "    print('refused')\n")
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split() == ["refused", "refused"]


def test_list_changed_while_encoding(ostrel):
    lst = [1, 2, 3]

    class Shrinker:
        def __str__(self):
            lst.clear()
            return "s"

    lst.insert(1, Shrinker())
    got = ostrel.Serializer.to_wire(lst)
    assert got == W("Array", [W("Int", 1), W("String", "s")])

    d = {"a": 1}

    class Grower:
        def __str__(self):
            d["new"] = 2
            return "g"

    d["g"] = Grower()
    with pytest.raises(RuntimeError, match="changed size during iteration"):
        ostrel.Serializer.to_wire(d)


@pytest.mark.parametrize("record,expected", [
    ({}, "None"),
    ({"type": "Null", "value": 5}, None),
    ({"type": "Bool", "value": 0}, False),
    ({"type": "Bool", "value": "x"}, True),
    ({"type": "Int", "value": "12"}, 12),
    ({"type": "Int", "value": 2.9}, 2),
    ({"type": "Float", "value": 3}, 3.0),
    ({"type": "String", "value": 5}, "5"),
    ({"type": "String"}, "None"),
    ({"type": "Date", "value": "2024-01-02T03:04:05"}, datetime.datetime(2024, 1, 2, 3, 4, 5)),
    ({"type": "Date", "value": "2024-01-02"}, datetime.datetime(2024, 1, 2)),
    ({"type": "Date", "value": "2024-01-02T01:04:05+00:00"},
     datetime.datetime(2024, 1, 2, 1, 4, 5, tzinfo=datetime.timezone.utc)),
    ({"type": "Date", "value": "not a date"}, "not a date"),
    ({"type": "Date", "value": 17}, 17),
    ({"type": "Date"}, None),
    ({"type": "Bytes", "value": "YWJj"}, b"abc"),
    ({"type": "Bytes"}, b""),
    ({"type": "Bytes", "value": ""}, b""),
    ({"type": "Whatever", "value": 12}, "12"),
    ({"type": "Whatever", "value": 12, "isSpec": False}, "12"),
])
def test_decoding_plain_values(ostrel, record, expected):
    got = ostrel.Serializer.from_wire(record)
    assert got == expected and type(got) is type(expected)


def test_decoding_proxies(ostrel):
    obj = ostrel.Serializer.from_wire({"type": "Range", "value": 12, "isSpec": True})
    assert type(obj) is ostrel.OfficeJsObject
    assert (obj._internal_id, obj._internal_typeName) == (12, "Range")
    assert obj._msg_guid == ostrel.messaging._guid
    obj = ostrel.Serializer.from_wire({"type": "Range", "value": "13", "isSpec": 1})
    assert obj._internal_id == 13

    arr = ostrel.Serializer.from_wire({"type": "Array", "id": 7, "value": [{"type": "Int", "value": 1}]})
    assert type(arr) is ostrel.OfficeJsArray and arr == [1] and arr._internal_id == 7
    empty = ostrel.Serializer.from_wire({"type": "Array", "id": 7, "value": None, "isSpec": True})
    assert type(empty) is ostrel.OfficeJsArray and empty == []

    d = ostrel.Serializer.from_wire({"type": "Dict", "id": 8, "value": {
        "a": {"type": "Array", "id": 9, "value": [{"type": "String", "value": "x"}]},
        1: {"type": "Null"}}})
    assert type(d) is ostrel.OfficeJsDict and d._internal_id == 8
    assert list(d) == ["a", 1] and d[1] is None
    assert type(d["a"]) is ostrel.OfficeJsArray and d["a"] == ["x"] and d["a"]._internal_id == 9


@pytest.mark.parametrize("bad,exc", [
    ([], TypeError),
    (None, TypeError),
    ({"type": "Array", "id": "7", "value": []}, TypeError),  # an id must be a number
    ({"type": "Dict", "id": [1], "value": {}}, TypeError),
    ({"type": "Array", "id": 1, "value": [5]}, TypeError),
    ({"type": "Dict", "id": 1, "value": {"k": "v"}}, TypeError),
    ({"value": 3, "isSpec": True}, TypeError),  # a proxy needs a str type name
    ({"type": "Python_Function", "value": "pyfunc_x_1", "isSpec": True}, ValueError),
    ({"type": "Int", "value": "x"}, ValueError),
    ({"type": "Float", "value": None}, TypeError),
    ({"type": "Bytes", "value": "a"}, ValueError),
])
def test_decoding_errors(ostrel, bad, exc):
    with pytest.raises(exc):
        ostrel.Serializer.from_wire(bad)


def test_from_wire_refuses_dict_subclass_with_note(ostrel):
    with pytest.raises(TypeError) as info:
        ostrel.Serializer.from_wire(MyDict(type="Null"))
    assert str(info.value) == "Argument 'wire' has incorrect type (expected dict, got MyDict)"
    assert info.value.__notes__
    with pytest.raises(TypeError, match=r"^Argument 'wire' has incorrect type \(expected dict, got list\)$"):
        ostrel.Serializer.from_wire([])
    with pytest.raises(TypeError, match="incorrect type"):
        ostrel.Serializer.from_wire({"type": "Array", "id": 1, "value": [MyDict(type="Null")]})


def test_argument_counts(ostrel):
    with pytest.raises(TypeError, match=r"^to_wire\(\) takes exactly 1 positional argument \(2 given\)$"):
        ostrel.Serializer.to_wire(1, 2)
    with pytest.raises(TypeError, match=r"^from_wire\(\) takes exactly 1 positional argument \(0 given\)$"):
        ostrel.Serializer.from_wire()
    with pytest.raises(TypeError, match=r"^to_wire\(\) takes exactly 1 positional argument \(0 given\)$"):
        ostrel.Serializer.to_wire(x=1)
    with pytest.raises(TypeError, match=r"^to_wire\(\) got an unexpected keyword argument 'x'$"):
        ostrel.Serializer.to_wire(1, x=1)
    with pytest.raises(TypeError, match=r"^to_wire\(\) got multiple values for keyword argument 'value'$"):
        ostrel.Serializer.to_wire(1, value=1)
    assert ostrel.Serializer.from_wire(wire={"type": "Int", "value": 1}) == 1


def test_round_trip_of_plain_values(ostrel):
    for value in [None, True, 3, 2.5, "s", b"\x01", datetime.datetime(2024, 5, 6, 7, 8, 9, 10)]:
        assert ostrel.Serializer.from_wire(ostrel.Serializer.to_wire(value)) == value
    # Containers come back as proxies once the add-in has given them an id.
    encoded = ostrel.Serializer.to_wire({"k": [1, 2]})
    encoded["id"] = 1
    encoded["value"]["k"]["id"] = 2
    assert ostrel.Serializer.from_wire(encoded) == {"k": [1, 2]}


def test_recursion_goes_through_the_public_methods(ostrel, monkeypatch):
    seen = []
    original_to, original_from = ostrel.Serializer.to_wire, ostrel.Serializer.from_wire

    def to_wire(value):
        seen.append(("to", value))
        return original_to(value)

    def from_wire(w):
        seen.append(("from", w.get("type")))
        return original_from(w)

    monkeypatch.setattr(ostrel.Serializer, "to_wire", staticmethod(to_wire))
    monkeypatch.setattr(ostrel.Serializer, "from_wire", staticmethod(from_wire))
    ostrel.Serializer.to_wire([1, ("a",)])
    assert seen == [("to", [1, ("a",)]), ("to", 1), ("to", ("a",)), ("to", "a")]
    seen.clear()
    ostrel.Serializer.from_wire({"type": "Array", "id": 1, "value": [{"type": "Int", "value": 1}]})
    assert seen == [("from", "Array"), ("from", "Int")]


def test_late_bound_classes_used_by_decoding(ostrel, monkeypatch):
    made = []

    class Arr(list):
        def __init__(self, object_id):
            made.append(object_id)

    monkeypatch.setattr(ostrel, "OfficeJsArray", Arr)
    got = ostrel.Serializer.from_wire({"type": "Array", "id": 3, "value": [{"type": "Int", "value": 1}]})
    assert type(got) is Arr and got == [1] and made == [3]
