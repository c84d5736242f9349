"""`python -m devkit run` and `python -m devkit demo` as a user runs them, in fresh interpreters
(a crash or signal there fails the test)."""
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

from e2e_support import ROOT, bridge_built


def run_devkit(*args, timeout=300, cwd=ROOT):
    proc = subprocess.run([sys.executable, "-m", "devkit", *args], cwd=cwd, capture_output=True, text=True,
                          timeout=timeout)
    assert proc.returncode >= 0, f"killed by signal {-proc.returncode}:\n{proc.stderr}"
    return proc


@pytest.fixture(autouse=True)
def _needs_bridge():
    if not bridge_built():
        pytest.skip("the ostrel module is not built yet")


def test_run_prints_the_workbook_as_a_grid(tmp_path):
    script = tmp_path / "fill.py"
    script.write_text(textwrap.dedent("""\
        sheet = Context.workbook.worksheets.getActiveWorksheet()
        sheet.getRange("B2:C3").values = [["Item", "Cost"], [GetSetting("item"), 2.5]]
        sheet.getRange("C3").numberFormat = [["0.00"]]
        print("filled")
        """))
    proc = run_devkit("run", str(script), "--setting", "item=Paper")
    assert proc.returncode == 0, proc.stdout + proc.stderr
    assert proc.stdout.splitlines()[0] == "filled"
    assert "Worksheet 'Sheet1', used range B2:C3" in proc.stdout
    assert "2 | Item  | Cost" in proc.stdout
    assert "3 | Paper | 2.50" in proc.stdout


def test_run_reports_a_failing_script_and_exits_non_zero(tmp_path):
    script = tmp_path / "fail.py"
    script.write_text('Context.workbook.worksheets.getItem("Budget")\n')
    proc = run_devkit("run", str(script))
    assert proc.returncode == 1
    assert f'File "{script}", line 1, in <module>' in proc.stdout
    assert "RuntimeError: The worksheet 'Budget' does not exist" in proc.stdout
    assert "Worksheet 'Sheet1': empty" in proc.stdout
    assert proc.stderr == ""


def test_run_works_from_any_directory_and_leaves_quietly(tmp_path):
    # The venv that `make build` set up finds the devkit wherever the command is given.
    if not any(Path(p).name == "devkit-path" for p in sys.path):
        pytest.skip("the devkit is linked into the venv by `make build`")
    script = tmp_path / "typo.py"
    script.write_text("def report(rows):\n    total = sum(rows\n    return total\n")
    proc = run_devkit("run", script.name, cwd=tmp_path)
    assert proc.returncode == 1 and proc.stderr == ""
    expected = ('  File "{}", line 2\n    total = sum(rows\n               ^\n'
                "SyntaxError: '(' was never closed\n").format(script)
    assert "The script failed:\n" + expected in proc.stdout
    assert "devkit" not in proc.stdout.split("The script failed:")[1]


def test_demo_shows_the_workbook_and_the_editor_answers():
    proc = run_devkit("demo", timeout=900)
    out = proc.stdout
    assert proc.returncode == 0, out[-4000:] + proc.stderr[-4000:]
    assert "Summary written to Summary!A1:B6" in out
    assert "7 | Jun 2024 |   178 | $17.99 | $3,202.22" in out
    assert "1 | RangeEdited at B4" in out
    assert "3 | Revenue       | $15,986.98" in out
    assert "import 'zz_forecasting' could not be resolved" in out
    assert "undefined name 'summarise'" in out
    assert "Completions at the '.' after 'sales'" in out and "(the completion request failed" not in out
    assert "Hover over 'summarize'" in out and "(the hover request failed" not in out


def test_run_refuses_a_missing_script_plainly(tmp_path):
    proc = run_devkit("run", str(tmp_path / "missing.py"))
    assert proc.returncode == 2
    assert proc.stderr.startswith(f"cannot read the script {tmp_path / 'missing.py'}: ")
    assert "Traceback" not in proc.stderr


def test_run_with_latency(tmp_path):
    script = tmp_path / "slow.py"
    script.write_text('Context.workbook.worksheets.getActiveWorksheet().getRange("A1").values = [["late"]]\n')
    proc = run_devkit("run", str(script), "--latency-ms", "5")
    assert proc.returncode == 0, proc.stdout + proc.stderr
    assert "1 | late" in proc.stdout
    for bad in ("-1", "soon", "inf"):
        proc = run_devkit("run", str(script), "--latency-ms", bad)
        assert proc.returncode == 2 and "needs a number of milliseconds >= 0" in proc.stderr
