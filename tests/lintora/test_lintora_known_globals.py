"""The kernel's script globals (`Excel`, `Context`, `GetSetting`) as the editor knows them: treated
as defined, typed as the bridge's objects, with every position in the answers the buffer's own."""
import pytest

BRIDGE = "cellumo_master.python_server.cellumo.ostrel"
KERNEL_GLOBALS = {name: f"{BRIDGE}.{name}" for name in ("Excel", "Context", "GetSetting")}
EXPLICIT = f"from {BRIDGE} import Excel, Context, GetSetting\n"


@pytest.fixture
def known(lsp):
    lsp.set_known_globals(KERNEL_GLOBALS)
    return lsp


@pytest.fixture
def explicit(lintora):
    instance = lintora.Lintora()
    yield instance
    instance.cleanup()


def labels(result):
    assert result["error"] is None
    return [(c["label"], c["kind"], c.get("detail")) for c in result["completions"]]


def test_no_undefined_name_for_known_globals(lsp, known):
    code = "book = Context.workbook\nExcel.run\nGetSetting('x')\nprint(other_name)\n"
    messages = [(d["message"], d["startLineNumber"], d["startColumn"], d["endColumn"])
                for d in known.get_diagnostics(code)["diagnostics"]]
    assert messages == [("undefined name 'other_name'", 4, 7, 17)]


def test_answers_equal_an_explicit_import_at_the_buffer_positions(known, explicit):
    body = 'sheet = Context.workbook.worksheets.getItem("Sheet1")\nsheet.getRange("A1").\nContext.workbook.'
    # The explicit buffer has one more line; the known-globals buffer is asked at its own lines.
    with_import = labels(explicit.get_completions(EXPLICIT + body, 4, len("Context.workbook.")))
    assert with_import and "worksheets" in [label for label, _, _ in with_import]
    assert labels(known.get_completions(body, 3, len("Context.workbook."))) == with_import
    assert labels(known.get_completions(body, 2, len('sheet.getRange("A1").'))) == \
        labels(explicit.get_completions(EXPLICIT + body, 3, len('sheet.getRange("A1").')))

    assert known.get_hover(body, 1, 2) == explicit.get_hover(EXPLICIT + body, 2, 2)
    call = 'Context.workbook.worksheets.getItem('
    assert known.get_signature_help(call, 1, len(call)) == explicit.get_signature_help(EXPLICIT + call, 2, len(call))
    assert known.get_signature_help(call, 1, len(call))["signatures"]


def test_script_may_rebind_a_known_global(known):
    hover = known.get_hover("Context = 5\nContext\n", 2, 3)
    assert "int" in hover["contents"]["value"]


def test_an_empty_mapping_forgets_them(known):
    known.set_known_globals({})
    messages = [d["message"] for d in known.get_diagnostics("Context.workbook\n")["diagnostics"]]
    assert messages == ["undefined name 'Context'"]
    assert known.get_completions("Context.", 1, 8)["completions"] == []


@pytest.mark.parametrize("names", [
    {"Excel": "noattribute"},
    {"not a name": f"{BRIDGE}.Excel"},
    {"Excel": f"{BRIDGE}.Excel; import os"},
    {"Excel": f"{BRIDGE}.Excel\nimport os"},
    {"class": f"{BRIDGE}.Excel"},
    {"Excel": "os.class"},
    {1: f"{BRIDGE}.Excel"},
    {"Excel": None},
])
def test_refuses_what_is_not_a_name_and_import_path(known, names):
    with pytest.raises(ValueError):
        known.set_known_globals(names)
    # The names set before stay in force.
    assert known.get_diagnostics("Context\n")["diagnostics"] == []


def test_argument_rule(lsp):
    with pytest.raises(TypeError, match="expected dict, got list"):
        lsp.set_known_globals([("Excel", f"{BRIDGE}.Excel")])
