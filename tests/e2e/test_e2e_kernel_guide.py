"""The integrator's guide (docs/KERNEL.md) cannot rot: its example kernel runs here, in a fresh
interpreter, against the stand-in add-in."""
import re
from pathlib import Path

from e2e_support import ROOT

GUIDE = Path(ROOT) / "docs" / "KERNEL.md"


def example_kernel():
    text = GUIDE.read_text(encoding="utf-8")
    found = re.search(r"<!-- example-kernel -->\n```python\n(.*?)\n```", text, re.S)
    assert found, "docs/KERNEL.md lost its example kernel"
    return found.group(1)


def test_the_guides_example_kernel_runs(run_python):
    code = example_kernel()
    assert 30 <= len(code.splitlines()) <= 70
    proc = run_python(f"import sys\nsys.path.insert(0, {ROOT!r})\n" + code, timeout=120)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == "6\n"
    assert proc.stderr == ""


def test_the_readme_links_to_the_guide():
    assert "docs/KERNEL.md" in (Path(ROOT) / "README.md").read_text(encoding="utf-8")
