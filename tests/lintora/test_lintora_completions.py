"""Completion requests over real jedi: items, kinds, the underscore rule, the import-alias context."""
import re

import pytest

CLASS_SRC = (
    "class Thing:\n"
    "    def __init__(self):\n"
    "        self._x = 1\n"
    "    def method(self, a, b=2):\n"
    "        \"\"\"Does the thing.\"\"\"\n"
    "    value = 3\n"
    "obj = Thing()\n"
)


def labels(result):
    assert list(result) == ["completions", "error"] and result["error"] is None
    return [item["label"] for item in result["completions"]]


def test_items_and_fields(lsp):
    code = CLASS_SRC + "obj."
    result = lsp.get_completions(code, 8, 4)
    items = {item["label"]: item for item in result["completions"]}
    method = items["method"]
    assert list(method) == ["label", "kind", "insertText", "detail", "documentation"]
    assert method["kind"] == 1 and method["insertText"] == "method"
    assert method["detail"].startswith("(") and "a" in method["detail"]
    assert "Does the thing." in method["documentation"]
    value = items["value"]
    assert value["kind"] == 4 and "detail" not in value
    # A class completion has no detail even though jedi could give its signatures.
    result = lsp.get_completions(CLASS_SRC + "Thi", 8, 3)
    thing = next(i for i in result["completions"] if i["label"] == "Thing")
    assert thing["kind"] == 5 and "detail" not in thing


def test_underscore_rule(lsp):
    hidden = labels(lsp.get_completions(CLASS_SRC + "obj.", 8, 4))
    assert "method" in hidden and not any(name.startswith("_") for name in hidden)
    shown = labels(lsp.get_completions(CLASS_SRC + "obj._", 8, 5))
    assert "_x" in shown and "__init__" in shown


@pytest.mark.parametrize("code", ["import numpy as n", "from os import path as", "import os as",
                                  "  import os.path as p", "from a.b import c as "])
def test_import_alias_context(lsp, logs, code):
    result = lsp.get_completions(code, 1, len(code), None, {"never_written": "x = 1"})
    assert result == {"completions": [], "error": None}
    assert ("DEBUG", "[LSP] In import alias context, returning empty completions") in logs.lines
    assert lsp._temp_dir is not None and __import__("os").listdir(lsp._temp_dir.name) == []


def test_plain_import_goes_to_jedi(lsp):
    assert "numbers" in labels(lsp.get_completions("import numb", 1, 11))


def test_unknown_kind_defaults_to_4(lintora, lsp, monkeypatch):
    monkeypatch.setattr(lintora, "JEDI_TO_MONACO_KIND", {})
    items = lsp.get_completions("import os\nos.pa", 2, 5)["completions"]
    assert items and all(item["kind"] == 4 for item in items)


class FakeCompletion:
    def __init__(self, name, type_, signatures=None, doc=""):
        self.name, self.type = name, type_
        self._signatures, self._doc = signatures, doc

    def get_signatures(self):
        if isinstance(self._signatures, Exception):
            raise self._signatures
        return self._signatures or []

    def docstring(self):
        if isinstance(self._doc, BaseException):
            raise self._doc
        return self._doc


def patch_jedi(lintora, monkeypatch, completions):
    class Script:
        def __init__(self, code, path, project):
            self.args = (code, path, project)

        def complete(self, line, column):
            return completions

    class Jedi:
        pass

    jedi = Jedi()
    jedi.Script = Script
    monkeypatch.setattr(lintora, "jedi", jedi)


def test_failing_fields_drop_only_themselves(lintora, lsp, monkeypatch):
    class Sig:
        def to_string(self):
            return "f(a)"

    patch_jedi(lintora, monkeypatch, [
        FakeCompletion("f", "function", [Sig()], "doc f"),
        FakeCompletion("g", "function", RuntimeError("no sigs"), ValueError("no doc")),
        FakeCompletion("h", "function", [], ""),
        FakeCompletion("weird", "unknown-type"),
    ])
    items = lsp.get_completions("x", 1, 1)["completions"]
    assert items == [
        {"label": "f", "kind": 1, "insertText": "f", "detail": "(a)", "documentation": "doc f"},
        {"label": "g", "kind": 1, "insertText": "g"},
        {"label": "h", "kind": 1, "insertText": "h"},
        {"label": "weird", "kind": 4, "insertText": "weird"},
    ]


def test_keyboard_interrupt_is_not_swallowed(lintora, lsp, monkeypatch):
    patch_jedi(lintora, monkeypatch, [FakeCompletion("f", "statement", None, KeyboardInterrupt())])
    with pytest.raises(KeyboardInterrupt):
        lsp.get_completions("x", 1, 1)


def test_log_lines(lintora, lsp, logs, monkeypatch):
    code = "a" * 150
    patch_jedi(lintora, monkeypatch, [FakeCompletion(f"n{i}", "statement") for i in range(6)])
    lsp.get_completions(code, 1, 3, "p.py")
    assert logs.lines == [
        ("DEBUG", "[LSP] Request: get_completions " + repr(
            {"line": 1, "column": 3, "path": "p.py", "code_length": 150, "code_preview": "a" * 100})),
        ("DEBUG", "[LSP] Jedi returned 6 completions"),
        ("DEBUG", "[LSP] Response: 6 completions returned"),
        ("DEBUG", "[LSP] Sample completions: ['n0', 'n1', 'n2', 'n3', 'n4']..."),
    ]
    logs.clear()
    patch_jedi(lintora, monkeypatch, [FakeCompletion(f"n{i}", "statement") for i in range(5)])
    lsp.get_completions("short", 1, 3)
    assert logs.lines[-1] == ("DEBUG", "[LSP] Sample completions: ['n0', 'n1', 'n2', 'n3', 'n4']")
    logs.clear()
    patch_jedi(lintora, monkeypatch, [])
    lsp.get_completions("short", 1, 3)
    assert logs.lines[-1] == ("DEBUG", "[LSP] Response: 0 completions returned")


def test_disabled_logging_builds_nothing(lintora, lsp, monkeypatch):
    calls = []

    class QuietLogger:
        def isEnabledFor(self, level):
            calls.append(level)
            return False

        def __getattr__(self, name):
            raise AssertionError(f"logger.{name} called while disabled")

    monkeypatch.setattr(lintora, "logger", QuietLogger())
    patch_jedi(lintora, monkeypatch, [FakeCompletion(f"n{i}", "statement") for i in range(7)])
    assert len(lsp.get_completions("x", 1, 1)["completions"]) == 7
    assert calls and set(calls) == {10}


@pytest.mark.parametrize("line,column,message", [
    (0, 0, "line must be a positive integer (1-based)"),
    (-5, 0, "line must be a positive integer (1-based)"),
    (1, -1, "column must be a non-negative integer (0-based)"),
])
def test_bad_position(lsp, logs, line, column, message):
    assert lsp.get_completions("x = 1", line, column) == {"completions": [], "error": message}
    assert logs.lines[-1] == ("ERROR", f"[LSP] Error in get_completions: {message}")


def test_jedi_errors_become_the_error_text(lsp):
    for line, column in [(9, 0), (1, 999), (10**30, 0)]:
        result = lsp.get_completions("x = 1\n", line, column)
        assert result["completions"] == [] and isinstance(result["error"], str) and result["error"]


def test_float_line_is_truncated(lsp):
    code = "import os\n\nos.pa"
    assert labels(lsp.get_completions(code, 3.9, 5)) == labels(lsp.get_completions(code, 3, 5))


@pytest.mark.parametrize("code,line,column,prefix", [
    ("obj.na", 1, 6, "na"), ("x = _pri", 1, 8, "_pri"), ("print(", 1, 6, ""), ("9ab", 1, 3, "ab"),
    ("abc", 1, 0, ""), ("abc", 2, 1, ""), ("abc ", 1, 4, ""), ("abc", 0, 2, ""), ("x\nfoo_bar1", 2, 99, "foo_bar1"),
    ("abcdef", 1, -2, "abcd"), ("naïve", 1, 5, "ve"),
])
def test_word_prefix(lsp, code, line, column, prefix):
    assert lsp._get_word_prefix(code, line, column) == prefix


def test_script_preparation(lintora, lsp, monkeypatch):
    made = []

    class Script:
        def __init__(self, **kwargs):
            made.append(kwargs)

        def complete(self, **kwargs):
            made.append(kwargs)
            return []

    class Jedi:
        pass

    jedi = Jedi()
    jedi.Script = Script
    monkeypatch.setattr(lintora, "jedi", jedi)
    root = lsp._temp_dir.name
    for path, expected in [(None, "<editor>"), ("", "<editor>"), ("utils", f"{root}/utils.py"),
                           ("C:/x/y.py", "C:/x/y.py"), ("a.b", "a.b")]:
        made.clear()
        lsp.get_completions("co", 1, 2, path)
        assert made == [{"code": "co", "path": expected, "project": lsp._jedi_project}, {"line": 1, "column": 2}]


def test_completions_across_synced_modules(lsp):
    modules = {"helpers": "def scale(value):\n    return value\nLIMIT = 3\n"}
    dirty = {"helpers": "def scale(value):\n    return value\nLIMIT = 3\nFRESH = 1\n"}
    found = labels(lsp.get_completions("import helpers\nhelpers.", 2, 8, "main", modules, dirty))
    assert {"scale", "LIMIT", "FRESH"} <= set(found)


def complete_at_end(lsp, code, modules=None):
    lines = code.split("\n")
    return lsp.get_completions(code, len(lines), len(lines[-1]), None, modules)


@pytest.mark.parametrize("code", [
    "x = 1  # Load the data.",
    "# Load the data.",
    "def load():\n    # Load the data.",
    "rows = (1,\n        2,  # the data.",
    "s = '#'  # a '#' in a string before the comment.",
    # The tokenizer gives up on the unterminated string and starts again after it.
    "s = 'unterminated\n# Load the data.",
])
def test_no_completions_inside_comments(lsp, logs, code):
    assert complete_at_end(lsp, code, {"never_written": "x = 1"}) == {"completions": [], "error": None}
    assert ("DEBUG", "[LSP] In a comment, returning empty completions") in logs.lines
    assert __import__("os").listdir(lsp._temp_dir.name) == []


@pytest.mark.parametrize("code,expected", [
    ("s = '#'\ns.sp", "split"),
    ("s = '#'.sp", "split"),
    ("s = 'a # b'.sp", "split"),
    ("# Load the data.\nimport os\nos.pa", "path"),
    ('"""Doc with # inside."""\nimport os\nos.pa', "path"),
])
def test_hash_outside_comments_still_completes(lsp, code, expected):
    assert expected in labels(complete_at_end(lsp, code))


def test_cursor_before_the_hash_is_not_in_the_comment(lsp):
    code = "import os\nos.pa# note"
    assert "path" in labels(lsp.get_completions(code, 2, 5))


# Monaco's default word definition; its completion replaces the word up to the cursor.
MONACO_WORD = re.compile(r"(-?[0-9]*\.[0-9][A-Za-z0-9_]*)|([^`~!@#$%^&*()\-=+\[{\]}\\|;:'\",.<>/?\s]+)")


def accept(line, column, item):
    """The line after Monaco inserts `item` at `column`."""
    start = column
    for match in MONACO_WORD.finditer(line):
        if match.start() <= column <= match.end():
            start = match.start()
            break
    return line[:start] + item["insertText"] + line[column:]


def accepted_lines(lsp, code):
    lines = code.split("\n")
    result = complete_at_end(lsp, code)
    assert result["error"] is None
    return {item["label"]: accept(lines[-1], len(lines[-1]), item) for item in result["completions"]}


@pytest.mark.parametrize("typed,label,line", [
    ("d['al", "'alpha'", "d['alpha'"),
    ('d["al', '"alpha"', 'd["alpha"'),
    ("d['", "'beta'", "d['beta'"),
    ('d["', '"beta"', 'd["beta"'),
    ("d[", "'alpha'", "d['alpha'"),
    ("d['with-da", "'with-dash'", "d['with-dash'"),
    ("d['with-", "'with-dash'", "d['with-dash'"),
    ("d['with.", "'with.dot'", "d['with.dot'"),
])
def test_dict_keys_insert_what_jedi_completes(lsp, typed, label, line):
    code = "d = {'alpha': 1, 'beta': 2, 'with-dash': 3, 'with.dot': 4}\n" + typed
    assert accepted_lines(lsp, code)[label] == line


def test_paths_insert_what_jedi_completes(lsp, tmp_path):
    (tmp_path / "my-data.csv").write_text("a\n")
    typed = f"open('{tmp_path}/my-"
    assert accepted_lines(lsp, typed)["my-data.csv'"] == f"open('{tmp_path}/my-data.csv'"


@pytest.mark.parametrize("typed,label,line", [
    ("obj.", "method", "obj.method"),
    ("obj.me", "method", "obj.method"),
    ("obj._", "_x", "obj._x"),
    ("Thi", "Thing", "Thing"),
])
def test_names_keep_their_insert_text(lsp, typed, label, line):
    lines = accepted_lines(lsp, CLASS_SRC + typed)
    assert lines[label] == line
    items = complete_at_end(lsp, CLASS_SRC + typed)["completions"]
    assert all(item["insertText"] == item["label"] for item in items)


def test_case_insensitive_matches_keep_the_name(lsp):
    # jedi offers `path` for `os.PA`; Monaco replaces `PA` with the name itself.
    assert accepted_lines(lsp, "import os\nos.PA")["path"] == "os.path"


class Prefixed(FakeCompletion):
    def __init__(self, name, prefix_length, complete):
        super().__init__(name, "string")
        self._prefix_length, self.complete = prefix_length, complete

    def get_completion_prefix_length(self):
        if isinstance(self._prefix_length, BaseException):
            raise self._prefix_length
        return self._prefix_length


def test_insert_text_falls_back_to_the_name(lintora, lsp, monkeypatch):
    patch_jedi(lintora, monkeypatch, [
        Prefixed("'alpha'", 3, "pha'"),
        Prefixed("'beta'", 3, None),
        Prefixed("'gamma'", RuntimeError("no length"), "x"),
        Prefixed("'delta'", -1, "x"),
        Prefixed("al_x", 2, "_x"),
    ])
    items = lsp.get_completions("d['al", 1, 5)["completions"]
    assert [item["insertText"] for item in items] == ["alpha'", "'beta'", "'gamma'", "'delta'", "al_x"]
    assert all(list(item) == ["label", "kind", "insertText"] for item in items)
