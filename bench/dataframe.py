"""Encoding a DataFrame of floats: the native encoder against what it cannot avoid, numpy's own
conversion of the labels and the values to Python lists plus the encoder floor for that table."""
import sys

import numpy as np
import pandas as pd

from cellumo_master.python_server.cellumo import ostrel

import _floor

from . import baseline
from .report import ratio_row
from .timing import compare, fmt_seconds, median

SIZES = {"full": (20000, 10, 15, 1), "quick": (4000, 10, 7, 1), "smoke": (30, 4, 2, 1)}


def frame(rows, cols, seed=3):
    rnd = np.random.default_rng(seed)
    return pd.DataFrame(rnd.uniform(-1e6, 1e6, size=(rows, cols)), columns=[f"c{i}" for i in range(cols)])


def run(size="full"):
    rows, cols, repeat, number = SIZES[size]
    df = frame(rows, cols)
    header_tags = [sys.intern("String")] * cols
    body_tags = [[sys.intern("Float")] * cols for _ in range(rows)]
    tags = [header_tags] + body_tags

    def floor():
        table = [df.columns.tolist()] + df.values.tolist()
        return _floor.encode_table(table, tags)

    to_wire = ostrel.Serializer.to_wire
    if not (to_wire(df) == floor() == baseline.to_wire(df)):
        raise AssertionError("encoders disagree on the DataFrame")
    samples = compare(
        {"native": lambda: to_wire(df), "floor": floor, "python": lambda: baseline.to_wire(df)},
        repeat=repeat,
        number=number,
    )
    m = {name: median(s) for name, s in samples.items()}
    section = f"2 encode DataFrame {rows}x{cols} floats"
    return [
        ratio_row(section, "to_wire / (tolist + floor)", m["native"] / m["floor"], 1.3,
                  context=f"medians {fmt_seconds(m['native'])} vs {fmt_seconds(m['floor'])}"),
        ratio_row(section, "python baseline / to_wire", m["python"] / m["native"],
                  context=f"median {fmt_seconds(m['python'])}"),
    ]
