"""Turns fuzzer bytes into Python values: a tiny reader over the input, so that the harnesses
also run without the fuzzer (the test suite replays them over seeded random inputs)."""
import datetime as dt
import math


class Source:
    def __init__(self, data: bytes):
        self.data = data
        self.pos = 0

    def left(self):
        return len(self.data) - self.pos

    def byte(self):
        if self.pos >= len(self.data):
            return 0
        self.pos += 1
        return self.data[self.pos - 1]

    def pick(self, seq):
        return seq[self.byte() % len(seq)]

    def int(self):
        n = self.byte() % 12
        raw = self.data[self.pos:self.pos + n]
        self.pos += len(raw)
        value = int.from_bytes(raw, "little", signed=True)
        return self.pick([value, value, value * 2**self.byte(), -value - 1])

    def float(self):
        return self.pick([0.0, -0.0, math.inf, -math.inf, math.nan, 1e308, 5e-324,
                          self.int() / (self.byte() + 1), 2.5])

    def text(self):
        n = self.byte() % 16
        raw = self.data[self.pos:self.pos + n]
        self.pos += len(raw)
        how = self.byte() % 4
        if how == 0:
            return raw.decode("latin-1")
        if how == 1:
            return raw.decode("utf-8", "surrogateescape")
        if how == 2:
            return raw.decode("utf-16-le", "replace")
        return "".join(chr(0xD800 + b) if b > 200 else chr(b) for b in raw)

    def bytes(self):
        n = self.byte() % 16
        raw = self.data[self.pos:self.pos + n]
        self.pos += len(raw)
        return raw


class OddStr(str):
    def __str__(self):
        raise ValueError("odd str")


class OddDict(dict):
    def items(self):
        raise KeyError("odd items")


class OddList(list):
    def __iter__(self):
        yield from super().__iter__()
        raise IndexError("odd iter")


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, int):
            return self.value
        raise TypeError("no index")

    def __float__(self):
        return self.value


TAGS = ["Null", "Bool", "Int", "Float", "String", "Date", "Bytes", "Array", "Dict",
        "Python_Function", "Range", "Function", "Excel", "RequestContext"]


def value(src: Source, depth=0):
    """Any value the bridge might be handed, mostly JSON-like, some hostile."""
    kind = src.byte() % (22 if depth < 6 and src.left() > 0 else 14)
    if kind == 0:
        return None
    if kind == 1:
        return bool(src.byte() & 1)
    if kind == 2:
        return src.int()
    if kind == 3:
        return src.float()
    if kind in (4, 5):
        return src.text()
    if kind == 6:
        return src.pick(TAGS)
    if kind == 7:
        return src.bytes()
    if kind == 8:
        return OddStr(src.text())
    if kind == 9:
        return Index(src.pick([src.int(), src.float(), "x"]))
    if kind == 10:
        return src.pick([dt.datetime(2024, 1, 2, 3, 4, 5), dt.date(1, 1, 1), dt.datetime.max,
                         dt.datetime(2024, 1, 1, tzinfo=dt.timezone(dt.timedelta(hours=-23)))])
    if kind == 11:
        return src.pick([len, lambda *a: None, print, type, object])
    if kind == 12:
        return src.int() % 100
    if kind == 13:
        return "2024-01-0" + str(src.byte() % 10) + src.text()
    if kind in (14, 15, 16, 17):
        return record(src, depth + 1)
    if kind in (18, 19):
        items = [value(src, depth + 1) for _ in range(src.byte() % 5)]
        return src.pick([items, items, tuple(items), OddList(items)])
    d = {}
    for _ in range(src.byte() % 5):
        key = src.pick([src.text(), src.int(), None, 1.5, src.pick(["type", "value", "isSpec", "id"])])
        d[key] = value(src, depth + 1)
    return src.pick([d, d, OddDict(d)])


def record(src: Source, depth=0):
    """A wire record, well-formed or not."""
    r = {}
    for key in ("type", "value", "isSpec", "id"):
        how = src.byte() % 8
        if how == 0:
            continue
        if key == "type":
            r[key] = src.pick(TAGS) if how < 6 else value(src, depth + 1)
        elif key == "value" and how < 4:
            r[key] = [record(src, depth + 1) for _ in range(src.byte() % 4)] if depth < 6 else None
        elif key == "value" and how == 4:
            r[key] = {src.text(): record(src, depth + 1) for _ in range(src.byte() % 3)} if depth < 6 else None
        elif key == "isSpec":
            r[key] = bool(how & 1) if how < 6 else value(src, depth + 1)
        elif key == "id":
            r[key] = src.int() if how < 6 else value(src, depth + 1)
        else:
            r[key] = value(src, depth + 1)
    return r
