"""A buffer gives the same answers whichever line ends it uses ("\\n", "\\r\\n" or a lone "\\r", as
jedi and Monaco accept them), and characters that str.splitlines would split at (form feed,
vertical tab, \\x85, \\u2028) stay inside their line, as they do for jedi, Python and the editor."""
import pytest

CURSOR = "§"
ENDS = [pytest.param("\r\n", id="crlf"), pytest.param("\r", id="cr")]
# On lines above the cursor: separators that are not line ends, and text whose UTF-16 width differs
# from its length in code points or UTF-8 bytes.
NOISE = "s = 'é\u2028\x85😀'  # \x0b\x1c\n\f"


def at_cursor(template, end):
    """The buffer with `end` for every line end, and the editor's cursor where the template has §."""
    before, after = template.split(CURSOR)
    lines = before.split("\n")
    column = len(lines[-1].encode("utf-16-le")) // 2
    return (before + after).replace("\n", end), len(lines), column


def completions(lsp, template, end):
    code, line, column = at_cursor(template, end)
    return lsp.get_completions(code, line, column)


def inserted(result):
    return {item["label"]: item["insertText"] for item in result["completions"]}


# (id, template, what the answer on "\n" must show for the comparison to mean something)
COMPLETIONS = [
    ("subscript-key", NOISE + "d = {'alpha': 1}\nd['al" + CURSOR,
     lambda r: inserted(r) == {"'alpha'": "alpha'"}),
    ("member", "import os\n" + NOISE + "t = '日本'; os.pa" + CURSOR,
     lambda r: inserted(r)["path"] == "path"),
    ("private-names", NOISE + "class K:\n    _hidden = 1\n    shown = 2\nK._h" + CURSOR,
     lambda r: list(inserted(r)) == ["_hidden"]),
    ("import-alias", NOISE + "import numpy as n" + CURSOR, lambda r: r == {"completions": [], "error": None}),
    ("comment", "import os\n" + NOISE + "x = 1  # see os." + CURSOR, lambda r: r == {"completions": [], "error": None}),
]


@pytest.mark.parametrize("end", ENDS)
@pytest.mark.parametrize("template,shows", [pytest.param(t, s, id=i) for i, t, s in COMPLETIONS])
def test_completions(lsp, template, shows, end):
    expected = completions(lsp, template, "\n")
    assert shows(expected), expected
    assert completions(lsp, template, end) == expected


@pytest.mark.parametrize("end", ENDS)
def test_word_prefix(lsp, end):
    code, line, column = at_cursor(NOISE + "x = 1\fy._pr" + CURSOR + " = 2", end)
    assert lsp._get_word_prefix(code, line, column) == "_pr"
    # Past the last line of the buffer there is no word.
    assert lsp._get_word_prefix(code, line + 1, 0) == ""


@pytest.mark.parametrize("end", ENDS)
def test_hover_and_signature_help(lsp, end):
    hover = NOISE + "import os\nv = 'ü'; os.pa" + CURSOR + "th\n"
    call = "def f(alpha, beta):\n    return alpha\n" + NOISE + "w = '😀'; f(1, " + CURSOR

    def ask(e):
        return lsp.get_hover(*at_cursor(hover, e)), lsp.get_signature_help(*at_cursor(call, e))

    expected_hover, expected_signature = ask("\n")
    assert "posixpath" in expected_hover["contents"]["value"]
    assert expected_signature["activeParameter"] == 1
    assert ask(end) == (expected_hover, expected_signature)


DIAGNOSED = [
    pytest.param("import os\n" + NOISE + "x = 'é'; import zz_nope\ny = '😀'; undefined_name\n"
                 "from zz_other import (\n    a,\n    b)\n", id="warnings-and-imports"),
    pytest.param(NOISE + "x = 1\ny = '日本' +\n", id="syntax-error"),
]


@pytest.mark.parametrize("end", ENDS)
@pytest.mark.parametrize("template", DIAGNOSED)
def test_diagnostics(lsp, template, end):
    expected = lsp.get_diagnostics(template)
    assert expected["error"] is None and expected["diagnostics"]
    assert lsp.get_diagnostics(template.replace("\n", end)) == expected
