"""Failures in the add-in reach user code as exceptions carrying the add-in's message."""
import gc
import textwrap
import traceback

import pytest


def test_remote_errors_surface_with_actionable_messages(ostrel, fresh_sheet):
    sheets = ostrel.Context.workbook.worksheets
    with pytest.raises(RuntimeError, match=r"The worksheet 'Nope' does not exist \(the workbook has .*'Sheet1'"):
        sheets.getItem("Nope")
    with pytest.raises(RuntimeError, match=r"'A0' is not a valid A1 address"):
        fresh_sheet.getRange("A0")
    with pytest.raises(RuntimeError, match=r"The property 'colour' does not exist on type 'Range'"):
        fresh_sheet.getRange("A1").colour
    with pytest.raises(RuntimeError, match=r"doesn't match the size or dimensions of the range: .*is 1x2, the values given are 2x1"):
        fresh_sheet.getRange("A1:B1").values = [[1], [2]]
    with pytest.raises(RuntimeError, match=r"The property 'address' of Range is read-only"):
        fresh_sheet.getRange("A1").address = "B2"
    with pytest.raises(RuntimeError, match=r"A worksheet named 'Sheet1' already exists"):
        sheets.add("sheet1")
    # A proxy made by hand that claims to be a function but names a range. (Its release drops the
    # range's one reference, which is why it must not name anything the test still uses.)
    rng = fresh_sheet.getRange("A1")
    with pytest.raises(RuntimeError, match=r"A Range is not a function"):
        ostrel.OfficeJsObject(rng._internal_id, "Function")()


def test_released_and_unknown_ids_are_refused(ostrel, fresh_sheet):
    rng = fresh_sheet.getRange("C3")
    object_id = rng._internal_id
    del rng
    gc.collect()
    with pytest.raises(RuntimeError, match=rf"Object {object_id} has been released"):
        ostrel.OfficeJsObject(object_id, "Range").address
    with pytest.raises(RuntimeError, match=r"Object 987654321 is unknown to this add-in"):
        ostrel.OfficeJsObject(987654321, "Range").address


def test_a_failing_script_reports_its_trimmed_traceback(kernel):
    source = textwrap.dedent("""\
        sheets = Context.workbook.worksheets

        def find(name):
            return sheets.getItem(name)

        print("looking")
        find("Missing")
        """)
    result = kernel.run_script(source, "report.py")
    assert not result.ok
    assert result.output == "looking\n"
    assert (result.error_type, result.error_message) == (
        "RuntimeError", "The worksheet 'Missing' does not exist (the workbook has 'Sheet1')")
    frames = [line for line in result.error.splitlines() if line.startswith("  File ")]
    assert frames[0] == '  File "report.py", line 7, in <module>'
    assert frames[1] == '  File "report.py", line 4, in find'
    assert "scripts.py" not in result.error and "kernel.py" not in result.error
    assert result.error.rstrip().endswith("RuntimeError: The worksheet 'Missing' does not exist (the workbook has 'Sheet1')")


def test_a_failed_read_ends_the_traceback_at_the_users_line(kernel):
    result = kernel.run_script("total = 1\nExcel.foo\n", "probe.py")
    assert (result.error_type, result.error_message) == (
        "OfficeJsAttributeError", "The property 'foo' does not exist on type 'Excel'")
    assert result.error == (
        "Traceback (most recent call last):\n"
        '  File "probe.py", line 2, in <module>\n'
        "    Excel.foo\n"
        "ostrel.OfficeJsAttributeError: The property 'foo' does not exist on type 'Excel'\n")


def test_a_syntax_error_reads_as_python_reports_it_for_the_script(kernel):
    source = "rows = [1, 2\nprint(rows)\n"
    bad = kernel.run_script(source, "broken.py")
    assert not bad.ok and bad.error_type == "SyntaxError"
    try:
        compile(source, "broken.py", "exec")
    except SyntaxError as exc:
        expected = "".join(traceback.format_exception_only(exc))
    assert bad.error == expected
    assert bad.error.startswith('  File "broken.py", line 1\n') and "^" in bad.error


def test_settings(kernel):
    good = kernel.run_script("print(GetSetting('region'), GetSetting('threshold') + 1, GetSetting('missing', 'dflt'))\n")
    assert good.ok, good.error
    assert good.output == "West 4 dflt\n"
