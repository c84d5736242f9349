"""numpy and pandas values written through the bridge and read back from the add-in's workbook:
numbers stay numbers, dates stay dates at every precision, and missing cells come out empty."""
import datetime as dt

import numpy as np
import pandas as pd
import pytest


def rows(proxy_rows):
    return [list(r) for r in proxy_rows]


def test_numpy_arrays_and_scalars_land_as_numbers(fresh_sheet):
    fresh_sheet.getRange("A1:B2").values = np.array([[1, 2], [3, 4]])
    frame = pd.DataFrame({"Units": np.array([5, 7], dtype=np.int32), "Price": np.array([1.5, 2.25], np.float32)})
    fresh_sheet.getRange("C1:D2").values = frame.to_numpy()
    fresh_sheet.getRange("A3:D3").values = [[frame["Units"].sum(), np.float32(1.5), np.uint8(200), np.array(9)]]
    fresh_sheet.getRange("E1").formulas = [["=SUM(A1:D3)"]]
    back = rows(fresh_sheet.getRange("A1:E3").values)
    assert back[:3] == [[1, 2, 5, 1.5, 248.25], [3, 4, 7, 2.25, ""], [12, 1.5, 200, 9, ""]]
    assert [type(v) for v in back[2][:4]] == [int, float, int, int]


@pytest.mark.parametrize("unit", ["s", "ms", "us", "ns"])
def test_date_columns_land_as_dates_at_every_precision(fresh_sheet, unit):
    stamps = pd.Series(pd.to_datetime(["2024-01-02 03:04:05.123", "2025-12-31 23:59:59.5"]), name="when")
    stamps = stamps.astype(f"datetime64[{unit}]")
    expected = [t.to_pydatetime() for t in stamps]
    fresh_sheet.getRange("A1:A3").values = stamps.to_frame()
    fresh_sheet.getRange("B1:B3").values = stamps
    fresh_sheet.getRange("C1:D3").values = pd.DataFrame({"when": stamps, "n": [1, 2]})
    back = rows(fresh_sheet.getRange("A1:D3").values)
    assert back[0] == ["when", "when", "when", "n"]
    for column in range(3):
        assert [row[column] for row in back[1:]] == expected
        assert all(type(row[column]) is dt.datetime for row in back[1:])


def test_timedelta_columns_land_as_their_text(fresh_sheet):
    fresh_sheet.getRange("A1:A2").values = pd.Series(pd.to_timedelta(["1 day 02:00:00"]), name="took")
    assert rows(fresh_sheet.getRange("A1:A2").values) == [["took"], ["1 days 02:00:00"]]


def test_missing_cells_are_emptied_when_a_table_is_rewritten(fresh_sheet):
    target = fresh_sheet.getRange("A1:E3")
    full = pd.DataFrame({
        "name": ["a", "b"], "score": [1.5, 2.5], "when": pd.to_datetime(["2024-01-02", "2024-01-03"]),
        "count": pd.array([1, 2], dtype="Int64"), "note": pd.Series(["x", "y"], dtype=object)})
    target.values = full
    refreshed = pd.DataFrame({
        "name": ["a", None], "score": [np.nan, 3.5], "when": pd.to_datetime([None, "2024-01-04"]),
        "count": pd.array([None, 4], dtype="Int64"), "note": pd.Series([pd.NA, None], dtype=object)})
    target.values = refreshed
    assert rows(target.values) == [
        ["name", "score", "when", "count", "note"],
        ["a", "", "", "", ""],
        ["", 3.5, dt.datetime(2024, 1, 4), 4, ""],
    ]
    # Outside a frame, None still leaves a cell as it was.
    fresh_sheet.getRange("A2:B2").values = [[None, None]]
    assert rows(fresh_sheet.getRange("A2:B2").values) == [["a", ""]]
