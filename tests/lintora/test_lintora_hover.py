"""Hover over real jedi in both modes, the help fallback, and the formatting helpers."""
import re

import pytest

SEP = "\n\n---\n\n"
FUNC_SRC = "def add(a, b):\n    \"\"\"Add two numbers.\"\"\"\n    return a + b\n\nadd(1, 2)\n"


def blocks(value):
    return re.findall(r"```python\n(.*?)\n```", value, re.S)


def test_compact_function(lsp):
    result = lsp.get_hover(FUNC_SRC, 5, 1)
    assert list(result) == ["contents", "error"] and result["error"] is None
    assert list(result["contents"]) == ["kind", "value"] and result["contents"]["kind"] == "markdown"
    value = result["contents"]["value"]
    # The signature, then the first paragraph of the docstring under it.
    signature, doc = value.split(SEP)
    assert signature.startswith("```python\n(function) add(") and signature.endswith("\n```")
    assert doc == "Add two numbers."


def test_compact_hovers_that_help(lsp):
    # A value hovered under its name: `name: type`, one line.
    code = "total = 0\nfor row in [1, 2]:\n    total += row\n"
    assert lsp.get_hover(code, 3, 6)["contents"]["value"] == "```python\ntotal: int\n```"
    assert lsp.get_hover(code, 3, 15)["contents"]["value"] == "```python\nrow: int\n```"
    # Only the docstring's first paragraph, under the signature.
    code = 'def f(a):\n    """Short.\n\n    Long story."""\nf(1)\n'
    assert lsp.get_hover(code, 5, 0)["contents"]["value"].split(SEP)[1:] == ["Short."]
    # Overloads that read the same are shown once; a long signature stays one line of 140.
    code = ("from typing import overload\n@overload\ndef g(a: int) -> int: ...\n@overload\n"
            "def g(a: int) -> int: ...\ndef g(a): return a\ng\n")
    assert blocks(lsp.get_hover(code, 7, 0)["contents"]["value"]) == ["(function) g(a: int) -> int"]
    params = ", ".join(f"parameter_{i}: int" for i in range(12))
    code = f"def h({params}): pass\nh\n"
    (block,) = blocks(lsp.get_hover(code, 2, 0)["contents"]["value"])
    assert len(block) == 140 and block.endswith("…") and "\n" not in block


def test_excel_member_hover_has_the_stubs_documentation(lsp):
    code = 'from cellumo_master.python_server.cellumo.ostrel import Context\nsheet = Context.workbook.worksheets.getItem("S")\nsheet.getRange("A1")\n'
    signature, doc = lsp.get_hover(code, 3, 8)["contents"]["value"].split(SEP)
    assert signature == "```python\n(function) getRange(address: str=...) -> Range\n```"
    assert doc.startswith("Gets the `Range` object")
    assert lsp.get_hover(code, 3, 2)["contents"]["value"] == "```python\nsheet: Worksheet\n```"


def test_detailed_function_and_variable(lsp):
    lsp.set_hover_mode("detailed")
    detailed = lsp.get_hover(FUNC_SRC, 5, 1)["contents"]["value"]
    parts = detailed.split(SEP)
    assert len(parts) == 2
    assert re.fullmatch(r"```python\n\S*add\(a, b\).*\n```", parts[0], re.S)
    assert "Add two numbers." in parts[1]
    (variable,) = blocks(lsp.get_hover("count = 1\ncount", 2, 0)["contents"]["value"])
    assert re.fullmatch(r"\S+: .+", variable)
    # Any mode other than "compact" is the detailed one.
    lsp._hover_mode = "something"
    assert lsp.get_hover(FUNC_SRC, 5, 1)["contents"]["value"] == detailed


def test_class_and_module_blocks(lsp):
    code = "import os\nclass K:\n    pass\nK\nos\n"
    assert blocks(lsp.get_hover(code, 4, 0)["contents"]["value"]) == ["(class) K"]
    assert blocks(lsp.get_hover(code, 5, 0)["contents"]["value"]) == ["(module) os"]
    lsp.set_hover_mode("detailed")
    assert blocks(lsp.get_hover(code, 4, 0)["contents"]["value"])[0].startswith("class ")
    assert blocks(lsp.get_hover(code, 5, 0)["contents"]["value"])[0] == "module os"


def test_help_fallback(lsp, logs):
    result = lsp.get_hover("for x in []:\n    pass\n", 1, 1)
    parts = result["contents"]["value"].split(SEP)
    assert re.fullmatch(r"```python\n\(.+\) for\n```", parts[0]) and len(parts) == 2
    assert logs.messages("DEBUG")[1:] == ["[LSP] infer() returned empty, trying help() as fallback",
                                          "[LSP] Hover (from help()): found 1 results"]
    logs.clear()
    assert lsp.get_hover("\n\nx = 1\n", 1, 0) == {"contents": None, "error": None}
    assert logs.lines == [("DEBUG", "[LSP] Request: get_hover line=1, column=0, path=None"),
                          ("DEBUG", "[LSP] infer() returned empty, trying help() as fallback"),
                          ("DEBUG", "[LSP] No type information found for hover")]


class Name:
    """A stand-in for jedi's name objects, with attributes that may raise."""

    def __init__(self, **kw):
        self.__dict__.update(kw)

    def __getattribute__(self, item):
        value = object.__getattribute__(self, item)
        if isinstance(value, BaseException):
            raise value
        return value

    def docstring(self):
        doc = self.__dict__.get("doc", "")
        if isinstance(doc, BaseException):
            raise doc
        return doc

    def get_signatures(self):
        sigs = self.__dict__.get("sigs", [])
        if isinstance(sigs, BaseException):
            raise sigs
        return sigs


class Sig:
    def __init__(self, text):
        self.text = text

    def to_string(self):
        return self.text


def patch_script(lintora, monkeypatch, inferred=(), helped=()):
    class Script:
        def __init__(self, code, path, project):
            pass

        def infer(self, line, column):
            return list(inferred)

        def help(self, line, column):
            if isinstance(helped, BaseException):
                raise helped
            return list(helped)

    class Jedi:
        pass

    jedi = Jedi()
    jedi.Script = Script
    monkeypatch.setattr(lintora, "jedi", jedi)


def test_detailed_parts_and_failures(lintora, lsp, monkeypatch):
    lsp.set_hover_mode("detailed")
    patch_script(lintora, monkeypatch, [
        Name(name="f", full_name="m.f", type="function", sigs=[Sig("f(a) -> int")], doc="doc f"),
        Name(name="g", full_name="", type="function", sigs=RuntimeError("x"), doc="doc g"),
        Name(name="v", full_name=None, type="statement", description="", doc=ValueError("no doc")),
        Name(name="w", full_name="m.w", type="param", description="int w"),
    ])
    value = lsp.get_hover("x", 1, 0)["contents"]["value"]
    assert value.split(SEP) == ["```python\nm.f(a) -> int\n```", "doc f", "```python\ng\n```", "doc g",
                                "```python\nv: statement\n```", "```python\nm.w: int w\n```"]


def test_compact_failures(lintora, lsp, monkeypatch, logs):
    patch_script(lintora, monkeypatch, [
        Name(name="bad", type=RuntimeError("type broke")),
        Name(name=None, type="function", sigs=RuntimeError("x")),
        Name(name="", type="keyword", description="kw"),
        Name(name="s", type="statement"),
    ])
    value = lsp.get_hover("x", 1, 0)["contents"]["value"]
    assert value.split(SEP) == ["```python\n(function) \n```", "```python\n(keyword) : kw\n```",
                                "```python\n(statement) s: statement\n```"]
    assert ("DEBUG", "[LSP] Error formatting compact hover: type broke") in logs.lines
    assert ("DEBUG", "[LSP] Hover: found 4 definitions") in logs.lines
    logs.clear()
    patch_script(lintora, monkeypatch, [Name(name="bad", type=RuntimeError("100% broken"))])
    assert lsp.get_hover("x", 1, 0) == {"contents": None, "error": None}
    record = next(r for r in logs.records if "compact hover" in r.getMessage())
    assert record.args == () and record.msg == "[LSP] Error formatting compact hover: 100% broken"


def test_help_parts_and_failure(lintora, lsp, monkeypatch, logs):
    patch_script(lintora, monkeypatch, helped=[
        Name(name="kw", description="keyword", doc="Doc kw"),
        Name(name="plain", doc=""),
        Name(name=None, description="d", doc="orphan doc"),
    ])
    value = lsp.get_hover("x", 1, 0)["contents"]["value"]
    assert value.split(SEP) == ["```python\n(keyword) kw\n```", "Doc kw", "```python\nplain\n```", "orphan doc"]
    patch_script(lintora, monkeypatch, helped=RuntimeError("help broke"))
    logs.clear()
    assert lsp.get_hover("x", 1, 0) == {"contents": None, "error": None}
    assert logs.messages()[-2:] == ["[LSP] help() fallback failed: help broke",
                                    "[LSP] No type information found for hover"]


def test_type_description(lsp):
    assert lsp._get_type_description(Name(description="desc"), "fallback") == "desc"
    assert lsp._get_type_description(Name(description=""), "fallback") == "fallback"
    assert lsp._get_type_description(object(), "fallback") == "fallback"
    with pytest.raises(TypeError, match=r"^Expected str, got int$"):
        lsp._get_type_description(Name(description=5), "fallback")
    with pytest.raises(RuntimeError):
        lsp._get_type_description(Name(description=RuntimeError("boom")), "fallback")


def test_type_description_failure_is_the_request_error(lintora, lsp, monkeypatch):
    lsp.set_hover_mode("detailed")
    patch_script(lintora, monkeypatch, [Name(name="v", full_name="v", type="statement", description=5)])
    assert lsp.get_hover("x", 1, 0) == {"contents": None, "error": "Expected str, got int"}


@pytest.mark.parametrize("line,column,message", [
    (0, 0, "line must be a positive integer (1-based)"),
    (1, -1, "column must be a non-negative integer (0-based)"),
])
def test_bad_position(lsp, logs, line, column, message):
    assert lsp.get_hover("x = 1", line, column) == {"contents": None, "error": message}
    assert logs.lines == [("DEBUG", f"[LSP] Request: get_hover line={line}, column={column}, path=None"),
                          ("ERROR", f"[LSP] Error in get_hover: {message}")]


def test_hover_across_synced_modules(lsp):
    modules = {"mathutil": "def square(x):\n    \"\"\"Square it.\"\"\"\n    return x * x\n"}
    code = "from mathutil import square\nsquare(3)\n"
    lsp.set_hover_mode("detailed")
    value = lsp.get_hover(code, 2, 1, "main", modules)["contents"]["value"]
    assert "mathutil.square(x)" in value and "Square it." in value


def help_block(lsp, code, line, column):
    value = lsp.get_hover(code, line, column)["contents"]["value"]
    block = value.split(SEP)[0]
    assert block.startswith("```python\n(") and block.endswith("\n```")
    return block[len("```python\n"):-len("\n```")]


def test_help_description_is_cut_for_long_statements(lsp):
    loop = "for row in rows:\n    total = row.qty * 2\n" + "    total += 1\n" * 40 + "    print(row)\n"
    text = help_block(lsp, loop, 1, 5)
    description, name = text[1:].rsplit(") ", 1)
    assert name == "row" and description.startswith("for row in rows: total = row.qty * 2")
    assert len(description) == 120 and description.endswith("\u2026")

    call = "value = compute(" + ", ".join(f"argument_{i}" for i in range(20)) + ")\nvalue\n"
    description, name = help_block(lsp, call, 2, 2)[1:].rsplit(") ", 1)
    assert name == "value" and len(description) == 120 and description.endswith("\u2026")
    assert call.startswith(description[:-1])

    # Short descriptions are shown whole.
    assert help_block(lsp, "for x in y: pass\n", 1, 4) == "(for x in y: pass) x"


def test_help_description_keeps_its_first_line(lintora, lsp, monkeypatch):
    patch_script(lintora, monkeypatch, helped=[
        Name(name="a", description="first line\nsecond line"),
        Name(name="b", description="x" * 120),
        Name(name="c", description="y" * 121),
        Name(name="d", description="  \n "),
        Name(name="e", description=42),
    ])
    value = lsp.get_hover("x", 1, 0)["contents"]["value"]
    assert blocks(value) == ["(first line\u2026) a", "(" + "x" * 120 + ") b", "(" + "y" * 119 + "\u2026) c", "d",
                             "(42) e"]
