"""Every public operation in a loop must not grow memory once warmed up: traced allocations
(tracemalloc), references to the objects passed in (sys.getrefcount) and the process's RSS."""
import concurrent.futures
import datetime as dt
import gc
import sys

import numpy as np
import pandas as pd
import pytest

import attack_support
from attack_support import SANITIZED, count, reraise_if_fault, report, size

ROUNDS = size(300, 4000, sanitized=10)
# Bytes of traced growth allowed per round after warm-up: the smallest leaked object (an int, a
# float) costs more than this.
PER_ROUND = 16


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4


def growth(op, rounds=ROUNDS):
    return attack_support.growth(op, rounds, warmup=rounds // 4 + 10)


class Answering:
    """A send handler that answers each request at once with `result`."""

    def __init__(self, messaging, result=None, ok=True, error=None):
        self.m = messaging
        self.response = {"ok": ok, "result": result}
        if error is not None:
            self.response["error"] = error

    def __call__(self, message):
        self.m.on_message({"requestId": message["requestId"], **self.response})


@pytest.fixture
def m(ostrel):
    yield ostrel.messaging
    ostrel.messaging.set_send_handler(None)
    ostrel.messaging.reset()


def check(name, op, *passed):
    counts = [sys.getrefcount(x) for x in passed]
    per_round = growth(op)
    if per_round >= PER_ROUND and not SANITIZED:
        # pandas and the interpreter fill caches of their own now and then: look again, longer
        per_round = growth(op, ROUNDS * 5)
    count("leaks", "operations checked")
    if not SANITIZED:
        assert per_round < PER_ROUND, f"{name}: {per_round:.1f} bytes kept per call"
    assert [sys.getrefcount(x) for x in passed] == counts, f"{name}: references to its arguments leaked"


def values():
    return [None, True, 7, 2**100, 1.5, "text", b"\x00\x01", bytearray(b"ab"), dt.datetime(2024, 1, 2, 3, 4, 5),
            dt.datetime(2024, 1, 2, tzinfo=dt.timezone(dt.timedelta(hours=2))), dt.date(2024, 1, 2),
            np.datetime64("2024-01-02T03:04"), pd.Timestamp("2024-01-02", tz="UTC"), np.int64(3), np.bool_(True),
            [1, (2, None)], {"a": {1: [1.5]}}, pd.DataFrame({"x": [1, 2], "y": ["a", "b"]}), pd.Series([1.0]),
            {1, 2}, len]


RECORDS = [{"type": "Null"}, {"type": "Int", "value": 5}, {"type": "Date", "value": "2024-01-02T00:00:00+02:00"},
           {"type": "Date", "value": "nonsense"}, {"type": "Bytes", "value": "AAE="}, {"type": "Bytes"},
           {"type": "Array", "id": 4, "value": [{"type": "Int", "value": 1}, {"type": "Range", "value": 3, "isSpec": True}]},
           {"type": "Dict", "id": 5, "value": {"k": {"type": "String", "value": "v"}}},
           {"type": "Range", "value": 12, "isSpec": True}, {}, {"type": "Other", "value": [1]}]
BAD_RECORDS = [{"type": "Int", "value": "x"}, {"type": "Array", "value": [1]}, {"type": "Array"},
               {"type": "Bytes", "value": "!!"}, {"isSpec": True, "value": 1}]


@pytest.mark.parametrize("value", values(), ids=lambda v: type(v).__name__)
def test_encoding(ostrel, m, value):
    m.set_send_handler(Answering(m))
    S = ostrel.Serializer
    if isinstance(value, set):
        # refused, with the place it stood: the refusal must keep nothing either
        def refused():
            with pytest.raises(TypeError):
                S.to_wire([[value]])

        check("to_wire(set) refused", refused, value)
    elif callable(value):
        # a callable stays registered, by design, until the next reset
        check("to_wire(callable)", lambda: (S.to_wire(value), m.reset()), value)
    else:
        check(f"to_wire({type(value).__name__})", lambda: S.to_wire(value), value)


@pytest.mark.parametrize("record", RECORDS, ids=lambda r: str(r.get("type")))
def test_decoding(ostrel, m, record):
    m.set_send_handler(Answering(m))
    check(f"from_wire({record.get('type')})", lambda: ostrel.Serializer.from_wire(record), record)


@pytest.mark.parametrize("record", BAD_RECORDS, ids=str)
def test_decoding_that_fails(ostrel, m, record):
    def op():
        try:
            ostrel.Serializer.from_wire(record)
        except Exception as e:
            reraise_if_fault(e)
    check(f"from_wire failing on {record}", op, record)


def test_encoding_a_circular_value(ostrel, m):
    loop = []
    loop.append(loop)

    def circular():
        try:
            ostrel.Serializer.to_wire(loop)
        except ValueError:
            pass
    check("to_wire(circular)", circular, loop)


REQ = {"method": "GET", "name": "x"}


def _raising_handler(message):
    raise KeyError("handler")


def _expecting(exc_type, fn):
    def op():
        try:
            fn()
        except exc_type:
            pass
    return op


def _registry(m):
    def fn():
        pass

    def op():
        cid = m.register_callable(fn)
        assert m.get_callable(cid) is fn
        m.unregister_callable(cid)
    return op, fn


def _wrong_arguments(m):
    def op():
        for call in (lambda: m.send_request_sync(None), lambda: m.send_request_sync({}, "x"),
                     lambda: m.get_callable(b"x"), lambda: m.on_message(REQ, extra=1),
                     lambda: m.register_callable(5)):
            try:
                call()
            except TypeError:
                pass
    return op, REQ


def _reset_while_pending(m):
    def op():
        m.set_send_handler(lambda message: m.reset())
        try:
            m.send_request_sync(REQ, 1)
        except concurrent.futures.CancelledError:
            pass
    return op, REQ


STRAY = {"requestId": "feed", "ok": True}
# Each path of the messaging: (handler or None, a function of the messaging giving the operation
# and the object passed to it).
MESSAGING_PATHS = {
    "send_request_sync answered": (lambda m: Answering(m, result={"type": "Int", "value": 1}),
                                   lambda m: (lambda: m.send_request_sync(REQ), REQ)),
    "send_request_sync remote error": (lambda m: Answering(m, ok=False, error={"message": "nope"}),
                                       lambda m: (_expecting(RuntimeError, lambda: m.send_request_sync(REQ)), REQ)),
    "send_request_sync handler error": (lambda m: _raising_handler,
                                        lambda m: (_expecting(KeyError, lambda: m.send_request_sync(REQ)), REQ)),
    "send_request_sync timeout": (lambda m: lambda message: None,
                                  lambda m: (_expecting(TimeoutError, lambda: m.send_request_sync(REQ, 0)), REQ)),
    "reset cancelling a request": (None, _reset_while_pending),
    "on_message for an unknown id": (None, lambda m: (lambda: m.on_message(STRAY), STRAY)),
    "reset": (None, lambda m: (m.reset, None)),
    "register, get, unregister": (None, _registry),
    "argument errors": (None, _wrong_arguments),
}


@pytest.mark.parametrize("path", MESSAGING_PATHS)
def test_messaging_path(ostrel, m, path):
    handler, make = MESSAGING_PATHS[path]
    if handler is not None:
        m.set_send_handler(handler(m))
    op, passed = make(m)
    check(path, op, *([] if passed is None else [passed]))


def _refused(ostrel, m):
    stale = ostrel.OfficeJsObject(8, "Function")
    arr = ostrel.Serializer.from_wire({"type": "Array", "id": 3, "value": []})
    m.reset()
    Excel = ostrel.Excel

    def refused():
        for op in (lambda: stale.x, lambda: stale[0], lambda: stale(1), lambda: setattr(stale, "x", 1),
                   lambda: Excel["A1"], lambda: Excel(), lambda: setattr(arr, "x", 1)):
            try:
                op()
            except (RuntimeError, TypeError, AttributeError):
                pass
    return refused, [stale]


VALUE = [1, {"a": 2}]
ARRAY = {"type": "Array", "id": 3, "value": [{"type": "Int", "value": 1}]}
DICT = {"type": "Dict", "id": 4, "value": {"k": {"type": "Int", "value": 1}}}
# Each proxy operation: a function of the module and the messaging giving the operation and the
# objects passed to it.
PROXY_OPERATIONS = {
    "GET": lambda o, m: (lambda: o.Excel.workbook, []),
    "GETITEM": lambda o, m: (lambda: o.Excel[slice(1, None, -1)], []),
    "SET": lambda o, m: (lambda: setattr(o.Excel, "name", VALUE), [VALUE]),
    "CALL": lambda o, m: (lambda: o.GetSetting(VALUE, key=VALUE), [VALUE]),
    "proxy made and released": lambda o, m: (lambda: o.OfficeJsObject(5, "Range"), []),
    "array and dict proxies": lambda o, m: (lambda: (repr(o.OfficeJsArray(1)), repr(o.OfficeJsDict(2))), []),
    "array GET": lambda o, m: (lambda arr=o.Serializer.from_wire(ARRAY): arr.length, []),
    "dict local attribute": lambda o, m: (lambda d=o.Serializer.from_wire(DICT): d.k, []),
    "refused operations": _refused,
}


@pytest.mark.parametrize("operation", PROXY_OPERATIONS)
def test_proxy_operation(ostrel, m, operation):
    m.set_send_handler(Answering(m, result={"type": "Range", "value": 9, "isSpec": True}))
    op, passed = PROXY_OPERATIONS[operation](ostrel, m)
    check(operation, op, *passed)


def test_rss_stays_flat_over_a_long_mixed_run(ostrel, m):
    m.set_send_handler(Answering(m, result={"type": "Array", "id": 3, "value": [
        {"type": "Range", "value": 1, "isSpec": True}, {"type": "String", "value": "x" * 100}]}))
    frame = pd.DataFrame({"x": range(50)})

    def mixed():
        ostrel.Excel.workbook
        ostrel.GetSetting(frame, fn=len)
        ostrel.Serializer.to_wire({"k": [1.5, "s", None]})
        m.reset()

    rounds = size(3000, 30000, sanitized=100)
    for _ in range(rounds // 3):
        mixed()
    gc.collect()
    start = rss_kib()
    for _ in range(rounds):
        mixed()
    gc.collect()
    grown = rss_kib() - start
    report("leaks", rss_growth_kib=grown, mixed_rounds=rounds)
    if not SANITIZED:
        assert grown < 4096, f"RSS grew by {grown} KiB over {rounds} rounds"
