"""The playground's editor service without a browser: the kernel's globals, the warm-up, and
requests that a newer one (or the page) gives up on before they run."""
import threading

import pytest

from devkit.playground.editor_service import SUPERSEDED, EditorService


@pytest.fixture(scope="module")
def service():
    s = EditorService()
    yield s
    s.close()


def hold(service, which="_editor"):
    """Keeps an analyser's thread busy until the returned event is set."""
    release = threading.Event()
    started = threading.Event()

    def work(_):
        started.set()
        release.wait(60)

    getattr(service, which).submit("hold", work)
    started.wait(60)
    return release


def test_warm_up_then_the_kernel_globals_are_known(service):
    now, everything = service.warm_up()
    assert service.warm_up() == (now, everything)  # started once
    assert now.result(timeout=600) == {"warm": True, "error": None}
    assert service.submit("warm", {}) is now and service.submit("warm", {"all": True}) is everything
    answer = service.submit("complete", {"code": "Context.workbook.", "line": 1, "column": 17}).result(120)
    assert "worksheets" in [c["label"] for c in answer["completions"]]
    markers = service.submit("diagnostics", {"code": "Context.workbook.worksheetz\n"}).result(120)["diagnostics"]
    assert [m["message"] for m in markers] == [
        "'worksheetz' is not a member of Workbook; did you mean 'worksheets'?"]
    assert everything.result(timeout=600) == {"warm": True, "error": None}


def test_a_newer_request_of_a_kind_supersedes_a_queued_one(service):
    release = hold(service)
    try:
        first = service.submit("complete", {"code": "import os\nos.", "line": 2, "column": 3})
        hover = service.submit("hover", {"code": "x = 1\nx", "line": 2, "column": 0})
        second = service.submit("complete", {"code": "import os\nos.pa", "line": 2, "column": 5})
        assert first.result(1) == SUPERSEDED  # at once, while the thread is still busy
        assert not hover.done() and not second.done()
    finally:
        release.set()
    assert [c["label"] for c in second.result(120)["completions"]][:2] == ["pardir", "path"]
    assert hover.result(120)["contents"]["value"] == "```python\nx: int\n```"


def test_a_cancelled_request_is_not_computed(service):
    release = hold(service)
    try:
        wanted_not = service.submit("complete", {"code": "import os\nos.", "line": 2, "column": 3})
        assert service.cancel(wanted_not) and wanted_not.result(1) == SUPERSEDED
    finally:
        release.set()
    running = service.submit("hover", {"code": "x = 1\nx", "line": 2, "column": 0})
    running.result(120)
    assert not service.cancel(running)  # too late: answered already


def test_diagnostics_and_completions_take_turns_with_jedi(service):
    release = hold(service)
    try:
        markers = service.submit("diagnostics", {"code": "import os\n"})
        assert not markers.done()  # the markers wait for the one request that runs
    finally:
        release.set()
    assert [m["message"] for m in markers.result(120)["diagnostics"]] == ["'os' imported but unused"]


def test_bad_requests_are_refused(service):
    from devkit.playground.editor_service import BadRequest

    with pytest.raises(BadRequest):
        service.submit("hold", {"code": ""})
