"""The manylinux wheel that `make wheel` builds, checked as a user would meet it: it holds the
whole package, and it installs into a fresh virtual environment with no compiler on PATH (so
nothing can be built from source) and imports and works there. `make wheel-test` builds the
wheel and runs this; elsewhere it is skipped."""
import os
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

from test_packaging_layout import package_files

WHEEL = os.environ.get("CELLUMO_WHEEL")
pytestmark = pytest.mark.skipif(not WHEEL, reason="make wheel-test builds the wheel and runs this")

EXTENSIONS = ["cellumo_master/python_server/cellumo/ostrel.", "cellumo_master/python_server/lintora."]

SMOKE = """
import pathlib, sys
import cellumo_master.python_server.cellumo.ostrel as ostrel
import cellumo_master.python_server.lintora as lintora
site = pathlib.Path(sys.prefix)
for module in (ostrel, lintora):
    assert site in pathlib.Path(module.__file__).parents, module.__file__
assert ostrel.Serializer.from_wire(ostrel.Serializer.to_wire(["a", 1.5])["value"][0]) == "a"
lsp = lintora.Lintora()
try:
    names = [c["label"] for c in lsp.get_completions("import os\\nos.pa", 2, 5)["completions"]]
    assert "path" in names, names
    assert lsp.get_diagnostics("import os\\n", None)["diagnostics"][0]["severity"] == 4
finally:
    lsp.cleanup()
print("ok")
"""


def test_wheel_is_manylinux_and_holds_the_whole_package():
    name = Path(WHEEL).name
    assert "-cp313-cp313-manylinux" in name, name
    with zipfile.ZipFile(WHEEL) as wheel:
        names = wheel.namelist()
    for path in package_files():
        assert path in names, f"{path} is missing from the wheel"
    for prefix in EXTENSIONS:
        assert sum(n.startswith(prefix) and n.endswith(".so") for n in names) == 1, prefix
    # the benchmark floor is built for `make bench` only
    assert not [n for n in names if n.startswith("_bench")]


@pytest.mark.timeout(1200)
def test_installs_and_works_in_a_fresh_venv_without_a_compiler(tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([sys._base_executable, "-m", "venv", str(venv)], check=True)
    bin_dir = venv / "bin"
    for compiler in ("cc", "gcc", "g++", "c++", "clang", "cmake"):
        assert not (bin_dir / compiler).exists()
    # Only the fresh venv on PATH, and compiler variables that fail: any source build would fail.
    env = {"PATH": str(bin_dir), "HOME": os.environ.get("HOME", str(tmp_path)), "CC": "false",
           "CXX": "false", "PIP_DISABLE_PIP_VERSION_CHECK": "1"}
    python = str(bin_dir / "python")
    subprocess.run([python, "-m", "pip", "install", "-q", "--only-binary", ":all:", WHEEL],
                   check=True, env=env, cwd=tmp_path)
    proc = subprocess.run([python, "-I", "-c", SMOKE], env=env, cwd=tmp_path, capture_output=True,
                          text=True, timeout=600)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == "ok"
