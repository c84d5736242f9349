"""The kernel harness around user code: streamed script output and the workbook printout, which
stays bounded however large the workbook grows."""
from devkit.grid import format_workbook


def test_a_workbook_beyond_one_request_prints_a_bounded_view(kernel, fresh_sheet):
    # 210,000 cells, more than the add-in lets one request carry, written in two parts.
    fresh_sheet.getRange("A1:J15000").values = [[r * 10 + c for c in range(10)] for r in range(15000)]
    fresh_sheet.getRange("A15001:J21000").values = 7
    (sheet,) = [s for s in kernel.snapshot(max_rows=40, max_columns=12) if s["name"] == fresh_sheet.name]
    assert (sheet["address"].split("!")[-1], sheet["rowCount"], sheet["columnCount"]) == ("A1:J21000", 21000, 10)
    assert len(sheet["values"]) == 40 and sheet["values"][39][:2] == [390, 391]
    text = format_workbook([sheet])
    assert text.splitlines()[-1] == "(20960 more rows, 0 more columns not shown)"
    assert len(text.splitlines()) == 44
    # Without limits the view is cut to what one request may carry, never refused.
    (whole,) = [s for s in kernel.snapshot() if s["name"] == fresh_sheet.name]
    assert len(whole["values"]) == 20000 and whole["rowCount"] == 21000


def test_script_output_is_handed_on_as_it_is_printed(kernel):
    pieces = []
    seen_mid_script = []
    source = "print('first')\nprint('second', 2)\nlook()\nprint('third', end='')\n"
    result = kernel.submit_script(source, "talk.py", extra_globals={"look": lambda: seen_mid_script.append("".join(pieces))},
                                  on_output=pieces.append).result(30)
    assert result.ok and result.output == "first\nsecond 2\nthird"
    assert seen_mid_script == ["first\nsecond 2\n"]
    assert "".join(pieces) == result.output
