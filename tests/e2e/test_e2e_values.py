"""Reading and writing cells of every kind through the bridge, the Node add-in and back."""
import datetime as dt
import math

import numpy as np
import pandas as pd


def rows(proxy_rows):
    return [list(r) for r in proxy_rows]


def test_scalars_round_trip_with_their_types(fresh_sheet):
    rng = fresh_sheet.getRange("A1:E2")
    rng.values = [[1, -2.5, "héllo ✓", True, False], [2**40, 0.1 + 0.2, "", "=A1+1", 1e-7]]
    back = rows(rng.values)
    assert back == [[1, -2.5, "héllo ✓", True, False], [2**40, 0.1 + 0.2, "", 2, 1e-7]]
    assert [type(v) for v in back[0]] == [int, float, str, bool, bool]
    assert rows(rng.formulas)[1][3] == "=A1+1"


def test_empty_cells_read_as_empty_text_and_none_leaves_a_cell_alone(fresh_sheet):
    rng = fresh_sheet.getRange("A1:C1")
    assert rows(rng.values) == [["", "", ""]]
    rng.values = [[1, 2, 3]]
    rng.values = [[None, "", 30]]
    assert rows(rng.values) == [[1, "", 30]]
    rng.clear()
    assert rows(rng.values) == [["", "", ""]]


def test_dates_come_back_as_datetimes(fresh_sheet):
    rng = fresh_sheet.getRange("A1:D1")
    aware = dt.datetime(2024, 1, 2, 3, 4, 5, tzinfo=dt.timezone(dt.timedelta(hours=2)))
    rng.values = [[dt.datetime(2024, 1, 2, 3, 4, 5), dt.date(2024, 2, 29), aware, pd.Timestamp("2023-12-31 23:59")]]
    back = rows(rng.values)[0]
    assert back[0] == dt.datetime(2024, 1, 2, 3, 4, 5)
    assert back[1] == dt.datetime(2024, 2, 29)
    assert back[2] == dt.datetime(2024, 1, 2, 1, 4, 5, tzinfo=dt.timezone.utc)
    assert back[3] == dt.datetime(2023, 12, 31, 23, 59)
    rng.numberFormat = "dd/mm/yyyy"
    assert rows(rng.text)[0] == ["02/01/2024", "29/02/2024", "02/01/2024", "31/12/2023"]


def test_non_finite_floats_cross_the_json_channel(fresh_sheet, kernel):
    rng = fresh_sheet.getRange("A1:D1")
    rng.values = [[math.nan, math.inf, -math.inf, np.float64("nan")]]
    back = rows(rng.values)[0]
    assert math.isnan(back[0]) and back[1] == math.inf and back[2] == -math.inf and math.isnan(back[3])
    assert all(isinstance(v, float) for v in back)
    assert rows(rng.text)[0] == ["#NUM!"] * 4
    # Text that merely reads "NaN" stays text.
    rng.values = [["NaN", "Infinity", 1.5, 0]]
    assert rows(rng.values)[0] == ["NaN", "Infinity", 1.5, 0]


def test_dataframe_written_and_read_back(fresh_sheet):
    frame = pd.DataFrame({
        "name": ["a", "b", "c"],
        "count": np.array([1, 2, 3], dtype=np.int64),
        "ratio": [0.5, 1.25, -3.0],
        "flag": [True, False, True],
        "when": pd.to_datetime(["2024-01-01", "2024-06-30", "2025-12-31"]),
    })
    target = fresh_sheet.getRange("B2:F5")
    target.values = frame
    header, *body = rows(fresh_sheet.getUsedRange().values)
    back = pd.DataFrame(body, columns=header)
    assert header == list(frame.columns)
    assert back["name"].tolist() == ["a", "b", "c"]
    assert back["count"].tolist() == [1, 2, 3]
    assert back["ratio"].tolist() == [0.5, 1.25, -3.0]
    assert back["flag"].tolist() == [True, False, True]
    assert back["when"].tolist() == [dt.datetime(2024, 1, 1), dt.datetime(2024, 6, 30), dt.datetime(2025, 12, 31)]
    assert fresh_sheet.getUsedRange().address.endswith("!B2:F5")


def test_series_is_written_as_a_column_with_its_name(fresh_sheet):
    fresh_sheet.getRange("A1:A4").values = pd.Series([3, 1, 2], name="score")
    assert rows(fresh_sheet.getRange("A1:A4").values) == [["score"], [3], [1], [2]]


def test_number_formats_and_formulas_show_in_text(fresh_sheet):
    fresh_sheet.getRange("A1:A3").values = [[1200.5], [300], [0.125]]
    total = fresh_sheet.getRange("A4")
    total.formulas = [["=SUM(A1:A3)"]]
    fresh_sheet.getRange("A1:A4").numberFormat = [["#,##0.00"], ["#,##0.00"], ["0.0%"], ["$#,##0.00"]]
    assert rows(fresh_sheet.getRange("A1:A4").text) == [["1,200.50"], ["300.00"], ["12.5%"], ["$1,500.63"]]
    assert total.values[0][0] == 1500.625


def test_range_geometry(fresh_sheet):
    rng = fresh_sheet.getRange("B2:D5")
    assert (rng.rowCount, rng.columnCount, rng.rowIndex, rng.columnIndex) == (4, 3, 1, 1)
    cell = rng.getCell(1, 2)
    assert cell.address.endswith("!D3")
    assert fresh_sheet.getRange("A1").getResizedRange(2, 1).address.endswith("!A1:B3")
    assert rng.getOffsetRange(1, 1).address.endswith("!C3:E6")
    assert fresh_sheet.getCell(0, 27).address.endswith("!AB1")
