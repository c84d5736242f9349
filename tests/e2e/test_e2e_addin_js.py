"""The add-in's own unit tests (node --test), so that the suite covers the JavaScript side."""
import os
import subprocess

from devkit.addin_process import find_node, _child_env

ADDIN = os.path.join(os.path.dirname(__file__), "..", "..", "devkit", "addin")


def test_addin_unit_tests_pass():
    proc = subprocess.run([find_node(), "--test", "test/"], cwd=ADDIN, capture_output=True, text=True,
                          timeout=180, env=_child_env())
    assert proc.returncode == 0, proc.stdout[-6000:] + proc.stderr[-2000:]
