"""Encoding a table (a list of lists): the native encoder against its native floor, the plain
Python encoder, and json.loads of the same wire value's text as the point of reference."""
import json

from cellumo_master.python_server.cellumo import ostrel

import _floor

from . import baseline, tables
from .report import floor_rows, ratio_row
from .timing import compare, fmt_seconds, median

SIZES = {"full": (2000, 10, 25, 3), "quick": (500, 10, 9, 2), "smoke": (20, 6, 2, 1)}


def _kinds(size):
    rows, cols, _, _ = SIZES[size]
    return (("floats", tables.float_table(rows, cols)), ("mixed", tables.mixed_table(rows, cols)))


def check_same(rows, tags):
    """The candidates must build the identical wire value before any of them is timed."""
    native = ostrel.Serializer.to_wire(rows)
    floor = _floor.encode_table(rows, tags)
    python = baseline.to_wire(rows)
    if not (native == floor == python):
        raise AssertionError("encoders disagree on the table")
    return native


def run(size="full"):
    rows_n, cols, repeat, number = SIZES[size]
    out = []
    for kind, rows in _kinds(size):
        tags = tables.tags_of(rows)
        wire = check_same(rows, tags)
        text = json.dumps(wire)
        to_wire = ostrel.Serializer.to_wire
        samples = compare(
            {
                "native": lambda: to_wire(rows),
                "floor": lambda: _floor.encode_table(rows, tags),
                "python": lambda: baseline.to_wire(rows),
                "json.loads": lambda: json.loads(text),
            },
            repeat=repeat,
            number=number,
        )
        m = {name: median(s) for name, s in samples.items()}
        section = f"1 encode {rows_n}x{cols} {kind}"
        out.extend(floor_rows(section, m, "to_wire", 1.3, None, "encoder"))
        out.append(ratio_row(section, "json.loads of the wire text / to_wire", m["json.loads"] / m["native"],
                             context=f"median {fmt_seconds(m['json.loads'])}"))
    return out
