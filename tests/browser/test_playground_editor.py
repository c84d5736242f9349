"""The editor services as Monaco shows them: the suggestion widget, the hover, the parameter
hints and the squiggles, each checked in the real page against what Lintora answers."""
import os

import pytest
from playwright.sync_api import expect

from editor_page import cursor_at_end, hover_over, point_of, put_cursor, set_text, suggestion_rows, wait_for_markers

# Monaco's icon for each jedi type, which Lintora's kind numbers stand for.
ICON = {"function": "function", "class": "class", "module": "module", "property": "property",
        "instance": "variable", "param": "variable", "statement": "variable", "keyword": "keyword",
        "path": "file"}


@pytest.fixture(scope="module")
def lintora():
    from cellumo_master.python_server import lintora as module

    service = module.Lintora()
    yield service
    service.cleanup()


def expected_rows(lintora, code, line, column, modules=None):
    from cellumo_master.python_server.lintora import JEDI_TO_MONACO_KIND

    type_of = {}
    for jedi_type, number in JEDI_TO_MONACO_KIND.items():
        type_of.setdefault(number, jedi_type)
    answer = lintora.get_completions(code, line, column, "main", modules)
    assert answer["error"] is None and answer["completions"]
    return [(item["label"], "codicon-symbol-" + ICON[type_of[item["kind"]]]) for item in answer["completions"]]


def type_dot_and_compare(page, lintora, code, modules=None, at_least=5):
    set_text(page, "main", code)
    cursor_at_end(page)
    page.keyboard.type(".")
    expect(page.locator(".suggest-widget .monaco-list-row").first).to_be_visible()
    lines = (code + ".").split("\n")
    want = expected_rows(lintora, code + ".", len(lines), len(lines[-1]), modules)
    shown = [tuple(row) for row in suggestion_rows(page)]
    # The widget draws only the rows that fit; those must be Lintora's first ones, in its order.
    assert at_least <= len(shown) <= len(want)
    assert shown == want[:len(shown)]
    return [label for label, _ in want]


def test_suggestions_after_a_dot_are_lintoras_with_their_kinds(page, lintora):
    labels = type_dot_and_compare(page, lintora, "import os\nos")
    assert {"path", "getcwd", "environ"} <= set(labels)
    # Typing on narrows the same list.
    page.keyboard.type("getc")
    expect(page.locator(".suggest-widget .monaco-list-row .label-name").first).to_have_text("getcwd")


def test_suggestions_on_the_excel_api_come_from_its_stubs(page, lintora):
    import importlib.util

    ostrel = importlib.util.find_spec("cellumo_master.python_server.cellumo.ostrel")
    if not os.path.exists(os.path.join(os.path.dirname(ostrel.origin), "ostrel.pyi")):
        pytest.skip("the Excel-API stubs (ostrel.pyi beside the module) are not built")
    labels = type_dot_and_compare(
        page, lintora, "from cellumo_master.python_server.cellumo.ostrel import Context\nContext.workbook")
    assert "worksheets" in labels


def test_hover_shows_lintoras_markdown(page):
    set_text(page, "main", "import os\nos.path.join('a', 'b')\n")
    hover_over(page, 2, 10)
    hover = page.locator(".monaco-hover .rendered-markdown").first
    expect(hover).to_contain_text("join(")
    # Rendered, not shown as text: the fence became a code block.
    expect(hover.locator(".monaco-tokenized-source").first).to_be_visible()
    expect(hover).not_to_contain_text("```")


def test_signature_help_follows_the_active_parameter(page):
    set_text(page, "main", "def area(width, height):\n    return width * height\n\n\n")
    put_cursor(page, 4, 1)
    page.keyboard.type("area(")
    hints = page.locator(".parameter-hints-widget")
    expect(hints.locator(".signature")).to_contain_text("area(width, height)")
    expect(hints.locator(".parameter.active")).to_have_text("width")
    page.keyboard.type("3,")
    expect(hints.locator(".parameter.active")).to_have_text("height")


def squiggle_starts_at(page, selector, line, column):
    x, _ = point_of(page, line, column, middle_of_line=False)
    squiggle = page.locator(selector).first
    expect(squiggle).to_be_visible()
    box = squiggle.bounding_box()
    assert abs(box["x"] - x) <= 2, (box, x)


def test_undefined_name_and_syntax_error_are_marked_where_they_are(page):
    set_text(page, "main", "total = 1\nprint(totl)\n")
    (marker,) = wait_for_markers(page, "main")
    # The marker covers the whole name.
    assert (marker["startLineNumber"], marker["startColumn"], marker["endColumn"], marker["severity"]) == (2, 7, 11, 4)
    assert marker["message"] == "undefined name 'totl'"
    squiggle_starts_at(page, ".squiggly-warning", 2, 7)

    set_text(page, "main", "values = [1, 2\nprint(values)\n")
    (marker,) = wait_for_markers(page, "main")
    assert (marker["startLineNumber"], marker["startColumn"], marker["severity"]) == (1, 10, 8)
    squiggle_starts_at(page, ".squiggly-error", 1, 10)


def test_a_marker_after_non_ascii_text_is_at_the_right_column(page):
    line = 'label = "naïve ✓ 😀"; print(labl)'
    set_text(page, "main", line + "\n")
    (marker,) = wait_for_markers(page, "main")
    prefix = line[:line.index("labl")]
    column = len(prefix.encode("utf-16-le")) // 2 + 1  # Monaco counts UTF-16 code units
    assert (marker["startColumn"], marker["endColumn"]) == (column, column + 4)
    squiggle_starts_at(page, ".squiggly-warning", 1, column)


def test_the_second_tab_is_a_module_the_first_can_import(page, lintora):
    code = "import helpers\nimport zz_not_a_module\nhelpers"
    helpers = page.evaluate("() => monaco.editor.getModel(monaco.Uri.parse('file:///helpers.py')).getValue()")
    labels = type_dot_and_compare(page, lintora, code, {"helpers": helpers}, at_least=1)
    assert "table_of" in labels
    page.keyboard.press("Escape")
    page.keyboard.type("table_of")
    markers = wait_for_markers(page, "main", "n >= 2")
    unresolved = [m["message"] for m in markers if "could not be resolved" in m["message"]]
    assert unresolved == ["import 'zz_not_a_module' could not be resolved"]
