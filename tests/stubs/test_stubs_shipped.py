"""The stubs ship beside the built modules, match a fresh generation from the pinned Office.js
definitions, and agree with the modules at run time (mypy's stubtest)."""
import filecmp
import os
import shutil
import subprocess
import sys

import pytest

from cellumo_master.python_server import lintora
from cellumo_master.python_server.cellumo import ostrel

from conftest import PACKAGE_DIR, STUBS_DIR

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
GENERATOR = os.path.join(ROOT, "tools", "officejs_stubs", "generate.js")
COMMITTED = os.path.join(ROOT, "python", "cellumo_master", "python_server", "cellumo", "_officejs")
MANIFEST = os.path.join(ROOT, "tools", "officejs_stubs", "manifest.json")


def test_the_package_carries_its_stubs_beside_the_modules():
    assert os.path.isfile(os.path.join(os.path.dirname(ostrel.__file__), "ostrel.pyi"))
    assert os.path.isfile(os.path.join(os.path.dirname(lintora.__file__), "lintora.pyi"))
    package_root = os.path.dirname(os.path.dirname(os.path.dirname(PACKAGE_DIR)))
    assert os.path.isfile(os.path.join(package_root, "cellumo_master", "py.typed"))
    shipped = sorted(os.listdir(STUBS_DIR))
    assert "excel.pyi" in shipped and "_functions.pyi" in shipped
    assert sorted(n for n in os.listdir(COMMITTED) if n.endswith(".pyi")) == [n for n in shipped if n.endswith(".pyi")]
    size = sum(os.path.getsize(os.path.join(STUBS_DIR, n)) for n in shipped if n.endswith(".pyi"))
    largest = max(os.path.getsize(os.path.join(STUBS_DIR, n)) for n in shipped if n.endswith(".pyi"))
    # Small enough to commit and to ship, and no module so large that jedi's scans of it get slow
    # (the largest chunk is the one that holds the Functions class, with a method per worksheet
    # function).
    assert size < 4_000_000 and largest < 300_000, (size, largest)


def test_the_committed_stubs_match_a_fresh_generation(tmp_path):
    node = shutil.which("node")
    if node is None:
        pytest.skip("Node.js is not installed; CI regenerates the stubs where it is")
    if not os.path.isdir(os.path.join(ROOT, "node_modules", "typescript")):
        pytest.skip("the pinned npm packages are not installed (make npm-deps)")
    proc = subprocess.run([node, GENERATOR, str(tmp_path), str(tmp_path / "manifest.json")], capture_output=True,
                          text=True, timeout=600)
    assert proc.returncode == 0, proc.stderr
    fresh = tmp_path / "_officejs"
    compared = filecmp.dircmp(str(fresh), COMMITTED)
    differing = compared.diff_files + compared.left_only + [n for n in compared.right_only if n.endswith(".pyi")]
    differing += [n for n in compared.common_files if not filecmp.cmp(fresh / n, os.path.join(COMMITTED, n), shallow=False)]
    assert not sorted(set(differing)), (
        f"the generated stubs differ from the committed ones: {sorted(set(differing))}; run "
        "node tools/officejs_stubs/generate.js and commit the result")
    assert filecmp.cmp(tmp_path / "manifest.json", MANIFEST, shallow=False), "manifest.json is out of date"


def test_stubtest_finds_the_stubs_faithful_to_the_modules(tmp_path):
    # Run where the package is importable, so that mypy reads the stubs that ship.
    where = os.path.dirname(os.path.dirname(os.path.dirname(PACKAGE_DIR)))
    env = dict(os.environ, MYPY_CACHE_DIR=str(tmp_path / "mypy-cache"))
    proc = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "stubtest", "run.py")], cwd=where,
                          capture_output=True, text=True, timeout=600, env=env)
    assert proc.returncode == 0, proc.stdout[-6000:] + proc.stderr[-3000:]
    assert "Success: no issues found in 2 modules" in proc.stdout
