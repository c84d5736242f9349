"""Hostile editor input: garbage buffers, huge and deeply nested ones, odd identifiers, positions
out of range, module names that try to leave the module directory, modules importing each other
in cycles. Every request must come back in its result shape (with `error` set where it failed),
raise nothing beyond the argument rule, and write nowhere but its own directory."""
import os
import random
import tempfile

import pytest
from hypothesis import given, settings, strategies as st

from attack_support import ATTACK_SETTINGS, FULL, count, size

SHAPES = {
    "get_completions": ["completions", "error"],
    "get_hover": ["contents", "error"],
    "get_signature_help": ["signatures", "activeSignature", "activeParameter", "error"],
}
MARKER = ["startLineNumber", "startColumn", "endLineNumber", "endColumn", "message", "severity"]


@pytest.fixture(scope="module")
def sandbox():
    """Temporary directories of the editor go to a private place, so that anything written
    beside them shows."""
    root = tempfile.mkdtemp(prefix="cellumo-attack-")
    saved = tempfile.tempdir
    tempfile.tempdir = root
    try:
        yield root
    finally:
        tempfile.tempdir = saved


@pytest.fixture(scope="module")
def lsp(sandbox):
    from cellumo_master.python_server import lintora
    instance = lintora.Lintora()
    assert os.path.dirname(instance._temp_dir.name) == sandbox
    yield instance
    # after every suite here, random buffers included: still nothing written outside
    assert_alone(sandbox, instance)
    instance.cleanup()


def check_result(method, result):
    count("editor", "requests")
    if method == "get_diagnostics":
        assert list(result) == ["diagnostics", "error"]
        for marker in result["diagnostics"]:
            assert list(marker) == MARKER
            assert all(type(marker[k]) is int for k in MARKER if k != "message")
    else:
        assert list(result) == SHAPES[method]
    assert result["error"] is None or type(result["error"]) is str
    if result["error"] is not None:
        count("editor", "errors")


def ask_everything(lsp, code, line, column, path=None, modules=None, dirty=None):
    for method in SHAPES:
        try:
            result = getattr(lsp, method)(code, line, column, path, modules, dirty)
        except (ValueError, OverflowError) as e:
            # only the argument conversion of line/column may raise, as int() would
            assert "int" in str(e) or "convert" in str(e) or "float" in str(e), e
            continue
        check_result(method, result)
    check_result("get_diagnostics", lsp.get_diagnostics(code, path if path else None))


def assert_alone(sandbox, lsp):
    """Nothing but the instance's own directory under the sandbox, and in it only flat .py files."""
    assert os.listdir(sandbox) == [os.path.basename(lsp._temp_dir.name)]
    for entry in os.scandir(lsp._temp_dir.name):
        assert entry.is_file() and entry.name.endswith(".py"), entry.name


def _noise(encoding, errors="replace"):
    return lambda: random.Random(11).randbytes(2000).decode(encoding, errors)


_N = size(1_000, 20_000)
# The hostile buffers by scenario, each built when its test runs.
BUFFERS = {
    "latin-1 noise": _noise("latin-1"),
    "utf-16 noise": _noise("utf-16-le"),
    "cp1252 noise": _noise("cp1252"),
    "lone surrogates": _noise("utf-8", "surrogateescape"),
    "nul characters": lambda: "x = 1\0\0 + y\n\0def f(:\n",
    "bom and carriage returns": lambda: "\ufeffimport os\r\nos.\r",
    # NFKC-equal and combining identifiers
    "odd identifiers": lambda: "ｘ = 1\nx.\n℘ = 2\nℌ = 3\nＡ. \nＡ\u0301b = 1\nÅ",
    "unclosed call of 5000 arguments": lambda: "def f(a, b):\n    pass\nf(" + "a, " * 5000,
    "3000 tabs": lambda: "\t" * 3000 + "x",
    "unclosed triple-quoted string": lambda: "'''" + "x" * 100_000,
    "150 nested parentheses": lambda: "(" * 150 + ")" * 150,
    "300 nested parentheses": lambda: "(" * 300 + ")" * 300,
    "nested lists": lambda: "[" * _N + "]" * _N,
    "unary minus chain": lambda: "-" * _N + "1",
    "attribute chain": lambda: "x" + ".y" * _N,
    "long sum": lambda: "+".join(["1"] * _N),
    "nested calls": lambda: "f(" * 90 + ")" * 90,
    "nested lambdas": lambda: "lambda: " * _N + "0",
    "not chain": lambda: "not " * _N + "x",
    "100 nested ifs": lambda: ("if x:\n" + "".join(" " * (i + 1) + "if x:\n" for i in range(99))
                               + " " * 100 + "pass\n"),
    "huge dict literal": lambda: "a = {" + ", ".join(f"'{i}': [{i}]" for i in range(_N)) + "}\na.",
}


@pytest.mark.parametrize("name", BUFFERS)
def test_garbage_and_deep_buffers(lsp, sandbox, name):
    code = BUFFERS[name]()
    lines = code.split("\n")
    for line, column in [(1, 0), (len(lines), len(lines[-1])), (max(1, len(lines) // 2), 3)]:
        ask_everything(lsp, code, line, column)
    assert_alone(sandbox, lsp)


def test_huge_buffers(lsp, sandbox):
    count = size(2_000, 100_000)
    big = "".join(f"def f{i}(a, b=1):\n    return a + b  # {i}\n" for i in range(count // 2)) + "f1(\nf"
    ask_everything(lsp, big, count + 1, 1)
    # completing at the end of a very long line costs jedi time quadratic in its length
    long_line = "x = [" + ", ".join(str(i) for i in range(size(5_000, 20_000))) + "]\nx."
    ask_everything(lsp, long_line, 2, 2)
    ask_everything(lsp, long_line, 1, len(long_line.split("\n")[0]))


@pytest.mark.parametrize("line, column", [
    (0, 0), (-1, 0), (1, -1), (10**6, 0), (1, 10**6), (2**63, 0), (10**40, 10**40), (-(10**40), 5),
    (True, False), (1.9, 2.7), (float("inf"), 0), (float("nan"), 0)])
def test_positions_out_of_range(lsp, line, column):
    ask_everything(lsp, "import os\nos.path.join(\n", line, column)


def test_module_names_that_try_to_leave_the_directory(lsp, sandbox):
    canary = tempfile.mkdtemp(prefix="canary-", dir=os.path.dirname(sandbox))
    outside = os.path.join(canary, "victim")
    with open(outside + ".py", "w") as f:
        f.write("keep = 1\n")
    names = ["../escape", "../../escape", "..", ".", "", "a/b", "a\\b", "/tmp/escape", outside,
             "sub/../../escape", "x\0y", "..\\escape", "…/escape", "..." , "a" * 5000,
             os.path.relpath(outside, lsp._temp_dir.name), "~/escape", "$HOME/escape", "con", "nul"]
    lsp.sync_modules({name: "x = 1\n" for name in names}, {name: "y = 2\n" for name in names[:5]})
    for name in names:
        lsp.delete_module(name)
        for method in SHAPES:
            check_result(method, getattr(lsp, method)("import escape\nescape.", 2, 7, name, {name: "z = 3"}))
    assert open(outside + ".py").read() == "keep = 1\n"
    assert os.listdir(canary) == ["victim.py"]
    assert not os.path.exists(os.path.join(os.path.dirname(sandbox), "escape.py"))
    assert_alone(sandbox, lsp)
    for name in os.listdir(lsp._temp_dir.name):
        lsp.delete_module(name[:-3])
    assert os.listdir(lsp._temp_dir.name) == []


def test_modules_importing_each_other_in_cycles(lsp, sandbox):
    modules = {
        "cyc_a": "from cyc_b import *\nimport cyc_a\nclass A(B):\n    pass\n",
        "cyc_b": "from cyc_c import *\nclass B(C):\n    pass\n",
        "cyc_c": "from cyc_a import *\nclass C(A):\n    '''doc'''\n    def m(self, x): return x\n",
        "cyc_self": "from cyc_self import *\nfrom cyc_self import cyc_self\nimport cyc_self as cyc_self\nx = cyc_self.x\n",
    }
    code = "import cyc_a, cyc_self\ncyc_a.A().m(\ncyc_self.x.\ncyc_a.A().m"
    for path in (None, "cyc_a", "cyc_c", "cyc_self"):
        for line, column in [(2, 12), (3, 11), (4, 10), (4, 12)]:
            ask_everything(lsp, code, line, column, path, modules)
    for name in modules:
        diag = lsp.get_diagnostics(modules[name], name)
        check_result("get_diagnostics", diag)
    assert_alone(sandbox, lsp)


@settings(ATTACK_SETTINGS, max_examples=ATTACK_SETTINGS.max_examples // (4 if FULL else 20))
@given(code=st.lists(st.sampled_from(list("abcxyz_ ()[]{}.,:=+-*/'\"#\\\n\t\0λ€𝔘\ud800") +
                                     ["import ", "from ", "def ", "class ", "lambda ", "os.", "yield "]),
                    max_size=120).map("".join),
       line=st.integers(-3, 12), column=st.integers(-3, 40),
       path=st.one_of(st.none(), st.sampled_from(["mod", "<editor>", "../x", "a.b", "λ", ""])))
def test_random_buffers(lsp, code, line, column, path):
    ask_everything(lsp, code, line, column, path, {"mod": code} if path == "mod" else None)
