"""The kernel harness warms the editor services once per process, off the start-up path."""
import os
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
if ROOT not in sys.path:
    sys.path.insert(0, ROOT)

from devkit import editor  # noqa: E402


def test_warm_up_runs_once_per_process_and_parses_the_namespace():
    first = editor.start_editor_warm_up()
    assert editor.start_editor_warm_up() is first
    first.join(timeout=280)
    assert not first.is_alive()
    editor.wait_for_editor_warm_up()
    result = editor.warm_up_editor_services()
    assert result["error"] is None
    assert {"run", "Range", "HorizontalAlignment"} <= {item["label"] for item in result["completions"]}
