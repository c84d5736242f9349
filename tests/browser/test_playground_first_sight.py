"""The editor as a new user first meets it in the page: ready only once warm, the kernel's
globals known without an import, a visible working state while a request is slow, Markdown in
parameter hints, and a misspelt Excel member marked."""
import pytest
from playwright.sync_api import expect

from editor_page import cursor_at_end, set_text, suggestion_rows, wait_for_markers


@pytest.fixture
def fresh_page(browser, playground):
    context = browser.new_context(viewport={"width": 1400, "height": 820})
    p = context.new_page()
    p.set_default_timeout(60_000)
    p.playground_url = playground.url
    yield p
    context.close()


def test_the_page_says_ready_only_once_the_editor_is_warm(fresh_page):
    held = []
    fresh_page.route("**/api/warm", lambda route: held.append(route))
    fresh_page.goto(fresh_page.playground_url)
    while not held:
        fresh_page.wait_for_timeout(50)
    # The warm-up's answer is held back: the page is not ready and says so.
    fresh_page.wait_for_timeout(500)
    assert fresh_page.locator("body").get_attribute("data-ready") is None
    expect(fresh_page.locator("#status")).to_contain_text("loading the editor")
    held[0].continue_()
    expect(fresh_page.locator("body")).to_have_attribute("data-ready", "true", timeout=60_000)
    expect(fresh_page.locator("#status")).to_have_text("ready")


def test_a_slow_request_shows_the_working_state(fresh_page):
    held = []
    fresh_page.goto(fresh_page.playground_url)
    expect(fresh_page.locator("body")).to_have_attribute("data-ready", "true", timeout=60_000)
    working = fresh_page.locator("#editor-working")
    expect(working).to_be_hidden(timeout=60_000)  # the starter text's first markers may be slow
    fresh_page.route("**/api/complete", lambda route: held.append(route), times=1)
    set_text(fresh_page, "main", "import os\nos")
    cursor_at_end(fresh_page)
    fresh_page.keyboard.type(".")
    expect(working).to_be_visible()  # after the 300 ms the page allows a request
    expect(working).to_have_text("editor working\u2026")
    for route in held:
        route.continue_()
    fresh_page.unroute("**/api/complete")
    expect(fresh_page.locator(".suggest-widget .monaco-list-row").first).to_be_visible(timeout=60_000)
    expect(working).to_be_hidden(timeout=60_000)


def test_kernel_globals_need_no_import(page):
    set_text(page, "main", 'sheet = Context.workbook.worksheets.getItem("Sheet1")\nsheet.getRnage("A1")\nContext.workbook')
    cursor_at_end(page)
    page.keyboard.type(".")
    expect(page.locator(".suggest-widget .monaco-list-row").first).to_be_visible(timeout=30_000)
    assert suggestion_rows(page)[0] == ["application", "codicon-symbol-property"]
    page.keyboard.press("Escape")
    set_text(page, "main", 'sheet = Context.workbook.worksheets.getItem("Sheet1")\nsheet.getRnage("A1")\n')
    (marker,) = wait_for_markers(page, "main")
    assert marker["message"] == "'getRnage' is not a member of Worksheet; did you mean 'getRange'?"
    assert (marker["startLineNumber"], marker["startColumn"], marker["endColumn"], marker["severity"]) == (2, 7, 15, 4)


def test_parameter_hints_render_the_stubs_markdown(page):
    set_text(page, "main", 'sheet = Context.workbook.worksheets.getItem("Sheet1")\n')
    cursor_at_end(page)
    page.keyboard.type("sheet.getRange(")
    docs = page.locator(".parameter-hints-widget .docs")
    expect(docs).to_contain_text("Gets the Range object")
    expect(docs.locator("code").first).to_have_text("Range")
    expect(docs).not_to_contain_text("`")

