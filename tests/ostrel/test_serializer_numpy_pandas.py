"""Encoding numpy values and pandas frames: numbers as numbers, dates as dates at every precision,
missing cells of a table as empty text, and nothing that encoded before changing its tag."""
import math

import numpy as np
import pandas as pd
import pytest


def W(tag, value, is_spec=False):
    return {"type": tag, "value": value, "isSpec": is_spec}


def cells(wire):
    """(tag, payload) pairs in the nesting of an encoded value."""
    if wire["type"] == "Array":
        return [cells(item) for item in wire["value"]]
    return (wire["type"], wire["value"])


INTEGERS = [np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint16, np.uint32, np.uint64,
            np.intc, np.uintc, np.longlong, np.ulonglong]
FLOATS = [np.float16, np.float32, np.float64, np.longdouble]


@pytest.mark.parametrize("kind", INTEGERS, ids=lambda t: t.__name__)
def test_numpy_integers_encode_as_int(ostrel, kind):
    info = np.iinfo(kind)
    for n in (0, 7, int(info.min), int(info.max)):
        got = ostrel.Serializer.to_wire(kind(n))
        assert got == W("Int", n) and type(got["value"]) is int


@pytest.mark.parametrize("kind", FLOATS, ids=lambda t: t.__name__)
def test_numpy_floats_encode_as_float(ostrel, kind):
    got = ostrel.Serializer.to_wire(kind(1.5))
    assert got == W("Float", 1.5) and type(got["value"]) is float
    # Outside a table a NaN stays a float.
    nan = ostrel.Serializer.to_wire(kind("nan"))
    assert nan["type"] == "Float" and type(nan["value"]) is float and math.isnan(nan["value"])


@pytest.mark.parametrize("value,expected", [
    (np.bool_(True), W("Bool", True)),
    (np.str_("s"), W("String", "s")),
    (np.bytes_(b"ab"), W("Bytes", "YWI=")),
    (np.datetime64("2024-01-02T03:04:05.123456789"), W("Date", "2024-01-02T03:04:05.123456789")),
    # A timedelta64 is a numpy integer, but not a number of anything a sheet knows.
    (np.timedelta64(5, "s"), W("String", "5 seconds")),
], ids=lambda v: type(v).__name__)
def test_other_numpy_scalars_keep_their_rules(ostrel, value, expected):
    assert ostrel.Serializer.to_wire(value) == expected


@pytest.mark.parametrize("value,expected", [
    (np.array(5), W("Int", 5)),
    (np.array(2.5, dtype=np.float32), W("Float", 2.5)),
    (np.array(True), W("Bool", True)),
    (np.array("x"), W("String", "x")),
    (np.array(None, dtype=object), W("Null", None)),
    (np.array(np.datetime64("2024-01-02T03:04:05.000000001")), W("Date", "2024-01-02T03:04:05.000000001")),
    (np.array(np.datetime64("2024-01-02", "D")), W("Date", "2024-01-02")),
    (np.array(np.timedelta64(3, "s")), W("String", "3 seconds")),
], ids=repr)
def test_zero_dimensional_arrays_encode_as_their_value(ostrel, value, expected):
    got = ostrel.Serializer.to_wire(value)
    assert got == expected and type(got["value"]) is type(expected["value"])


def test_arrays_encode_as_nested_lists(ostrel):
    assert cells(ostrel.Serializer.to_wire(np.array([[1, 2], [3, 4]]))) == [
        [("Int", 1), ("Int", 2)], [("Int", 3), ("Int", 4)]]
    assert cells(ostrel.Serializer.to_wire(np.array([0, 2**64 - 1], dtype=np.uint64))) == [
        ("Int", 0), ("Int", 2**64 - 1)]
    assert cells(ostrel.Serializer.to_wire(np.zeros((0, 3)))) == []
    frame = pd.DataFrame({"n": [1, 2], "s": pd.Series(["a", None], dtype=object), "t": pd.to_datetime(["2024-01-02", "2024-01-03"])})
    assert cells(ostrel.Serializer.to_wire(frame.to_numpy())) == [
        [("Int", 1), ("String", "a"), ("Date", "2024-01-02T00:00:00")],
        [("Int", 2), ("Null", None), ("Date", "2024-01-03T00:00:00")]]
    # Nanosecond dates stay dates (numpy's own tolist would give integers).
    stamps = np.array([["2024-01-02T03:04:05.123456789"]], dtype="datetime64[ns]")
    assert cells(ostrel.Serializer.to_wire(stamps)) == [[("Date", "2024-01-02T03:04:05.123456789")]]


def test_array_rule_comes_after_every_earlier_rule(ostrel):
    class CallableArray(np.ndarray):
        def __call__(self):
            return 1

    got = ostrel.Serializer.to_wire(np.arange(2).view(CallableArray))
    assert got["type"] == "Python_Function"
    ostrel.messaging.unregister_callable(got["value"])


def test_self_containing_object_array_is_refused(ostrel):
    cell = np.empty((), dtype=object)
    cell[()] = cell
    with pytest.raises(ValueError, match="[Cc]ircular reference"):
        ostrel.Serializer.to_wire(cell)


WHEN = pd.Timestamp("2024-01-02 03:04:05.123456789")


@pytest.mark.parametrize("unit", ["s", "ms", "us", "ns"])
def test_datetime_columns_encode_as_dates_at_every_precision(ostrel, unit):
    stamps = pd.Series([WHEN, WHEN + pd.Timedelta(days=1)]).astype(f"datetime64[{unit}]")
    expected = [("Date", t.isoformat()) for t in stamps]
    assert expected[0][1].startswith("2024-01-02T03:04:05")
    only_dates = pd.DataFrame({"when": stamps})
    mixed = pd.DataFrame({"when": stamps, "n": [1, 2]})
    for value in (only_dates, mixed, stamps.rename("when")):
        rows = cells(ostrel.Serializer.to_wire(value))
        assert rows[0][0] == ("String", "when")
        assert [row[0] for row in rows[1:]] == expected


def test_zone_aware_and_timedelta_columns(ostrel):
    aware = pd.Series(pd.to_datetime(["2024-01-02 03:04:05"]).tz_localize("Europe/Berlin"), name="at")
    assert cells(ostrel.Serializer.to_wire(aware))[1] == [("Date", "2024-01-02T02:04:05+00:00")]
    spans = pd.to_timedelta(["1 day 02:00:00", "00:00:00.000000001"])
    for frame in (pd.DataFrame({"d": spans}), pd.DataFrame({"d": spans, "n": [1, 2]})):
        rows = cells(ostrel.Serializer.to_wire(frame))
        assert [row[0] for row in rows[1:]] == [("String", "1 days 02:00:00"),
                                                 ("String", "0 days 00:00:00.000000001")]


def test_missing_cells_of_frames_encode_as_empty_text(ostrel):
    frame = pd.DataFrame({
        "float": [1.5, np.nan],
        "object": ["a", None],
        "when": pd.to_datetime(["2024-01-02", None]),
        "span": pd.to_timedelta(["1h", None]),
        "Int64": pd.array([1, None], dtype="Int64"),
        "boolean": pd.array([True, None], dtype="boolean"),
        "string": pd.array(["s", None], dtype="string"),
        "na": pd.Series(["x", pd.NA], dtype=object),
        "numpy": pd.Series([np.float32(2.5), np.datetime64("NaT", "ns")], dtype=object),
    })
    header, first, second = cells(ostrel.Serializer.to_wire(frame))
    assert header == [("String", name) for name in frame.columns]
    assert [tag for tag, _ in first] == ["Float", "String", "Date", "String", "Int", "Bool", "String",
                                         "String", "Float"]
    assert second == [("String", "")] * len(frame.columns)
    # A frame whose only values are missing, and a Series.
    assert cells(ostrel.Serializer.to_wire(pd.DataFrame({"t": pd.Series([pd.NaT], dtype="datetime64[ns]")}))) == [
        [("String", "t")], [("String", "")]]
    assert cells(ostrel.Serializer.to_wire(pd.Series([1.0, np.nan]))) == [[("Int", 0)], [("Float", 1.0)],
                                                                         [("String", "")]]


def test_missing_values_outside_frames(ostrel):
    # The markers empty a cell wherever they stand; None leaves it alone and a float NaN stays a NaN.
    got = cells(ostrel.Serializer.to_wire([None, np.nan, pd.NA, np.array([np.nan]), pd.NaT,
                                           np.datetime64("NaT", "ns"), np.timedelta64("NaT", "s"),
                                           np.array([np.datetime64("NaT", "ns")])]))
    assert got[0] == ("Null", None)
    assert got[1][0] == "Float" and math.isnan(got[1][1])
    assert got[3][0][0] == "Float" and math.isnan(got[3][0][1])
    assert got[2] == got[4] == got[5] == got[6] == ("String", "") and got[7] == [("String", "")]
    assert ostrel.Serializer.to_wire(pd.NaT) == W("String", "")


def test_frame_rows_go_through_the_public_encoder(ostrel, monkeypatch):
    seen = []
    original = ostrel.Serializer.to_wire

    def to_wire(value):
        seen.append(value)
        return original(value)

    monkeypatch.setattr(ostrel.Serializer, "to_wire", staticmethod(to_wire))
    ostrel.Serializer.to_wire(pd.DataFrame({"x": [np.nan]}))
    assert seen[1] == [["x"], [""]]
