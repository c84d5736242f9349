"""Hostile values across the wire encoding: arbitrary JSON-like records and malformed wire
values for the decoder, arbitrary nested Python values (odd subclasses, failing conversions,
numpy and pandas edge values) for the encoder. Only Python exceptions may come out (and none
that marks a broken error convention), and plain values must survive a round trip exactly."""
import datetime as dt
import enum
import math
import sys
import threading

import numpy as np
import pandas as pd
import pytest
from hypothesis import given, strategies as st

from attack_support import ATTACK_SETTINGS, count, reraise_if_fault

TAGS = ["Null", "Bool", "Int", "Float", "String", "Date", "Bytes", "Array", "Dict",
        "Python_Function", "Range", "Function", "Excel"]


@pytest.fixture(autouse=True)
def quiet_releases(ostrel):
    """Decoded proxies send a release when dropped; answer those at once."""
    m = ostrel.messaging
    m.set_send_handler(lambda message: m.on_message({"requestId": message["requestId"], "ok": True}))
    yield
    m.set_send_handler(None)


scalars = st.one_of(
    st.none(), st.booleans(), st.integers(), st.integers(min_value=-2**200, max_value=2**200),
    st.floats(allow_nan=True, allow_infinity=True), st.text(), st.binary().map(lambda b: b),
    st.sampled_from(TAGS))
json_like = st.recursive(
    scalars, lambda inner: st.one_of(st.lists(inner, max_size=5),
                                     st.dictionaries(st.one_of(st.text(max_size=5), st.sampled_from(TAGS)),
                                                     inner, max_size=5)),
    max_leaves=30)


def records(inner):
    keys = st.sampled_from(["type", "value", "isSpec", "id"])
    key_values = {
        "type": st.one_of(st.sampled_from(TAGS), json_like, st.text(max_size=8)),
        "value": st.one_of(json_like, inner, st.lists(inner, max_size=4),
                           st.dictionaries(st.text(max_size=4), inner, max_size=4),
                           st.text(alphabet="ABCDEFabcdef0123456789+/=-:T. ", max_size=30)),
        "isSpec": st.one_of(st.booleans(), json_like),
        "id": st.one_of(st.integers(min_value=-2**70, max_value=2**70), json_like),
    }
    return st.lists(keys, unique=True).flatmap(
        lambda chosen: st.fixed_dictionaries({k: key_values[k] for k in chosen}))


wire_records = st.recursive(st.builds(dict), records, max_leaves=20)


@ATTACK_SETTINGS
@given(st.one_of(wire_records, json_like))
def test_decoding_anything_raises_only_python_exceptions(ostrel, record):
    count("wire", "decoded")
    try:
        ostrel.Serializer.from_wire(record)
    except Exception as e:
        reraise_if_fault(e)


# Plain values that must come back exactly. Dates are naive or aware date-times (a bare date
# comes back as a date-time at midnight, by design).
naive_times = st.datetimes(min_value=dt.datetime(1, 1, 1), max_value=dt.datetime(9999, 12, 31))
aware_times = st.datetimes(min_value=dt.datetime(2, 1, 1), max_value=dt.datetime(9998, 12, 31),
                           timezones=st.sampled_from([dt.timezone.utc, dt.timezone(dt.timedelta(hours=5, minutes=30)),
                                                      dt.timezone(dt.timedelta(hours=-11))]))
plain_scalars = st.one_of(st.none(), st.booleans(), st.integers(), st.floats(), st.text(),
                          st.binary(), naive_times, aware_times)
plain_values = st.recursive(
    plain_scalars, lambda inner: st.one_of(st.lists(inner, max_size=4), st.tuples(inner, inner),
                                           st.dictionaries(st.one_of(st.text(max_size=4), st.integers()),
                                                           inner, max_size=4)),
    max_leaves=25)


def with_ids(record, counter):
    """The encoder sends no `id` for a list or dict; the add-in's answer would carry one."""
    if isinstance(record, dict) and record.get("type") in ("Array", "Dict"):
        counter[0] += 1
        out = dict(record, id=counter[0])
        if record["type"] == "Array":
            out["value"] = [with_ids(v, counter) for v in record["value"]]
        else:
            out["value"] = {k: with_ids(v, counter) for k, v in record["value"].items()}
        return out
    return record


def same(a, b):
    if isinstance(a, float) and math.isnan(a):
        return isinstance(b, float) and math.isnan(b)
    if isinstance(a, (list, tuple)):
        return isinstance(b, list) and len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return isinstance(b, dict) and list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, dt.datetime) and a.tzinfo is not None:
        return b == a and b.utcoffset() == dt.timedelta(0)
    return type(a) is type(b) and a == b


@ATTACK_SETTINGS
@given(plain_values)
def test_plain_values_round_trip_exactly(ostrel, value):
    count("wire", "round trips")
    record = ostrel.Serializer.to_wire(value)
    back = ostrel.Serializer.from_wire(with_ids(record, [0]))
    assert same(value, back), (value, back)


# Hostile Python values for the encoder.
class Boom(Exception):
    pass


class OddStr(str):
    def __str__(self):
        raise Boom("str")


class OddInt(int):
    def __index__(self):
        raise Boom("index")

    def __int__(self):
        raise Boom("int")


class HugeInt(int):
    def __int__(self):
        return 10**400


class OddFloat(float):
    def __float__(self):
        raise Boom("float")


class ShrinkingList(list):
    def __iter__(self):
        while self:
            yield self.pop()


class BadIterList(list):
    def __iter__(self):
        yield 1
        raise Boom("iter")


class BadItemsDict(dict):
    def items(self):
        return [(1,), 5, ("a", 1, 2)]


class MutatingDict(dict):
    def items(self):
        self.clear()
        return iter([("k", self)])


class NoStr:
    def __str__(self):
        raise Boom("no str")

    def __repr__(self):
        return "NoStr()"


class StrReturnsNonStr:
    def __str__(self):
        return 5


class Color(enum.IntEnum):
    RED = 3


class Grows(list):
    """Encoding each item appends another: the encoder must not run forever on a real list."""


def hostile_leaf():
    return st.integers(0, len(LEAVES) - 1).map(lambda i: LEAVES[i])


def _leaves():
    weird_tz = dt.timezone(dt.timedelta(hours=23, minutes=59))
    return [
        OddStr("x"), OddInt(3), HugeInt(1), OddFloat(1.5), ShrinkingList([1, 2, 3]), BadIterList([1]),
        BadItemsDict(a=1), MutatingDict(a=1), NoStr(), StrReturnsNonStr(), Color.RED,
        np.int64(5), np.float32(1.5), np.float64("nan"), np.bool_(False), np.uint64(2**64 - 1),
        np.complex128(1j), np.datetime64("NaT", "ns"), np.datetime64("2024-01-02T03:04:05.123456789"),
        np.datetime64("2024", "Y"), np.datetime64(10**17, "s"), np.timedelta64(5, "D"), np.array([1, 2]),
        np.array([[np.nan]]), pd.NaT, pd.Timestamp("2024-01-02", tz="Asia/Tokyo"), pd.Timestamp.max,
        pd.Timestamp.min, pd.Series([1.5, None], dtype=object), pd.Series([], dtype=float),
        pd.DataFrame(), pd.DataFrame({"a": [pd.NaT], "b": [pd.Timestamp("2024-01-01", tz="UTC")]}),
        pd.DataFrame([[1, 2]], columns=pd.MultiIndex.from_tuples([("a", 1), ("a", 2)])),
        pd.Series([1], name=NoStr()), pd.Categorical(["a"]), pd.NA,
        dt.datetime(2024, 1, 1, tzinfo=weird_tz), dt.datetime.min.replace(tzinfo=weird_tz),
        dt.datetime.max.replace(tzinfo=dt.timezone(-dt.timedelta(hours=23))), dt.date.min, dt.time(1, 2),
        memoryview(b"abc")[::2], bytearray(b"\x00\xff"), memoryview(np.arange(3)), float("inf"), -0.0,
        2**10000, set([1]), frozenset(), range(3), slice(1, 2), Ellipsis, NotImplemented, type, len,
        object(), b"\x80" * 100, "\ud800", Grows([1]),
    ]


LEAVES = _leaves()


hostile_values = st.recursive(
    st.one_of(hostile_leaf(), plain_scalars),
    lambda inner: st.one_of(st.lists(inner, max_size=4), st.tuples(inner, inner),
                            st.dictionaries(st.one_of(st.text(max_size=3), st.integers(), st.none()),
                                            inner, max_size=4),
                            st.lists(inner, max_size=3).map(ShrinkingList)),
    max_leaves=20)


@ATTACK_SETTINGS
@given(hostile_values)
def test_encoding_hostile_values_raises_only_python_exceptions(ostrel, value):
    count("wire", "encoded")
    try:
        record = ostrel.Serializer.to_wire(value)
    except Exception as e:
        reraise_if_fault(e)
        return
    try:
        ostrel.Serializer.from_wire(with_ids(record, [0]))
    except Exception as e:
        reraise_if_fault(e)


def test_deep_and_self_containing_values(ostrel):
    """Depth beyond any limit raises RecursionError or ValueError, on any thread, also with the
    recursion limit raised far above what the C stack could take."""
    def nested(n, make):
        v = None
        for _ in range(n):
            v = make(v)
        return v

    wire_chain = nested(50_000, lambda v: {"type": "Array", "id": 1, "value": [v] if v else []})
    values = [nested(50_000, lambda v: [v]), nested(50_000, lambda v: {"k": v}),
              nested(50_000, lambda v: (v,))]
    loop = []
    loop.append(loop)
    loop_dict = {}
    loop_dict["me"] = [loop_dict]
    old = sys.getrecursionlimit()
    outcomes = []

    def attack():
        for value in values + [loop, loop_dict]:
            try:
                ostrel.Serializer.to_wire(value)
                outcomes.append("encoded")
            except (RecursionError, ValueError) as e:
                outcomes.append(type(e).__name__)
        try:
            ostrel.Serializer.from_wire(wire_chain)
            outcomes.append("decoded")
        except RecursionError:
            outcomes.append("RecursionError")

    try:
        for limit in (old, 1_000_000):
            sys.setrecursionlimit(limit)
            attack()
            t = threading.Thread(target=attack)
            t.start()
            t.join(60)
            assert not t.is_alive()
    finally:
        sys.setrecursionlimit(old)
    assert "encoded" not in outcomes and "decoded" not in outcomes
    assert len(outcomes) == 4 * 6
