"""The unresolved-import check: ranges, walk order, and what counts as resolvable."""
import sys

import pytest

MARKER_KEYS = ["startLineNumber", "startColumn", "endLineNumber", "endColumn", "message", "severity"]


def check(lsp, code):
    found = lsp._check_unresolved_imports(code)
    assert all(list(d) == MARKER_KEYS for d in found)
    return found


def test_ranges(lsp, logs):
    assert check(lsp, "import os\n") == []
    assert check(lsp, "import zz_not_installed\n") == [{
        "startLineNumber": 1, "startColumn": 1, "endLineNumber": 1, "endColumn": 24,
        "message": "import 'zz_not_installed' could not be resolved", "severity": 8}]
    assert logs.lines[-1] == ("DEBUG", "[LSP] Import check found 1 unresolved imports")
    (nested,) = check(lsp, "if True:\n    import zz_missing\n")
    assert (nested["startLineNumber"], nested["startColumn"], nested["endColumn"]) == (2, 5, 22)
    (multi,) = check(lsp, "from zz_missing import (\n    a,\n    b)\n")
    assert (multi["startLineNumber"], multi["endLineNumber"], multi["endColumn"]) == (1, 3, 7)
    assert multi["message"] == "import 'zz_missing' could not be resolved"
    # Columns count the editor's UTF-16 units, not the UTF-8 bytes of the ast offsets.
    (wide,) = check(lsp, "é = 1; import zz_x\n")
    assert (wide["startColumn"], wide["endColumn"]) == (8, 19)


def test_names_looked_up(lsp):
    assert [d["message"] for d in check(lsp, "import zz_a, os, zz_b as b\n")] == [
        "import 'zz_a' could not be resolved", "import 'zz_b' could not be resolved"]
    assert check(lsp, "from os import zz_missing_name\n") == []
    assert [d["message"] for d in check(lsp, "import zz_missing.sub\n")] == [
        "import 'zz_missing.sub' could not be resolved"]
    assert check(lsp, "from . import anything\n") == []
    assert [d["message"] for d in check(lsp, "from .zz_sibling import x\n")] == [
        "import 'zz_sibling' could not be resolved"]


def test_nested_after_top_level(lsp):
    code = "def f():\n    import zz_inner\nimport zz_top\nclass C:\n    import zz_class\nimport zz_last\n"
    assert [d["message"].split("'")[1] for d in check(lsp, code)] == ["zz_top", "zz_last", "zz_inner", "zz_class"]


def test_synced_modules_resolve(lsp):
    lsp.sync_modules({"sibling": "x = 1", "pkg.mod": "y = 2"})
    assert check(lsp, "import sibling\nimport pkg.mod\n") == []
    assert lsp.get_diagnostics("import sibling\nsibling.x\n") == {"diagnostics": [], "error": None}
    lsp.cleanup()
    assert [d["message"] for d in check(lsp, "import sibling\nimport os\n")] == [
        "import 'sibling' could not be resolved"]


def test_syntax_error_and_failures(lintora, lsp, logs, monkeypatch):
    assert lsp._check_unresolved_imports("def (:") == [] and logs.lines == []

    def resolve(name):
        if name == "zz_boom":
            raise RuntimeError("lookup exploded")
        return False

    monkeypatch.setattr(lsp, "_can_resolve_import", resolve)
    found = lsp._check_unresolved_imports("import zz_a\nimport zz_boom\nimport zz_c\n")
    assert [d["message"] for d in found] == ["import 'zz_a' could not be resolved"]
    assert logs.lines[-1] == ("WARNING", "[LSP] Import check failed: lookup exploded")


def test_can_resolve_import(lsp, monkeypatch):
    assert lsp._can_resolve_import("os") is True
    assert lsp._can_resolve_import("json.decoder") is True
    assert lsp._can_resolve_import("zz_nothing") is False
    assert lsp._can_resolve_import("zz_nothing.child") is False  # missing parent
    assert lsp._can_resolve_import("") is False
    assert lsp._can_resolve_import("..bad") is False
    monkeypatch.setitem(sys.modules, "zz_loaded_only", None)
    assert lsp._can_resolve_import("zz_loaded_only") is True

    import importlib.util

    def odd(name, package=None):
        raise LookupError("unexpected")

    monkeypatch.setattr(importlib.util, "find_spec", odd)
    with pytest.raises(LookupError):
        lsp._can_resolve_import("zz_other")
