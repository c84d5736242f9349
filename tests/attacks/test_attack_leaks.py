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
from attack_support import SANITIZED, report, size

ROUNDS = size(300, 4000)
# Bytes of traced growth allowed per round after warm-up: the smallest leaked object (an int, a
# float) costs more than this.
PER_ROUND = 16
found = {"operations": 0}


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
    found["operations"] += 1
    if not SANITIZED:
        assert per_round < PER_ROUND, f"{name}: {per_round:.1f} bytes kept per call"
    assert [sys.getrefcount(x) for x in passed] == counts, f"{name}: references to its arguments leaked"


def values():
    return [None, True, 7, 2**100, 1.5, "text", b"\x00\x01", bytearray(b"ab"), dt.datetime(2024, 1, 2, 3, 4, 5),
            dt.datetime(2024, 1, 2, tzinfo=dt.timezone(dt.timedelta(hours=2))), dt.date(2024, 1, 2),
            np.datetime64("2024-01-02T03:04"), pd.Timestamp("2024-01-02", tz="UTC"), np.int64(3), np.bool_(True),
            [1, (2, None)], {"a": {1: [1.5]}}, pd.DataFrame({"x": [1, 2], "y": ["a", "b"]}), pd.Series([1.0]),
            {1, 2}, len]


def test_encoding_and_decoding(ostrel, m):
    m.set_send_handler(Answering(m))
    S = ostrel.Serializer
    for value in values():
        if callable(value):
            # a callable stays registered, by design, until the next reset
            check("to_wire(callable)", lambda: (S.to_wire(value), m.reset()), value)
        else:
            check(f"to_wire({type(value).__name__})", lambda: S.to_wire(value), value)
    records = [{"type": "Null"}, {"type": "Int", "value": 5}, {"type": "Date", "value": "2024-01-02T00:00:00+02:00"},
               {"type": "Date", "value": "nonsense"}, {"type": "Bytes", "value": "AAE="}, {"type": "Bytes"},
               {"type": "Array", "id": 4, "value": [{"type": "Int", "value": 1}, {"type": "Range", "value": 3, "isSpec": True}]},
               {"type": "Dict", "id": 5, "value": {"k": {"type": "String", "value": "v"}}},
               {"type": "Range", "value": 12, "isSpec": True}, {}, {"type": "Other", "value": [1]}]
    for record in records:
        check(f"from_wire({record.get('type')})", lambda: S.from_wire(record), record)
    bad = [{"type": "Int", "value": "x"}, {"type": "Array", "value": [1]}, {"type": "Array"},
           {"type": "Bytes", "value": "!!"}, {"isSpec": True, "value": 1}]
    for record in bad:
        def op(record=record):
            try:
                S.from_wire(record)
            except Exception:
                pass
        check(f"from_wire failing on {record}", op, record)
    loop = []
    loop.append(loop)

    def circular():
        try:
            S.to_wire(loop)
        except ValueError:
            pass
    check("to_wire(circular)", circular, loop)


def test_messaging_paths(ostrel, m):
    req = {"method": "GET", "name": "x"}
    m.set_send_handler(Answering(m, result={"type": "Int", "value": 1}))
    check("send_request_sync answered", lambda: m.send_request_sync(req), req)
    m.set_send_handler(Answering(m, ok=False, error={"message": "nope"}))

    def remote_error():
        try:
            m.send_request_sync(req)
        except RuntimeError:
            pass
    check("send_request_sync remote error", remote_error, req)

    def raising_handler(message):
        raise KeyError("handler")
    m.set_send_handler(raising_handler)

    def handler_error():
        try:
            m.send_request_sync(req)
        except KeyError:
            pass
    check("send_request_sync handler error", handler_error, req)
    m.set_send_handler(lambda message: None)

    def timeout():
        try:
            m.send_request_sync(req, 0)
        except TimeoutError:
            pass
    check("send_request_sync timeout", timeout, req)

    def reset_while_pending():
        m.set_send_handler(lambda message: m.reset())
        try:
            m.send_request_sync(req, 1)
        except concurrent.futures.CancelledError:
            pass
    check("reset cancelling a request", reset_while_pending, req)
    stray = {"requestId": "feed", "ok": True}
    check("on_message for an unknown id", lambda: m.on_message(stray), stray)
    check("reset", m.reset)

    def fn():
        pass

    def registry():
        cid = m.register_callable(fn)
        assert m.get_callable(cid) is fn
        m.unregister_callable(cid)
    check("register, get, unregister", registry, fn)

    def wrong_arguments():
        for call in (lambda: m.send_request_sync(None), lambda: m.send_request_sync({}, "x"),
                     lambda: m.get_callable(b"x"), lambda: m.on_message(req, extra=1),
                     lambda: m.register_callable(5)):
            try:
                call()
            except TypeError:
                pass
    check("argument errors", wrong_arguments, req)


def test_proxy_operations(ostrel, m):
    m.set_send_handler(Answering(m, result={"type": "Range", "value": 9, "isSpec": True}))
    Excel, GetSetting = ostrel.Excel, ostrel.GetSetting
    value = [1, {"a": 2}]
    check("GET", lambda: Excel.workbook)
    check("GETITEM", lambda: Excel[slice(1, None, -1)])
    check("SET", lambda: setattr(Excel, "name", value), value)
    check("CALL", lambda: GetSetting(value, key=value), value)
    check("proxy made and released", lambda: ostrel.OfficeJsObject(5, "Range"))
    check("array and dict proxies", lambda: (repr(ostrel.OfficeJsArray(1)), repr(ostrel.OfficeJsDict(2))))
    arr = ostrel.Serializer.from_wire({"type": "Array", "id": 3, "value": [{"type": "Int", "value": 1}]})
    d = ostrel.Serializer.from_wire({"type": "Dict", "id": 4, "value": {"k": {"type": "Int", "value": 1}}})
    check("array GET", lambda: arr.length)
    check("dict local attribute", lambda: d.k)
    stale = ostrel.OfficeJsObject(8, "Function")
    m.reset()

    def refused():
        for op in (lambda: stale.x, lambda: stale[0], lambda: stale(1), lambda: setattr(stale, "x", 1),
                   lambda: Excel["A1"], lambda: Excel(), lambda: setattr(arr, "x", 1)):
            try:
                op()
            except (RuntimeError, TypeError, AttributeError):
                pass
    check("refused operations", refused, stale)


def test_rss_stays_flat_over_a_long_mixed_run(ostrel, m):
    m.set_send_handler(Answering(m, result={"type": "Array", "id": 3, "value": [
        {"type": "Range", "value": 1, "isSpec": True}, {"type": "String", "value": "x" * 100}]}))
    frame = pd.DataFrame({"x": range(50)})

    def mixed():
        ostrel.Excel.workbook
        ostrel.GetSetting(frame, fn=len)
        ostrel.Serializer.to_wire({"k": [1.5, "s", None]})
        m.reset()

    rounds = size(3000, 30000)
    for _ in range(rounds // 3):
        mixed()
    gc.collect()
    start = rss_kib()
    for _ in range(rounds):
        mixed()
    gc.collect()
    grown = rss_kib() - start
    report("leaks", operations_checked=found["operations"], rss_growth_kib=grown, mixed_rounds=rounds)
    if not SANITIZED:
        assert grown < 4096, f"RSS grew by {grown} KiB over {rounds} rounds"
