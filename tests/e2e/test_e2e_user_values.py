"""What an analyst's script means by its values, through the kernel, the Node add-in and its
workbook: loops over collections end, money is a number, missing is empty, values without a cell
meaning are refused before anything is written, and printing what was read shows it."""
import datetime as dt
import enum
import fractions
import textwrap
from decimal import Decimal

import numpy as np
import pandas as pd
import pytest


def held(kernel, sheet):
    """The values and texts of the sheet's used range as the add-in holds them."""
    (snap,) = [s for s in kernel.snapshot() if s["name"] == sheet.name]
    return snap


def test_a_loop_over_worksheets_ends_after_the_last(kernel, ostrel, fresh_sheet):
    sheets = ostrel.Context.workbook.worksheets
    names = [s.name for s in sheets]
    assert names == [s.name for s in sheets.items] and fresh_sheet.name in names
    result = kernel.run_script(textwrap.dedent("""\
        count = 0
        for sheet in Context.workbook.worksheets:
            count += 1
        print(count)
        """), "loop.py")
    assert result.ok, result.error
    assert result.output == f"{len(names)}\n"


def test_an_index_past_the_end_is_an_index_error_and_a_runtime_error(ostrel, fresh_sheet):
    sheets = ostrel.Context.workbook.worksheets
    n = len(sheets.items)
    for kind in (IndexError, RuntimeError):
        with pytest.raises(kind) as info:
            sheets[n + 5]
        assert str(info.value) == f"Index {n + 5} is out of range for a WorksheetCollection of length {n}"
    # Negative indexes and slices keep their meaning.
    assert sheets[-1].name == sheets.items[-1].name
    assert [s.name for s in sheets[0:n:1]] == [s.name for s in sheets.items]
    assert [s.name for s in sheets[::-1]] == [s.name for s in reversed(sheets.items)]


def test_a_subscript_refused_for_another_reason_raises_in_the_loop(ostrel, fresh_sheet):
    messaging = ostrel.messaging
    handler = messaging._send_handler

    def failing_at_two(message):
        if message.get("method") == "GETITEM" and message.get("name") == "2":
            messaging.on_message({"requestId": message["requestId"], "ok": False,
                                  "error": {"message": "The add-in lost the collection", "code": "InternalError"}})
            return
        handler(message)

    sheets = ostrel.Context.workbook.worksheets
    extra = [sheets.add(f"{fresh_sheet.name[:25]}x{i}") for i in range(2)]
    messaging.set_send_handler(failing_at_two)
    try:
        seen = []
        with pytest.raises(RuntimeError, match="lost the collection") as info:
            for sheet in sheets:
                seen.append(sheet.name)
        assert len(seen) == 2 and not isinstance(info.value, IndexError)
    finally:
        messaging.set_send_handler(handler)
        for sheet in extra:
            sheet.delete()


def test_decimals_and_fractions_are_numbers_in_the_workbook(kernel, fresh_sheet):
    fresh_sheet.getRange("A1:A3").values = [[Decimal("1234.50")], [Decimal("0.25")], [fractions.Fraction(1, 4)]]
    fresh_sheet.getRange("A4").formulas = [["=SUM(A1:A3)"]]
    fresh_sheet.getRange("A1:A4").numberFormat = "0.00"
    snap = held(kernel, fresh_sheet)
    assert snap["values"] == [[1234.5], [0.25], [0.25], [1235.0]]
    assert snap["text"] == [["1234.50"], ["0.25"], ["0.25"], ["1235.00"]]


def test_missing_markers_empty_their_cells_wherever_they_stand(kernel, fresh_sheet):
    rng = fresh_sheet.getRange("A1:D2")
    rng.values = [[1, 2, 3, 4], [5, 6, 7, 8]]
    frame = pd.DataFrame({"when": pd.to_datetime(["2024-01-02", None]),
                          "n": pd.array([None, 4], dtype="Int64"),
                          "span": pd.to_timedelta([None, "1h"]),
                          "none": [None, None]}, dtype=object)
    rng.values = frame.values.tolist()
    values = held(kernel, fresh_sheet)["values"]
    # NaT, <NA> and NaT again are empty; None leaves its cell as it was.
    assert values[0][1:] == ["", "", 4] and values[1][0] == "" and values[1][3] == 8
    fresh_sheet.getRange("F1").values = pd.NaT
    fresh_sheet.getRange("F2").values = [[np.datetime64("NaT", "ns")]]
    fresh_sheet.getRange("G1").values = [[float("nan")]]
    snap = held(kernel, fresh_sheet)
    assert [row[5] for row in snap["values"]] == ["", ""]
    assert snap["text"][0][6] == "#NUM!"


class Region(enum.Enum):
    WEST = "west"

    def __str__(self):
        return self.value


def test_values_without_a_cell_meaning_are_refused_before_anything_is_written(kernel, fresh_sheet):
    rng = fresh_sheet.getRange("A1:B3")
    rng.values = [[1, 2], [3, 4], [5, 6]]
    for bad, name in [({1, 2}, "set"), (1 + 2j, "complex"), (range(3), "range"), ((x for x in "ab"), "generator")]:
        with pytest.raises(TypeError, match=rf"^Cannot send a value of type '{name}' to Excel \(row 3, column 2\)"):
            rng.values = [[1, 2], [3, 4], [5, bad]]
    assert held(kernel, fresh_sheet)["values"] == [[1, 2], [3, 4], [5, 6]]
    rng.values = [[Region.WEST, "x"], [3, 4], [5, 6]]  # a text of its own stays text
    assert held(kernel, fresh_sheet)["values"][0] == ["west", "x"]


def test_printing_what_was_read_shows_the_data(kernel, fresh_sheet):
    fresh_sheet.getRange("A1:B2").values = [[1, "a"], [dt.date(2024, 1, 2), True]]
    result = kernel.run_script(textwrap.dedent(f"""\
        rng = Context.workbook.worksheets.getItem({fresh_sheet.name!r}).getRange("A1:B2")
        values = rng.values
        print(values)
        print(values[0])
        print(repr(values).startswith("<OfficeJsArray id="))
        """), "show.py")
    assert result.ok, result.error
    assert result.output == ("[[1, 'a'], [datetime.datetime(2024, 1, 2, 0, 0), True]]\n"
                             "[1, 'a']\n"
                             "True\n")
