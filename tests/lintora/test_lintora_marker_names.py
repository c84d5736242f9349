"""Pyflakes markers cover the name their message is about, where it stands on the line."""
import pytest


def ranges(lsp, code):
    return [(d["message"], d["startLineNumber"], d["startColumn"], d["endColumn"])
            for d in lsp.get_diagnostics(code)["diagnostics"] if d["severity"] == 4]


@pytest.mark.parametrize("code,expected", [
    ("import os\n", [("'os' imported but unused", 1, 8, 10)]),
    ("import os.path\n", [("'os.path' imported but unused", 1, 8, 15)]),
    ("import numpy as np\n", [("'numpy as np' imported but unused", 1, 17, 19)]),
    # The from-import's name, never the same word inside the module path.
    ("from os import path, sep\n", [("'os.path' imported but unused", 1, 16, 20),
                                    ("'os.sep' imported but unused", 1, 22, 25)]),
    ("from os.path import join as path\n", [("'os.path.join as path' imported but unused", 1, 29, 33)]),
    ("if True:\n    import json\n", [("'json' imported but unused", 2, 12, 16)]),
    ("print(undefined_name)\n", [("undefined name 'undefined_name'", 1, 7, 21)]),
    ("x = undefined_name.attr\n", [("undefined name 'undefined_name'", 1, 5, 19)]),
    ("def f():\n    total = 1\n", [("local variable 'total' is assigned to but never used", 2, 5, 10)]),
    ("import sys\nimport sys\nsys\n", [("redefinition of unused 'sys' from line 1", 2, 8, 11)]),
    ("def f(): pass\ndef f(): pass\n", [("redefinition of unused 'f' from line 1", 2, 5, 6)]),
    # Not on the statement's line: today's range stays (the statement's start, as wide as the quote).
    ("from os import (\n    path)\n", [("'os.path' imported but unused", 1, 1, 8)]),
])
def test_marker_covers_the_name(lsp, code, expected):
    assert ranges(lsp, code) == expected


def test_parse_keeps_its_own_result(lsp):
    # The single-message parser still measures only a leading quoted name; the narrowing happens
    # where the buffer's markers are gathered.
    diag = lsp._parse_pyflakes_message("<editor>:1:1: 'os' imported but unused", 4)
    assert (diag["startColumn"], diag["endColumn"]) == (1, 3)
