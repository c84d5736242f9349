"""numpy arrays, frames with dates and missing cells, and copies of proxies, in a loop: no growth
of traced memory and no reference kept to what was passed in."""
import copy
import pickle
import sys

import numpy as np
import pandas as pd

import attack_support
from attack_support import SANITIZED, size

ROUNDS = size(200, 2000)
PER_ROUND = 16


def check(name, op, *passed):
    counts = [sys.getrefcount(x) for x in passed]
    per_round = attack_support.growth(op, ROUNDS, warmup=ROUNDS // 4 + 10)
    if per_round >= PER_ROUND and not SANITIZED:
        # pandas fills caches of its own now and then: look again, longer
        per_round = attack_support.growth(op, ROUNDS * 5, warmup=10)
    if not SANITIZED:
        assert per_round < PER_ROUND, f"{name}: {per_round:.1f} bytes kept per call"
    assert [sys.getrefcount(x) for x in passed] == counts, f"{name}: references to its arguments leaked"


def test_numpy_values_and_frames(ostrel):
    stamps = pd.Series(pd.to_datetime(["2024-01-02 03:04:05.123456789", None])).astype("datetime64[ns]")
    values = [
        np.array([[1, 2], [3, 4]]), np.array(np.datetime64("2024-01-02T03:04:05.1", "ns")),
        np.array(["2024-01-02", "NaT"], dtype="datetime64[ns]"), np.uint64(2**64 - 1), np.float32(1.5),
        stamps.to_frame(), pd.DataFrame({"x": [1.5, np.nan], "s": pd.Series(["a", pd.NA], dtype=object)}),
        pd.DataFrame({"n": pd.array([1, None], dtype="Int64"), "t": pd.to_timedelta(["1h", None])}),
    ]
    for value in values:
        check(f"to_wire({type(value).__name__})", lambda: ostrel.Serializer.to_wire(value), value)
    cell = np.empty((), dtype=object)
    cell[()] = cell

    def circular():
        try:
            ostrel.Serializer.to_wire(cell)
        except ValueError:
            pass
    check("to_wire(self-containing array)", circular, cell)
    cell[()] = None


def test_copies_of_proxies(ostrel):
    arr = ostrel.OfficeJsArray(3)
    arr.extend([1, ostrel.OfficeJsDict(4), "x"])
    arr[1].update(k=[1.5])
    copiers = [("copy", copy.copy), ("deepcopy", copy.deepcopy),
               ("pickle", lambda a: pickle.loads(pickle.dumps(a)))]
    for name, op in copiers:
        check(f"{name}(OfficeJsArray)", lambda: op(arr), arr, arr[1])
        check(f"{name}(OfficeJsDict)", lambda: op(arr[1]), arr[1])
    rng = ostrel.OfficeJsObject(5, "Range")

    def refused():
        try:
            copy.deepcopy(rng)
        except TypeError:
            pass
    check("deepcopy(OfficeJsObject)", refused, rng)
