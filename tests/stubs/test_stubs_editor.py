"""The editor knows the Excel object model: completions, documentation, hover and signature help
on the Office.js API, asked through the editor services exactly as the kernel asks."""
import pytest

from conftest import IMPORT, complete, end_of, labels

CHAIN = 'Context.workbook.worksheets.getItem("Sales").getRange("A1:B3").format.font.'

# Each step of the chain, with members the list must offer there.
STEPS = [
    ("Context.", {"workbook", "application", "sync", "load"}),
    ("Context.workbook.", {"worksheets", "tables", "names", "getSelectedRange"}),
    ("Context.workbook.worksheets.", {"getItem", "add", "items", "getActiveWorksheet", "onChanged"}),
    ('Context.workbook.worksheets.getItem("Sales").', {"getRange", "name", "onChanged", "getUsedRange", "delete"}),
    ('Context.workbook.worksheets.getItem("Sales").getRange("A1:B3").',
     {"values", "format", "address", "getCell", "getResizedRange", "clear"}),
    ('Context.workbook.worksheets.getItem("Sales").getRange("A1:B3").format.',
     {"font", "fill", "horizontalAlignment", "autofitColumns"}),
    (CHAIN, {"bold", "color", "italic", "name", "size", "underline"}),
]


@pytest.mark.parametrize("chain, expected", STEPS, ids=[s[0].rsplit(".", 2)[-2] or s[0] for s in STEPS])
def test_each_step_of_a_chain_offers_the_members_of_its_type(lsp, chain, expected):
    found = labels(complete(lsp, chain))
    assert expected <= set(found), sorted(expected - set(found))
    assert not [name for name in found if name.startswith("_")]


def test_font_members_come_with_their_documentation_and_kind(lsp):
    items = {item["label"]: item for item in complete(lsp, CHAIN)["completions"]}
    assert "bold status" in items["bold"]["documentation"]
    assert "API set: ExcelApi 1.1" in items["bold"]["documentation"]
    assert "Calibri" in items["name"]["documentation"]
    assert items["bold"]["kind"] == 8                      # a property
    assert items["load"]["kind"] == 1                      # a method, with its parameter list
    assert items["load"]["detail"].startswith("(")
    for item in items.values():
        doc = item.get("documentation", "")
        assert "{@link" not in doc and "<br" not in doc and "@param" not in doc, item


def test_the_namespace_offers_its_types_enums_and_run(lsp):
    items = {item["label"]: item for item in complete(lsp, "Excel.")["completions"]}
    assert {"run", "Range", "Worksheet", "HorizontalAlignment", "RequestContext", "WorksheetChangedEventArgs"} <= set(items)
    assert items["run"]["kind"] == 1 and "batch" in items["run"]["detail"]
    assert items["Range"]["kind"] == 5
    assert "contiguous cells" in items["Range"]["documentation"]
    # Only the namespace: no typing helpers, no private chunk modules.
    assert not {"Any", "Literal", "overload", "TypeVar"} & set(items)
    assert not [name for name in items if name.startswith("_")]


def test_an_enum_offers_its_values_as_constants(lsp):
    items = {item["label"]: item for item in complete(lsp, "Excel.HorizontalAlignment.")["completions"]}
    assert {"center", "left", "right", "justify", "general"} <= set(items)
    assert 'Value: "Center"' in items["center"]["documentation"]


def test_an_annotated_run_callback_knows_its_context(lsp):
    body = "def summarize(context: Excel.RequestContext):\n    context.workbook.worksheets."
    assert {"getItem", "add"} <= set(labels(complete(lsp, body)))


def test_a_sheet_from_the_items_loop_is_a_worksheet(lsp):
    body = "for sheet in Context.workbook.worksheets.items:\n    sheet.getRange('A1').format.fill."
    assert {"color", "clear", "pattern"} <= set(labels(complete(lsp, body)))


def test_values_read_back_are_bridge_arrays(lsp):
    body = "rows = Context.workbook.worksheets.getItem('S').getUsedRange().values\nrows[0]."
    found = set(labels(complete(lsp, body)))
    assert {"append", "count", "index"} <= found     # a list (OfficeJsArray) of rows


def test_event_arguments_are_typed_records(lsp):
    body = "def on_change(event: Excel.WorksheetChangedEventArgs):\n    event."
    found = set(labels(complete(lsp, body)))
    assert {"address", "changeType", "worksheetId", "keys", "items"} <= found  # an OfficeJsDict


@pytest.mark.parametrize("mode", ["compact", "detailed"])
def test_hover_on_a_method_shows_its_signature_and_description(lsp, mode):
    code = IMPORT + 'Context.workbook.worksheets.getItem("S").getRange("A1")'
    line, end = end_of(code)
    lsp.set_hover_mode(mode)
    try:
        result = lsp.get_hover(code, line, end - len('Range("A1")'))
    finally:
        lsp.set_hover_mode("compact")
    assert result["error"] is None
    text = result["contents"]["value"]
    assert "getRange(address: str=...) -> Range" in text
    if mode == "detailed":
        assert "Gets the `Range` object, representing a single rectangular block of cells" in text


def test_hover_on_a_property_shows_its_documentation(lsp):
    code = IMPORT + "Context.workbook.worksheets"
    lsp.set_hover_mode("detailed")
    try:
        text = lsp.get_hover(code, *end_of(code))["contents"]["value"]
    finally:
        lsp.set_hover_mode("compact")
    assert "Represents a collection of worksheets associated with the workbook." in text


def test_signature_help_inside_get_range(lsp):
    code = IMPORT + 'sheet = Context.workbook.worksheets.getItem("S")\nsheet.getRange('
    result = lsp.get_signature_help(code, *end_of(code))
    assert result["error"] is None
    (signature,) = result["signatures"]
    assert signature["label"].startswith("getRange(address: str=...)")
    assert [p["label"] for p in signature["parameters"]] == ["address"]
    assert result["activeParameter"] == 0
    assert "rectangular block of cells" in signature["documentation"]


def test_signature_help_moves_to_the_active_parameter(lsp):
    code = IMPORT + 'Context.workbook.worksheets.getItem("S").getRangeByIndexes(0, 0, '
    result = lsp.get_signature_help(code, *end_of(code))
    (signature,) = result["signatures"]
    assert [p["label"] for p in signature["parameters"]] == ["startRow", "startColumn", "rowCount", "columnCount"]
    assert result["activeParameter"] == 2


def test_signature_help_for_excel_run(lsp):
    code = IMPORT + "Excel.run("
    result = lsp.get_signature_help(code, *end_of(code))
    assert result["error"] is None
    signature = result["signatures"][0]
    assert signature["label"].startswith("run(batch: Callable[[RequestContext], _T]) -> _T")
    assert [p["label"] for p in signature["parameters"]] == ["batch"]
    assert result["activeParameter"] == 0


def test_diagnostics_unchanged_by_the_stubs(lsp):
    clean = IMPORT + (
        "sheet = Context.workbook.worksheets.getItem('Sales')\n"
        "sheet.getRange('A1').format.font.bold = True\n"
        "Excel.run(lambda context: context.workbook.worksheets.add('Summary'))\n"
    )
    assert lsp.get_diagnostics(clean, "report") == {"diagnostics": [], "error": None}
    broken = clean + "print(undefined_name)\nimport no_such_module_anywhere\n"
    messages = [d["message"] for d in lsp.get_diagnostics(broken, "report")["diagnostics"]]
    assert any("undefined_name" in m for m in messages)
    assert any("no_such_module_anywhere" in m for m in messages)
