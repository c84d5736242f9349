"""Diagnostics over real pyflakes and Python's parser, and the pyflakes line parser."""
import pytest


def test_syntax_error(lsp, logs, marker_shape):
    result = lsp.get_diagnostics("def f(:\n    pass\n", "util")
    assert list(result) == ["diagnostics", "error"] and result["error"] is None
    (diag,) = result["diagnostics"]
    marker_shape(diag)
    try:
        compile("def f(:\n    pass\n", "<util>", "exec")
    except SyntaxError as e:
        expected = e
    assert (diag["startLineNumber"], diag["startColumn"]) == (expected.lineno, expected.offset)
    assert diag["endLineNumber"] == diag["startLineNumber"] and diag["endColumn"] == diag["startColumn"] + 1
    assert diag["message"] == expected.msg and diag["severity"] == 8
    assert logs.lines == [
        ("DEBUG", "[LSP] Request: get_diagnostics, code_length=17"),
        ("DEBUG", f"[LSP] Syntax error at line {expected.lineno}, col {expected.offset}: {expected.msg}"),
    ]


def test_syntax_error_uses_module_file_name(lintora, lsp, monkeypatch):
    seen = []
    real_parse = lintora.ast.parse

    class Ast:
        def __getattr__(self, name):
            return getattr(lintora_ast, name)

        @staticmethod
        def parse(code, filename="<unknown>"):
            seen.append(filename)
            return real_parse(code, filename=filename)

    lintora_ast = lintora.ast
    monkeypatch.setattr(lintora, "ast", Ast())
    lsp.get_diagnostics("x = 1", "util")
    lsp.get_diagnostics("x = 1", "")
    lsp.get_diagnostics("x = 1")
    assert seen == ["<util>", "<unknown>", "<editor>", "<unknown>", "<editor>", "<unknown>"]


@pytest.mark.parametrize("lineno,offset,msg,expected", [
    (None, None, None, (1, 1, 2, "Syntax error")),
    (0, 0, "", (1, 1, 2, "Syntax error")),
    (3, 7, "bad", (3, 7, 8, "bad")),
])
def test_syntax_error_fallbacks(lintora, lsp, monkeypatch, lineno, offset, msg, expected):
    class Ast:
        @staticmethod
        def parse(code, filename):
            e = SyntaxError("x")
            e.lineno, e.offset, e.msg = lineno, offset, msg
            raise e

    monkeypatch.setattr(lintora, "ast", Ast())
    (diag,) = lsp.get_diagnostics("anything")["diagnostics"]
    line, start, end, message = expected
    assert diag == {"startLineNumber": line, "startColumn": start, "endLineNumber": line, "endColumn": end,
                    "message": message, "severity": 8}


def test_pyflakes_and_imports_sorted(lsp, logs, marker_shape):
    code = "import os\nx = undefined_name\nimport zz_not_installed\n"
    result = lsp.get_diagnostics(code)
    diags = [marker_shape(d) for d in result["diagnostics"]]
    assert [d["severity"] for d in diags] == [8, 4, 4, 4]
    assert diags[0]["message"] == "import 'zz_not_installed' could not be resolved"
    # Warnings keep pyflakes' own order (by line here).
    assert [d["startLineNumber"] for d in diags[1:]] == sorted(d["startLineNumber"] for d in diags[1:])
    unused_os = next(d for d in diags if d["startLineNumber"] == 1)
    assert unused_os["message"].startswith("'os'")
    assert (unused_os["startColumn"], unused_os["endColumn"]) == (8, 10)
    assert ("DEBUG", "[LSP] Pyflakes returned 3 diagnostics") in logs.lines
    assert ("DEBUG", "[LSP] Import check found 1 unresolved imports") in logs.lines


def test_empty_code(lsp, logs):
    assert lsp.get_diagnostics("") == {"diagnostics": [], "error": None}
    assert logs.lines[0] == ("DEBUG", "[LSP] Request: get_diagnostics, code_length=0")


def test_without_pyflakes_only_imports(lintora, lsp, logs, monkeypatch):
    monkeypatch.setattr(lintora, "PYFLAKES_AVAILABLE", False)
    result = lsp.get_diagnostics("import zz_missing\nx = y\n")
    assert [d["message"] for d in result["diagnostics"]] == ["import 'zz_missing' could not be resolved"]
    assert not any("Pyflakes" in m for m in logs.messages())


def test_stable_sort_and_missing_severity(lintora, lsp, monkeypatch):
    def marker(line, severity=None, tag=""):
        d = {"startLineNumber": line, "startColumn": 1, "endLineNumber": line, "endColumn": 2, "message": tag}
        if severity is not None:
            d["severity"] = severity
        return d

    pyflakes = [marker(1, 4, "w1"), marker(2, None, "none"), marker(3, 4, "w2"), marker(4, 8, "e1")]
    imports = [marker(5, 8, "i1"), marker(6, 4, "w3")]
    monkeypatch.setattr(lsp, "_run_pyflakes", lambda code, filename: list(pyflakes))
    monkeypatch.setattr(lsp, "_check_unresolved_imports", lambda code, module_name: list(imports))
    result = lsp.get_diagnostics("x = 1")
    assert [d["message"] for d in result["diagnostics"]] == ["e1", "i1", "w1", "w2", "w3", "none"]
    monkeypatch.setattr(lsp, "_check_unresolved_imports", lambda code, module_name: [marker(1, "high")])
    result = lsp.get_diagnostics("x = 1")
    assert result["diagnostics"] == [] and "not supported" in result["error"]


def test_failures(lintora, lsp, logs, monkeypatch):
    def broken(code, module_name):
        raise RuntimeError("import check broke")

    monkeypatch.setattr(lsp, "_check_unresolved_imports", broken)
    assert lsp.get_diagnostics("x = y") == {"diagnostics": [], "error": "import check broke"}
    assert logs.lines[-1] == ("ERROR", "[LSP] Error in get_diagnostics: import check broke")
    monkeypatch.undo()

    class Api:
        @staticmethod
        def check(code, filename, reporter):
            reporter._stdout.write("f.py:1:1: 'a' first\n")
            raise RuntimeError("pyflakes broke")

    monkeypatch.setattr(lintora, "pyflakes_api", Api())
    logs.clear()
    assert lsp._run_pyflakes("x", "<editor>") == []
    assert logs.lines == [("WARNING", "[LSP] Pyflakes check failed: pyflakes broke")]
    monkeypatch.delattr(lintora, "pyflakes_api")
    assert lsp.get_diagnostics("x = 1")["error"] is None
    assert logs.messages("WARNING")[-1] == "[LSP] Pyflakes check failed: name 'pyflakes_api' is not defined"


def test_pyflakes_streams(lintora, lsp, monkeypatch):
    class Api:
        @staticmethod
        def check(code, filename, reporter):
            reporter._stdout.write("f.py:1:1: 'a' first\nnot a message\n  ^\nf.py:2: no column\n")
            reporter._stderr.write("f.py:3:5: problem\n")

    monkeypatch.setattr(lintora, "pyflakes_api", Api())
    diags = lsp._run_pyflakes("code", "<editor>")
    assert [(d["startLineNumber"], d["startColumn"], d["endColumn"], d["message"], d["severity"]) for d in diags] == [
        (1, 1, 2, "'a' first", 4), (2, 1, 2, "no column", 4), (3, 5, 6, "problem", 8)]


@pytest.mark.parametrize("message,expected", [
    ("f.py:3:8: 'ab' imported but unused", (3, 8, 10, "'ab' imported but unused")),
    ("f.py:4:1: undefined name x", (4, 1, 2, "undefined name x")),
    ("<editor>:2: something", (2, 1, 2, "something")),
    ("C:\\dir\\f.py:12:3:   'long_name' x", (12, 3, 12, "'long_name' x")),
    ("f.py:1:1: '' empty quotes", (1, 1, 2, "'' empty quotes")),
    ("f.py:1:1: 'unclosed", (1, 1, 2, "'unclosed")),
])
def test_parse_pyflakes_message(lsp, message, expected, marker_shape):
    diag = marker_shape(lsp._parse_pyflakes_message(message, 4))
    line, start, end, text = expected
    assert diag == {"startLineNumber": line, "startColumn": start, "endLineNumber": line, "endColumn": end,
                    "message": text, "severity": 4}


def test_parse_pyflakes_message_rejects(lintora, lsp, logs):
    assert lsp._parse_pyflakes_message("", 4) is None
    assert lsp._parse_pyflakes_message("x = 1", 4) is None
    assert lsp._parse_pyflakes_message("    ^", 8) is None
    assert logs.lines == []
    assert lsp._parse_pyflakes_message("f.py:" + "9" * 5000 + ": huge", 4) is None
    (line,) = logs.messages("DEBUG")
    assert line.startswith("[LSP] Failed to parse pyflakes message 'f.py:999")
    assert lsp._parse_pyflakes_message("f.py:2:3: m", 8.7)["severity"] == 8


def test_sort_with_inconsistent_key_order(lsp, monkeypatch):
    # Severities whose `__lt__` answers at random: no order at all. Python's sort still gives some
    # order, and the markers must come back in exactly that order (a C++ sort algorithm would be
    # undefined here and may read outside its range). The answers are replayed from one seed, so
    # the same comparisons get the same answers in both sorts.
    import random

    answers = random.Random()

    class Liar:
        def __lt__(self, other):
            return answers.random() < 0.5

    markers = [
        {"startLineNumber": i, "startColumn": 1, "endLineNumber": i, "endColumn": 2, "message": str(i),
         "severity": Liar()}
        for i in range(1, 200)
    ]
    monkeypatch.setattr(lsp, "_run_pyflakes", lambda code, filename: list(markers))
    monkeypatch.setattr(lsp, "_check_unresolved_imports", lambda code, module_name: [])
    for seed in range(20):
        answers.seed(seed)
        expected = sorted(markers, key=lambda d: d.get("severity", 0), reverse=True)
        answers.seed(seed)
        result = lsp.get_diagnostics("x = 1")
        assert result["error"] is None
        assert [d["message"] for d in result["diagnostics"]] == [d["message"] for d in expected]
