"""Values as a cell means them: other real numbers are numbers, values without a cell meaning are
refused where they stand, plain arrays decode, and printing a collection shows its data."""
import datetime as dt
import enum
import fractions
import math
import numbers
import sys
from decimal import Decimal

import numpy as np
import pandas as pd
import pytest
from hypothesis import given, settings, strategies as st

import cellumo_master.python_server.cellumo.ostrel as ostrel_module
from ostrel_fakes import ok, wire


def W(tag, value, is_spec=False):
    return {"type": tag, "value": value, "isSpec": is_spec}


class Meters(numbers.Real):
    """A user's own real number, registered through the numbers ABCs only."""
    def __init__(self, v):
        self.v = v

    def __float__(self):
        return float(self.v)

    # The abstract methods a Real must define; none of them is used by the encoder.
    __abs__ = __add__ = __ceil__ = __eq__ = __floor__ = __floordiv__ = __le__ = __lt__ = None
    __mod__ = __mul__ = __neg__ = __pos__ = __pow__ = __radd__ = __rfloordiv__ = None
    __rmod__ = __rmul__ = __round__ = __rpow__ = __rtruediv__ = __truediv__ = __trunc__ = None


@pytest.mark.parametrize("value,expected", [
    (Decimal("1234.50"), 1234.5),
    (Decimal("-0.001"), -0.001),
    (fractions.Fraction(1, 4), 0.25),
    (Meters(3), 3.0),
    (Decimal("Infinity"), math.inf),
], ids=repr)
def test_other_real_numbers_are_floats(ostrel, value, expected):
    got = ostrel.Serializer.to_wire(value)
    assert got == W("Float", expected) and type(got["value"]) is float


def test_decimal_nan_follows_the_float_rule(ostrel):
    for text in ("NaN", "sNaN", "-NaN"):
        got = ostrel.Serializer.to_wire(Decimal(text))
        assert got["type"] == "Float" and math.isnan(got["value"])
    # Inside a table a NaN empties its cell, a Decimal's as a float's.
    frame = pd.DataFrame({"amount": [Decimal("1.5"), Decimal("NaN")]})
    rows = ostrel.Serializer.to_wire(frame)["value"]
    assert rows[1]["value"] == [W("Float", 1.5)] and rows[2]["value"] == [W("String", "")]


class Color(enum.Enum):
    RED = "r"


class Labelled:
    def __repr__(self):
        return "Labelled!"


def no_cell_meaning():
    def gen():
        yield 1
    return [({1, 2}, "set"), (frozenset(), "frozenset"), (1 + 2j, "complex"),
            (np.complex128(1j), "complex128"), (gen(), "generator"), (iter([1]), "list_iterator"),
            (map(str, [1]), "map"), (range(3), "range"), (sys, "module"), ({}.keys(), "dict_keys"),
            ({"a": 1}.items(), "dict_items"), (object(), "object")]


@pytest.mark.parametrize("value,type_name", no_cell_meaning(), ids=lambda v: type(v).__name__)
def test_values_without_a_cell_meaning_are_refused(ostrel, value, type_name):
    with pytest.raises(TypeError) as info:
        ostrel.Serializer.to_wire(value)
    assert str(info.value).startswith(f"Cannot send a value of type '{type_name}' to Excel: ")


def test_values_with_a_text_of_their_own_keep_the_text_fallback(ostrel):
    assert ostrel.Serializer.to_wire(Color.RED) == W("String", "Color.RED")
    assert ostrel.Serializer.to_wire(Labelled()) == W("String", "Labelled!")
    assert ostrel.Serializer.to_wire(dt.time(1, 2)) == W("String", "01:02:00")
    assert ostrel.Serializer.to_wire(np.timedelta64(5, "s")) == W("String", "5 seconds")


@pytest.mark.parametrize("value,where", [
    ([[1, 2], [3, 4], [5, {6}]], "row 3, column 2"),
    ([1, range(2)], "item 2"),
    ((0, (1, (2, {3}))), "item 2, item 2, item 2"),
    ({"total": [1, 2j]}, "key 'total', item 2"),
    (pd.DataFrame({"x": [1, 2], "y": [{1}, 2]}), "row 2, column 2"),  # the header is row 1
    (np.array([[1, {2}]], dtype=object), "row 1, column 2"),
])
def test_a_refusal_names_where_the_value_stood(ostrel, value, where):
    with pytest.raises(TypeError, match=rf"^Cannot send a value of type '\w+' to Excel \({where}\): "):
        ostrel.Serializer.to_wire(value)


def test_refusal_position_survives_a_replaced_encoder(ostrel, monkeypatch):
    original = ostrel.Serializer.to_wire
    monkeypatch.setattr(ostrel.Serializer, "to_wire", staticmethod(lambda value: original(value)))
    with pytest.raises(TypeError, match=r"\(row 1, column 3\)"):
        ostrel.Serializer.to_wire([[1, 2, {3}]])
    # A TypeError of the user's own is left as it is.
    def mine(value):
        if value == 2:
            raise TypeError("mine")
        return original(value)
    monkeypatch.setattr(ostrel.Serializer, "to_wire", staticmethod(mine))
    with pytest.raises(TypeError, match=r"^mine$"):
        original([1, [2]])


def test_refused_values_send_nothing(ostrel, addin):
    rng = ostrel.OfficeJsObject(9, "Range")
    with pytest.raises(TypeError, match=r"\(row 1, column 1\)"):
        rng.values = [[{1}]]
    fn = ostrel.OfficeJsObject(10, "Function")
    with pytest.raises(TypeError, match=r"\(argument 2\)"):
        fn(1, range(3))
    with pytest.raises(TypeError, match=r"\(argument 'where', row 1, column 1\)"):
        fn(1, where=[[1j]])
    assert addin.bodies("SET") == addin.bodies("CALL") == []


def test_plain_arrays_and_dicts_decode_without_an_id(ostrel):
    got = ostrel.Serializer.from_wire(ostrel.Serializer.to_wire([1, (2, "x"), {"k": None}]))
    assert got == [1, [2, "x"], {"k": None}] and type(got) is list and type(got[2]) is dict
    # With an id it stays a proxy for that remote collection.
    proxy = ostrel.Serializer.from_wire({"type": "Dict", "id": 4, "value": {}})
    assert type(proxy) is ostrel.OfficeJsDict and proxy._internal_id == 4
    with pytest.raises(TypeError, match=r"^The 'id' field of an Array or Dict wire value has incorrect type "
                                        r"\(expected int or None, got str\)$"):
        ostrel.Serializer.from_wire({"type": "Array", "id": "7", "value": []})


def plain_values():
    leaves = st.one_of(
        st.none(), st.booleans(), st.integers(), st.floats(allow_nan=False), st.text(),
        st.datetimes(), st.dates(), st.binary(max_size=8),
        st.datetimes(timezones=st.just(dt.timezone(dt.timedelta(hours=-5)))))
    return st.recursive(leaves, lambda inner: st.one_of(
        st.lists(inner, max_size=4), st.tuples(inner, inner),
        st.dictionaries(st.one_of(st.text(max_size=4), st.integers()), inner, max_size=4)), max_leaves=15)


def as_decoded(value):
    """What a value comes back as: tuples as lists, dates as datetimes at midnight."""
    if isinstance(value, (list, tuple)):
        return [as_decoded(v) for v in value]
    if isinstance(value, dict):
        return {k: as_decoded(v) for k, v in value.items()}
    if isinstance(value, dt.date) and not isinstance(value, dt.datetime):
        return dt.datetime(value.year, value.month, value.day)
    return value


@settings(max_examples=150, deadline=None)
@given(plain_values())
def test_from_wire_of_to_wire_round_trips(value):
    back = ostrel_module.Serializer.from_wire(ostrel_module.Serializer.to_wire(value))
    assert back == as_decoded(value)
    assert type(back) is type(as_decoded(value)) or isinstance(value, bool)


def received(ostrel, addin, record):
    addin.respond = lambda message: ok(record)
    value = ostrel.Excel.collection
    addin.sent.clear()
    return value


def test_printing_a_collection_shows_its_data(ostrel, addin, capsys):
    rows = received(ostrel, addin, {"type": "Array", "id": 9, "value": [
        {"type": "Array", "id": 10, "value": [wire("Int", 1), wire("String", "a")]},
        {"type": "Dict", "id": 11, "value": {"b": wire("Float", 2.5), "a": wire("Null", None)}}]})
    print(rows)
    assert capsys.readouterr().out == "[[1, 'a'], {'b': 2.5, 'a': None}]\n"
    assert str(rows[1]) == "{'b': 2.5, 'a': None}" and f"{rows[0]}" == "[1, 'a']"
    # repr keeps the id, for logs and debuggers.
    assert repr(rows) == "<OfficeJsArray id=9 len=2>" and repr(rows[1]) == "<OfficeJsDict id=11 keys=['b', 'a']>"
    assert addin.sent == []


def test_printing_large_or_deep_data_is_shortened(ostrel, addin):
    big = received(ostrel, addin, {"type": "Array", "id": 3, "value": [wire("Int", i) for i in range(100)]})
    assert str(big) == "[" + ", ".join(map(str, range(20))) + ", ... (100 items)]"
    wide = ostrel.OfficeJsDict(4)
    wide.update({i: "x" * 200 for i in range(25)})
    text = str(wide)
    assert text.endswith(", ... (25 keys)}") and "x" * 200 not in text and len(text) < 2500
    deep = ostrel.OfficeJsArray(5)
    deep.append(deep)  # changed locally into a self-containing list: the depth bound ends it
    assert str(deep) == "[[[[[[[...]]]]]]]"
    assert str(ostrel.OfficeJsArray(6)) == "[]" and str(ostrel.OfficeJsDict(7)) == "{}"
