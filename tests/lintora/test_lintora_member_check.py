"""Warnings for members an Excel class of the stubs does not have, and none anywhere else."""
import glob
import os

import pytest

from test_lintora_known_globals import KERNEL_GLOBALS

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CORPUS = sorted(glob.glob(os.path.join(HERE, "excel_corpus", "*.py"))) + [os.path.join(ROOT, "examples", "sales_report.py")]


@pytest.fixture
def known(lsp):
    lsp.set_known_globals(KERNEL_GLOBALS)
    return lsp


def members(lsp, code):
    return [(d["message"], d["startLineNumber"], d["startColumn"], d["endColumn"], d["severity"])
            for d in lsp.get_diagnostics(code)["diagnostics"] if "is not a member of" in d["message"]]


def test_misspelt_members_through_chains(known):
    code = ('sheet = Context.workbook.worksheets.getItem("Sheet1")\n'
            'sheet.getRnage("A1")\n'
            'cells = sheet.getRange("A1:B2")\n'
            'cells.load("values")\n'
            'print(cells.valuse)\n'
            'for ws in Context.workbook.worksheets.items:\n'
            '    ws.nmae\n'
            'sheet.getRange("A1").format.font.bolder = True\n'
            'sheet.zzzqqq\n'
            'label = "😀"; sheet.getRnage\n')
    assert members(known, code) == [
        ("'getRnage' is not a member of Worksheet; did you mean 'getRange'?", 2, 7, 15, 4),
        ("'valuse' is not a member of Range; did you mean 'values'?", 5, 13, 19, 4),
        ("'nmae' is not a member of Worksheet; did you mean 'name'?", 7, 8, 12, 4),
        ("'bolder' is not a member of RangeFont; did you mean 'bold'?", 8, 34, 40, 4),
        ("'zzzqqq' is not a member of Worksheet", 9, 7, 13, 4),
        # After an astral character the columns are the editor's UTF-16 units.
        ("'getRnage' is not a member of Worksheet; did you mean 'getRange'?", 10, 21, 29, 4),
    ]


def test_no_marker_where_the_type_is_not_known_to_be_complete(known):
    code = ('import pandas as pd\n'
            'from typing import Any\n'
            'def handler(event):\n'
            '    return event.whatever\n'
            'anything: Any = Context.workbook\n'
            'anything.whatever\n'
            'pd.DataFrame().not_a_column\n'
            'class Mine:\n'
            '    pass\n'
            'Mine().nothing\n'
            'unknown_call().thing\n')
    assert members(known, code) == []


def test_works_with_an_explicit_import_too(lsp):
    code = 'from cellumo_master.python_server.cellumo.ostrel import Context\nContext.workbok\n'
    assert members(lsp, code) == [("'workbok' is not a member of RequestContext; did you mean 'workbook'?", 2, 9, 16, 4)]


def test_a_failing_check_only_drops_its_own_markers(known, lintora, logs, monkeypatch):
    monkeypatch.setattr(lintora.jedi, "Script", None)
    result = known.get_diagnostics("import os\nContext.workbok\n")
    assert result["error"] is None and [d["message"] for d in result["diagnostics"]] == ["'os' imported but unused"]
    assert any(m.startswith("[LSP] Excel member check failed:") for m in logs.messages("WARNING"))


@pytest.mark.parametrize("path", CORPUS, ids=os.path.basename)
def test_corpus_has_no_false_markers(known, path):
    with open(path, encoding="utf-8") as f:
        code = f.read()
    result = known.get_diagnostics(code)
    assert result["error"] is None
    assert result["diagnostics"] == []
