"""Run, Stop and Reset in the page: the script runs through the bridge against the stand-in's
workbook, its output and errors reach the output pane, and the grid shows the workbook."""
import re

import pytest
from playwright.sync_api import expect

from editor_page import set_text

WRITE = '''from cellumo_master.python_server.cellumo.ostrel import Context

from helpers import table_of

sheet = Context.workbook.worksheets.getActiveWorksheet()
sheet.getRange("A1:B3").values = table_of({"North": 1250.5, "South": 980.25}, "Region", "Sales")
sheet.getRange("B2:B3").numberFormat = [["$#,##0.00"]] * 2
sheet.getRange("A1:B1").format.font.bold = True
sheet.getRange("A1:B1").format.fill.color = "#DDEBF7"
log = Context.workbook.worksheets.add("Log")

def logged(event):
    log.getRange("A1").values = [[event["address"]]]

sheet.onChanged.add(logged)
sheet.getRange("C1").values = [["edited"]]
print("wrote", sheet.getRange("A1:B3").address)
'''


def cell(page, address):
    return page.locator(f'#grid td[data-address="{address}"]')


def run(page, runs_before):
    page.locator("#run").click()
    expect(page.locator("body")).to_have_attribute("data-runs", str(runs_before + 1))


def reset(page):
    page.locator("#reset").click()
    expect(page.locator("#output")).to_contain_text("the workbook was reset")
    expect(page.locator("#grid td[data-address]")).to_have_count(0)


def test_run_writes_the_workbook_that_the_grid_shows(page):
    reset(page)
    set_text(page, "main", WRITE)
    run(page, 0)
    expect(page.locator("#output")).to_contain_text("wrote Sheet1!A1:B3")
    expect(cell(page, "A2")).to_have_text("North")
    expect(cell(page, "B2")).to_have_text("$1,250.50")
    expect(cell(page, "B2")).to_have_class("k-number")
    expect(cell(page, "A1")).to_have_css("font-weight", "700")
    expect(cell(page, "B1")).to_have_css("background-color", "rgb(221, 235, 247)")
    # The change handler ran after the edit; its write is in the grid too.
    page.locator(".sheet-tab", has_text="Log").click()
    expect(cell(page, "A1")).to_have_text("C1")

    # The workbook stays from run to run, until it is reset.
    set_text(page, "main", "from cellumo_master.python_server.cellumo.ostrel import Context\n"
                           "print([list(r) for r in Context.workbook.worksheets.getItem('Sheet1').getRange('A2').values])\n")
    run(page, 1)
    expect(page.locator("#output")).to_contain_text("[['North']]")
    reset(page)
    expect(page.locator(".sheet-tab")).to_have_text(["Sheet1"])


def test_a_failing_script_shows_the_traceback_from_the_users_line(page):
    set_text(page, "helpers", "def check(region):\n    raise ValueError(f'no region {region!r}')\n")
    set_text(page, "main", "from helpers import check\n\nprint('checking')\ncheck('Nowhere')\n")
    run(page, 0)
    output = page.locator("#output")
    expect(output.locator(".output")).to_have_text("checking\n")
    error = output.locator(".error")
    expect(error).to_contain_text("ValueError: no region 'Nowhere'")
    text = error.inner_text()
    frames = [line.strip() for line in text.splitlines() if line.strip().startswith("File ")]
    assert frames[0] == 'File "main.py", line 4, in <module>', text
    assert frames[1] == 'File "helpers.py", line 2, in check', text
    expect(page.locator("#status")).to_contain_text("failed")


@pytest.mark.parametrize("loop", ["while True:\n    time.sleep(0.05)\n", "n = 0\nwhile True:\n    n += 1\n"],
                         ids=["sleeping", "busy"])
def test_stop_ends_a_script_that_does_not_end(page, loop):
    set_text(page, "main", "import time\nprint('started')\n" + loop)
    page.locator("#run").click()
    expect(page.locator("#output")).to_contain_text("started")
    expect(page.locator("#stop")).to_be_enabled()
    page.locator("#stop").click()
    expect(page.locator("#status")).to_have_text("stopped")
    expect(page.locator("#output .error")).to_have_text(re.compile(r"^Stopped at main\.py, line [345]\n"))
    # The playground takes the next run.
    set_text(page, "main", "print('next')\n")
    run(page, 1)
    expect(page.locator("#output")).to_have_text("next\n")


def test_stop_restarts_the_interpreter_of_a_script_that_ignores_it(page):
    set_text(page, "main", "import time\nprint('started')\nwhile True:\n    try:\n        time.sleep(0.2)\n"
                           "    except:\n        pass\n")
    page.locator("#run").click()
    expect(page.locator("#output")).to_contain_text("started")
    # While it runs, the status counts the seconds.
    expect(page.locator("#status")).to_have_text(re.compile(r"^running main\.py\u2026 [1-9]\d*\.\d s$"))
    page.locator("#stop").click()
    expect(page.locator("#status")).to_have_text("stopped; interpreter restarted")
    expect(page.locator("#output .error")).to_have_text("The script did not stop; its interpreter was restarted\n")
    expect(page.locator("#run")).to_be_enabled()


def test_ctrl_enter_runs_from_anywhere_on_the_page(page):
    set_text(page, "main", "print('from the keyboard')\n")
    page.locator("#output-head").click()  # away from the editor
    page.keyboard.press("Control+Enter")
    expect(page.locator("body")).to_have_attribute("data-runs", "1")
    expect(page.locator("#output")).to_have_text("from the keyboard\n")
    # In the editor it runs too, and inserts no line break.
    page.evaluate("() => monaco.editor.getEditors()[0].focus()")
    page.keyboard.press("Control+Enter")
    expect(page.locator("body")).to_have_attribute("data-runs", "2")
    assert page.evaluate("() => monaco.editor.getEditors()[0].getModel().getValue()") == "print('from the keyboard')\n"


def test_a_failing_change_handler_fails_the_run(page):
    set_text(page, "main", "from cellumo_master.python_server.cellumo.ostrel import Context\n"
                           "sheet = Context.workbook.worksheets.getActiveWorksheet()\n"
                           "def check(event):\n    raise ValueError('not a number')\n"
                           "sheet.onChanged.add(check)\nsheet.getRange('W1').values = [['x']]\n")
    run(page, 0)
    expect(page.locator("#status")).to_have_text(re.compile(r"^failed in "))
    expect(page.locator("#output .error")).to_contain_text("ValueError: not a number")
