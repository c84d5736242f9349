"""Signature help over real jedi, and the signature formatter's fallbacks."""
import pytest

SRC = "def pair(first, second):\n    \"\"\"Make a pair.\"\"\"\n    return first, second\n\n"


def test_active_parameter(lsp, logs):
    result = lsp.get_signature_help(SRC + "pair(1, ", 5, 8)
    assert list(result) == ["signatures", "activeSignature", "activeParameter", "error"]
    (sig,) = result["signatures"]
    assert list(sig) == ["label", "documentation", "parameters"]
    assert sig["label"] == "pair(first, second)"
    assert sig["documentation"] == "Make a pair."
    assert [p["label"] for p in sig["parameters"]] == ["first", "second"]
    assert all(list(p) in (["label"], ["label", "documentation"]) for p in sig["parameters"])
    assert result["activeSignature"] == 0 and result["activeParameter"] == 1 and result["error"] is None
    assert logs.lines[-1] == ("DEBUG", "[LSP] Signature help: pair, activeParam=1")
    assert logs.lines[0] == ("DEBUG", "[LSP] Request: get_signature_help line=5, column=8, path=None")


def test_no_signature(lsp, logs):
    assert lsp.get_signature_help("x = 1\n", 1, 3) == {
        "signatures": [], "activeSignature": 0, "activeParameter": 0, "error": None}
    assert logs.lines[-1] == ("DEBUG", "[LSP] No signatures found")


@pytest.mark.parametrize("line,column,message", [
    (0, 0, "line must be a positive integer (1-based)"),
    (1, -1, "column must be a non-negative integer (0-based)"),
])
def test_bad_position(lsp, logs, line, column, message):
    assert lsp.get_signature_help("x", line, column) == {
        "signatures": [], "activeSignature": 0, "activeParameter": 0, "error": message}
    assert logs.lines[-1] == ("ERROR", f"[LSP] Error in get_signature_help: {message}")


def test_synced_module_resolves(lsp):
    modules = {"helpers": "def scale(value, factor=2):\n    return value * factor\n"}
    code = "from helpers import scale\nscale(1, "
    result = lsp.get_signature_help(code, 2, 9, "main", modules)
    assert result["signatures"][0]["label"] == "scale(value, factor=2)"
    assert result["activeParameter"] == 1
    # Synced files stay for later requests that send no modules.
    result = lsp.get_signature_help("import helpers\nhelpers.scale(", 2, 14, "main")
    assert result["signatures"][0]["label"] == "scale(value, factor=2)"


class Param:
    def __init__(self, name, description=None, text=None):
        self.name, self._description, self._text = name, description, text

    @property
    def description(self):
        if isinstance(self._description, BaseException):
            raise self._description
        return self._description

    def to_string(self):
        if isinstance(self._text, BaseException):
            raise self._text
        return self._text


class Sig:
    def __init__(self, name="f", params=(), index=None, doc=None, text=None):
        self.name, self.params, self.index = name, list(params), index
        self._doc, self._text = doc, text

    def docstring(self, raw=False):
        assert raw is True
        if isinstance(self._doc, BaseException):
            raise self._doc
        return self._doc

    def to_string(self):
        if isinstance(self._text, BaseException):
            raise self._text
        return self._text


def patch_signatures(lintora, monkeypatch, signatures):
    class Script:
        def __init__(self, code, path, project):
            pass

        def get_signatures(self, line, column):
            return signatures

    class Jedi:
        pass

    jedi = Jedi()
    jedi.Script = Script
    monkeypatch.setattr(lintora, "jedi", jedi)


def test_fields_from_odd_signatures(lintora, lsp, monkeypatch, logs):
    sig = Sig(name=None, index=None, doc=TypeError("no doc"), text="(a, b)",
              params=[Param("a", "param a"), Param("b", AttributeError("x")), Param("c", "")])
    patch_signatures(lintora, monkeypatch, [sig, Sig(name="ignored")])
    result = lsp.get_signature_help("x", 1, 0)
    assert result == {"signatures": [{"label": "function(a, b)", "documentation": "",
                                      "parameters": [{"label": "a", "documentation": "param a"},
                                                     {"label": "b"}, {"label": "c"}]}],
                      "activeSignature": 0, "activeParameter": 0, "error": None}
    assert logs.lines[-1] == ("DEBUG", "[LSP] Signature help: None, activeParam=0")


def test_other_errors_fail_the_request(lintora, lsp, monkeypatch):
    patch_signatures(lintora, monkeypatch, [Sig(params=[Param("a", RuntimeError("desc broke"))], text="f(a)")])
    assert lsp.get_signature_help("x", 1, 0)["error"] == "desc broke"
    patch_signatures(lintora, monkeypatch, [Sig(text=RuntimeError("to_string broke"))])
    assert lsp.get_signature_help("x", 1, 0) == {
        "signatures": [], "activeSignature": 0, "activeParameter": 0, "error": "to_string broke"}


def test_format_signature(lsp):
    assert lsp._format_signature(Sig(text="name(a, b=1) -> int")) == "(a, b=1) -> int"
    assert lsp._format_signature(Sig(text="no parens")) == "no parens"
    # Without a usable to_string: the parameters' own texts.
    fallback = Sig(text=AttributeError("x"), params=[Param("a", text="a"), Param("b", text="b=2")])
    assert lsp._format_signature(fallback) == "(a, b=2)"
    assert lsp._format_signature(Sig(text=5, params=[Param("a", text="a")])) == "(a)"

    class ParamsOnly:
        params = [Param("x", text="x: int")]

    assert lsp._format_signature(ParamsOnly()) == "(x: int)"
    assert lsp._format_signature(object()) == ""
    assert lsp._format_signature(Sig(text=TypeError("x"), params=[Param("a", text=3)])) == ""
    with pytest.raises(ValueError):
        lsp._format_signature(Sig(text=ValueError("not caught here")))


def at_end(lsp, code):
    lines = code.split("\n")
    return lsp.get_signature_help(code, len(lines), len(lines[-1]))


def shown(result):
    (sig,) = result["signatures"]
    return [p["label"] for p in sig["parameters"]], result["activeParameter"]


@pytest.mark.parametrize("code,params,active", [
    # The overload that accepts what is typed so far, with its own parameter index.
    ("range(", ["stop"], 0),
    ("range(1, ", ["start", "stop", "step"], 1),
    ("range(1, 2, ", ["start", "stop", "step"], 2),
    ("int(", ["x"], 0),
    ("int('ff', ", ["x", "base"], 1),
    ("str(b'', ", ["object", "encoding", "errors"], 1),
    ("d = {}\nd.pop(", ["key"], 0),
    ("d = {}\nd.pop('a', ", ["key", "default"], 1),
    # No overload takes four arguments: the first overload, as before, with parameter 0.
    ("range(1, 2, 3, ", ["stop"], 0),
])
def test_overload_that_fits(lsp, code, params, active):
    assert shown(at_end(lsp, code)) == (params, active)


def test_library_overloads(lsp):
    code = "import pandas as pd\npd.read_csv('x.csv', iterator=True, "
    params, active = shown(at_end(lsp, code))
    assert params[0] == "filepath_or_buffer" and active == 2
    code = "import pandas as pd\ndf = pd.DataFrame()\ndf.to_csv('out.csv', "
    params, active = shown(at_end(lsp, code))
    assert params[:2] == ["path_or_buf", "sep"] and active == 1


def test_first_signature_with_an_index_wins(lintora, lsp, monkeypatch, logs):
    patch_signatures(lintora, monkeypatch, [Sig(name="a", index=None, text="a()"), Sig(name="b", index=2, text="b(x)"),
                                            Sig(name="c", index=1, text="c(y)")])
    result = lsp.get_signature_help("x", 1, 0)
    assert [s["label"] for s in result["signatures"]] == ["b(x)"] and result["activeParameter"] == 2
    assert logs.lines[-1] == ("DEBUG", "[LSP] Signature help: b, activeParam=2")
