"""Columns in the editor's units (UTF-16 code units, as Monaco counts them) on lines that hold
accented Latin, CJK or astral-plane text, in both directions: the markers lintora returns and the
cursor columns it receives."""
import pytest

# The line under test is `above + head + statement`; `width` is what the editor counts for `head`
# (UTF-16 units, counted by hand). The ASCII rows give the numbers lintora has always given.
KINDS = [
    pytest.param("", "", 0, id="ascii-bare"),
    pytest.param("", 's = "plain text"; ', 18, id="ascii"),
    pytest.param("", 's = "héllo wörld"; ', 19, id="latin"),
    pytest.param("", 's = "日本語テキスト"; ', 15, id="cjk"),
    pytest.param("", 's = "😀 ok 🎉"; ', 16, id="emoji"),
    pytest.param("# déjà vu, 日本語, 😀\n", 's = "plain text"; ', 18, id="comment-above"),
]


def markers(lsp, code):
    return {d["message"]: (d["startLineNumber"], d["startColumn"], d["endLineNumber"], d["endColumn"], d["severity"])
            for d in lsp.get_diagnostics(code)["diagnostics"]}


@pytest.mark.parametrize("above,head,width", KINDS)
def test_markers(lsp, above, head, width):
    row = above.count("\n") + 1
    # Undefined name: the whole name.
    assert markers(lsp, above + head + "print(undefined_name)") == {
        "undefined name 'undefined_name'": (row, width + 7, row, width + 21, 4)}
    # Unused import: the imported name, not the statement's start.
    assert markers(lsp, above + head + "import json") == {"'json' imported but unused": (row, width + 8, row, width + 12, 4)}
    # Unresolved import: the whole statement.
    assert markers(lsp, above + head + "import zz_not_installed") == {
        "import 'zz_not_installed' could not be resolved": (row, width + 1, row, width + 24, 8),
        "'zz_not_installed' imported but unused": (row, width + 8, row, width + 24, 4)}
    # Syntax error: on the literal Python complains about, one character wide.
    (syntax,) = markers(lsp, above + head + "1 = x").values()
    assert syntax == (row, width + 1, row, width + 2, 8)


def test_marker_widths_and_spans_with_astral_names(lsp):
    # The alias is the name the marker covers, in the editor's units: 𠀀 is one character, two units.
    assert markers(lsp, 's = "😀"; import os as 𠀀') == {"'os as 𠀀' imported but unused": (1, 24, 1, 26, 4)}
    # A statement over three lines ends on its last line, counted on that line.
    found = markers(lsp, "from zz_missing import (\n    a,\n    b, 𠀀)  # 日本\n")
    assert found["import 'zz_missing' could not be resolved"] == (1, 1, 3, 11, 8)
    # Line breaks as Python and Monaco count them: "\r\n" and a lone "\r" end a line.
    assert markers(lsp, '# 😀\r\nx = "😀"; undefined_a\ry = "é"; undefined_b') == {
        "undefined name 'undefined_a'": (2, 11, 2, 22, 4), "undefined name 'undefined_b'": (3, 10, 3, 21, 4)}


def test_syntax_error_at_the_end_of_the_line(lsp):
    # Python points just past the last character; so does the marker, as on an ASCII line as wide.
    (unclosed,) = markers(lsp, 's = "😀"; x = 1 +\n').values()
    assert unclosed[:2] == (1, 18)
    (ascii_unclosed,) = markers(lsp, 's = "ab"; x = 1 +\n').values()
    assert ascii_unclosed[:2] == (1, 18)


def utf16(text):
    return len(text.encode("utf-16-le")) // 2


@pytest.mark.parametrize("above,head,width", KINDS)
def test_requests_at_the_editors_cursor(lsp, above, head, width):
    row = above.count("\n") + 1
    # Completion and signature help with the cursor at the end of the line, as the editor sends it.
    line = head + "import os; os.pa"
    result = lsp.get_completions(above + line, row, utf16(line))
    assert result["error"] is None and "path" in [item["label"] for item in result["completions"]]
    line = head + "divmod(7, "
    result = lsp.get_signature_help(above + line, row, utf16(line))
    assert result["error"] is None and result["activeParameter"] == 1
    assert result["signatures"][0]["label"].startswith("divmod(")
    # Hover on the last letter of `len`: two units further right is `abs`.
    code = above + head + "n=len;abs"
    assert lsp.get_hover(code, row, width + 4)["contents"]["value"].startswith("```python\n(function) len(")
    assert lsp.get_hover(code, row, width + 6)["contents"]["value"].startswith("```python\n(function) abs(")


def test_import_alias_rule_counts_like_jedi(lsp, logs):
    # The cursor right after the alias; unconverted, the cut would run past it and miss the rule.
    code = "import 𠀀 as al  # 😀"
    assert lsp.get_completions(code, 1, 15) == {"completions": [], "error": None}
    assert ("DEBUG", "[LSP] In import alias context, returning empty completions") in logs.lines


def test_column_past_the_end_keeps_jedis_error(lsp):
    line = 'x = "😀"; os'
    result = lsp.get_completions(line, 1, utf16(line) + 1)
    assert result["completions"] == [] and result["error"].startswith("`column` parameter (13) is not in a valid range")


@pytest.fixture
def seen_columns(lintora, lsp, monkeypatch):
    """The columns that reach jedi and the word-prefix rule, per request."""
    seen = []

    class Script:
        def __init__(self, code, path, project):
            pass

        def complete(self, line, column):
            seen.append(("complete", column))
            return []

        def infer(self, line, column):
            seen.append(("infer", column))
            return []

        def help(self, line, column):
            seen.append(("help", column))
            return []

        def get_signatures(self, line, column):
            seen.append(("get_signatures", column))
            return []

    class Jedi:
        pass

    jedi = Jedi()
    jedi.Script = Script
    monkeypatch.setattr(lintora, "jedi", jedi)
    word_prefix = type(lsp)._get_word_prefix

    def recording_prefix(self, code, line, column):
        seen.append(("_get_word_prefix", column))
        return word_prefix(self, code, line, column)

    monkeypatch.setattr(type(lsp), "_get_word_prefix", recording_prefix)
    return seen


@pytest.mark.parametrize("code,line,column,expected", [
    ("a😀b", 1, 0, 0), ("a😀b", 1, 1, 1),
    ("a😀b", 1, 2, 1),  # inside the surrogate pair: the emoji's start
    ("a😀b", 1, 3, 2), ("a😀b", 1, 4, 3),
    ("a😀b", 1, 5, 5),  # past the end: unchanged, for jedi to refuse
    ("日本語", 1, 2, 2), ("héllo", 1, 3, 3),  # one unit per character in the Basic Multilingual Plane
    ("😀😀\r\nab", 2, 1, 1), ("😀😀\r\n😀b", 2, 3, 2), ("😀\r😀b", 2, 2, 1), ("😀", 7, 3, 3),
])
def test_cursor_column_reaching_jedi(lsp, seen_columns, code, line, column, expected):
    lsp.get_completions(code, line, column)
    lsp.get_hover(code, line, column)
    lsp.get_signature_help(code, line, column)
    assert seen_columns == [("_get_word_prefix", expected), ("complete", expected), ("infer", expected),
                            ("help", expected), ("get_signatures", expected)]


def test_devkit_editor_counts_like_the_editor(lsp):
    from devkit import editor

    code = 'import os\ns = "😀 日本"; print(undefined_name); os.pa'
    line, column = editor.position_after(code, "os.pa")
    assert (line, column) == (2, 41)
    assert "path" in [item["label"] for item in lsp.get_completions(code, line, column)["completions"]]
    # The caret sits under the name's first character.
    rendered = editor.render_diagnostics(code, lsp.get_diagnostics(code)).split("\n")
    source, caret = rendered[1], rendered[2]
    assert source[caret.index("^"):].startswith("undefined_name")
