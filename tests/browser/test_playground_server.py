"""The playground's server without a browser: what it refuses to do with a request, and how it
bounds what a script sends to the page."""
import json

import pytest

from playground_client import connect, own, request


def test_editor_requests_with_bad_fields_get_a_clear_answer(playground):
    def post(body):
        return request(playground, "POST", own(playground, "api/hover"), json.dumps(body),
                       {"Origin": playground.origin, "Content-Type": "application/json"})

    status, _, text = post({"code": "x", "line": 1, "column": 0, "modules": {"../outside": "x = 1"}})
    assert status == 400 and "module names" in json.loads(text)["error"]
    status, _, text = post({"code": "x", "line": "1", "column": 0})
    assert status == 400 and "'line'" in json.loads(text)["error"]
    status, _, text = request(playground, "POST", own(playground, "api/format"), "{}", {"Origin": playground.origin})
    assert status == 400 and "unknown editor request" in json.loads(text)["error"]
    status, _, text = post({"code": "import os\nos.path", "line": 2, "column": 5})
    assert status == 200 and json.loads(text)["error"] is None


def _until(ws, kind):
    """The messages up to and including the first of type `kind`."""
    got = []
    while not got or got[-1]["type"] != kind:
        got.append(json.loads(ws.recv(timeout=60)))
    return got


@pytest.mark.parametrize("name", ["json", "main", "../x"])
def test_a_module_tab_may_not_hide_another_module(playground, name):
    with connect(playground, own(playground, "ws"), playground.origin) as ws:
        ws.send(json.dumps({"type": "run", "code": "print(1)", "modules": {name: "x = 1"}}))
        refused = _until(ws, "refused")[-1]
        assert name in refused["text"]


def test_a_runaway_script_output_is_cut(playground):
    from devkit.playground.hub import MESSAGE_LIMIT, OUTPUT_LIMIT

    with connect(playground, own(playground, "ws"), playground.origin) as ws:
        ws.send(json.dumps({"type": "run", "code": "for i in range(3000):\n    print('x' * 999)\n",
                            "modules": {}}))
        messages = _until(ws, "run-end")
    output = "".join(m["text"] for m in messages if m["type"] == "output")
    errors = "".join(m["text"] for m in messages if m["type"] == "error")
    assert len(output) <= OUTPUT_LIMIT and output.startswith("x" * 999 + "\n")
    assert "output cut" in errors
    # Merged while waiting, into messages of bounded size: far fewer messages than prints.
    sizes = [len(m["text"]) for m in messages if m["type"] == "output"]
    assert len(sizes) < 300 and max(sizes) < MESSAGE_LIMIT + 1000
    assert messages[-1]["ok"] is True
