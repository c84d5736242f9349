"""The editor buffers the editor section works on, and where in them each request is made.

One is real standard-library code of several hundred lines (textwrap); the other is a user script
that leans on pandas, the case where jedi has the most to load and the editor the most to show.
"""
import inspect
import textwrap
from dataclasses import dataclass

PANDAS_SCRIPT = '''\
"""Monthly sales report, refreshed from the workbook."""
import datetime as dt

import numpy as np
import pandas as pd

REGIONS = ["north", "south", "east", "west"]


def load_sales(n_rows, seed=0):
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame(
        {
            "region": rng.choice(REGIONS, size=n_rows),
            "units": rng.integers(1, 50, size=n_rows),
            "price": rng.uniform(5.0, 80.0, size=n_rows),
            "day": pd.date_range("2024-01-01", periods=n_rows, freq="h"),
        }
    )
    frame["revenue"] = frame["units"] * frame["price"]
    return frame


def monthly(frame):
    by_month = frame.groupby([frame["day"].dt.to_period("M"), "region"])
    table = by_month["revenue"].sum().unstack("region").fillna(0.0)
    table["total"] = table.sum(axis=1)
    return table


def top_regions(table, k=2):
    ranked = table.drop(columns="total").sum().sort_values(ascending=False)
    return list(ranked.index[:k])


sales = load_sales(5000)
report = monthly(sales)
best = top_regions(report)
summary = report.describe()
stamp = dt.datetime.now().isoformat(timespec="seconds")
print(stamp, best, summary.loc["mean"].round(2).to_dict())
report.to_csv("report.csv", float_format="%.2f")
sales.sort_values("revenue", ascending=False).head(10)
'''


ALL_REQUESTS = ("get_completions", "get_hover", "get_signature_help", "get_diagnostics")


@dataclass
class Buffer:
    name: str
    code: str
    completion: tuple = None  # (line, column): 1-based line, 0-based column, as the editor sends them
    hover: tuple = None
    signature: tuple = None
    requests: tuple = ALL_REQUESTS


def _at(code, needle, offset=0):
    """Line and column of `needle` in `code` (first occurrence), moved `offset` characters on."""
    index = code.index(needle) + offset
    line = code.count("\n", 0, index) + 1
    column = index - (code.rfind("\n", 0, index) + 1)
    return line, column


def stdlib_buffer():
    code = inspect.getsource(textwrap)
    return Buffer(
        name=f"textwrap.py ({code.count(chr(10))} lines)",
        code=code,
        # After `self.` inside TextWrapper: its attributes and methods.
        completion=_at(code, "self.wordsep_re.split", len("self.")),
        # On `TextWrapper` where wrap() builds one.
        hover=_at(code, "w = TextWrapper(width", len("w = Text")),
        # Inside the arguments of that call.
        signature=_at(code, "w = TextWrapper(width", len("w = TextWrapper(")),
    )


def pandas_buffer():
    code = PANDAS_SCRIPT
    return Buffer(
        name=f"pandas script ({code.count(chr(10))} lines)",
        code=code,
        # After `frame.` in `frame.groupby(`: every DataFrame attribute.
        completion=_at(code, "frame.groupby(", len("frame.")),
        # On `groupby`.
        hover=_at(code, "frame.groupby(", len("frame.group")),
        # Inside `pd.date_range(` after the first argument.
        signature=_at(code, 'pd.date_range("2024-01-01", ', len('pd.date_range("2024-01-01", ')),
    )


def large_buffer():
    """A module of thousands of lines, where parsing is a large part of a diagnostics request."""
    import argparse

    code = inspect.getsource(argparse)
    return Buffer(name=f"argparse.py ({code.count(chr(10))} lines)", code=code, requests=("get_diagnostics",))


def buffers(size="full"):
    # The smoke run skips pandas: loading it into jedi alone takes seconds.
    if size == "smoke":
        return [stdlib_buffer()]
    return [stdlib_buffer(), pandas_buffer(), large_buffer()]
