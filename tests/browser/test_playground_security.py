"""The playground runs any code it is sent, so only its own page may talk to it: every request
needs this start's token, must be addressed to the server by its own name, and must not come
from another web page. The HTTP and WebSocket checks need no browser; the last test is a foreign
page in Chromium trying its luck with the right token."""
import json
import subprocess
import sys

import pytest

from devkit.playground.browser import ROOT
from playground_client import connect, own, request

RUN = json.dumps({"type": "run", "code": "print('ran')", "modules": {}})
COMPLETE = json.dumps({"code": "import os\nos.", "line": 2, "column": 3})


def test_the_page_and_the_api_answer_with_the_token(playground):
    status, headers, body = request(playground, "GET", own(playground))
    assert status == 200 and "Cellumo playground" in body
    csp = headers["content-security-policy"]
    assert "script-src 'self'" in csp and "worker-src blob:" in csp and "'unsafe-eval'" not in csp
    status, _, body = request(playground, "POST", own(playground, "api/complete"), COMPLETE,
                              {"Origin": playground.origin, "Content-Type": "application/json"})
    assert status == 200 and "getcwd" in body


@pytest.mark.parametrize("path", ["", "api/complete", "vs/loader.js", "static/app.js"])
@pytest.mark.parametrize("token", [None, "wrong"], ids=["no-token", "wrong-token"])
def test_without_the_right_token_everything_is_refused(playground, path, token):
    prefix = "/" if token is None else f"/{playground.token[:-1]}x/"
    method, body = ("POST", COMPLETE) if path.startswith("api") else ("GET", None)
    status, _, text = request(playground, method, prefix + path, body)
    assert status == 403, text
    assert "token" in text


@pytest.mark.parametrize("headers", [
    {"Origin": "http://evil.example"},
    {"Origin": "null"},
    {"Origin": "http://127.0.0.1:1"},  # another server on this machine
    {"Host": "evil.example"},  # a rebound DNS name pointing at 127.0.0.1
    {"Sec-Fetch-Site": "cross-site"},
], ids=["origin", "null-origin", "other-port", "host", "fetch-site"])
def test_requests_from_elsewhere_are_refused_even_with_the_token(playground, headers):
    status, _, text = request(playground, "POST", own(playground, "api/complete"), COMPLETE,
                              {"Content-Type": "application/json", **headers})
    assert status == 403, text


@pytest.mark.parametrize("case", ["no-token", "foreign-origin"])
def test_the_websocket_refuses_the_handshake(playground, case):
    from websockets.exceptions import InvalidStatus

    path, origin = {"no-token": ("/ws", playground.origin),
                    "foreign-origin": (own(playground, "ws"), "http://evil.example")}[case]
    with pytest.raises(InvalidStatus) as refused:
        connect(playground, path, origin)
    assert refused.value.response.status_code == 403


def test_the_websocket_accepts_the_page_itself(playground):
    with connect(playground, own(playground, "ws"), playground.origin) as ws:
        assert json.loads(ws.recv(timeout=30))["type"] == "hello"


def test_a_foreign_page_cannot_reach_the_playground(browser, playground):
    """A page on another origin that knows the token can neither open the WebSocket (which would
    run code) nor read an editor answer (the server refuses it, and the browser would not let the
    page read the answer anyway)."""
    context = browser.new_context()
    try:
        page = context.new_page()
        page.route("http://evil.example/", lambda route: route.fulfill(
            status=200, content_type="text/html", body="<html><body>elsewhere</body></html>"))
        page.goto("http://evil.example/")
        outcome = page.evaluate("""async ([ws, api, run, complete]) => {
            const socket = await new Promise((resolve) => {
                const s = new WebSocket(ws);
                s.onopen = () => { s.send(run); resolve('open'); };
                s.onerror = () => resolve('refused');
            });
            let fetched;
            try {
                const r = await fetch(api, {method: 'POST', body: complete, headers: {'content-type': 'text/plain'}});
                fetched = 'read ' + r.status;
            } catch (err) { fetched = 'blocked'; }
            return [socket, fetched];
        }""", [f"ws://{playground.host}{own(playground, 'ws')}", playground.url + "api/complete", RUN, COMPLETE])
        assert outcome == ["refused", "blocked"]
    finally:
        context.close()


def test_listening_beyond_this_machine_needs_an_explicit_flag():
    proc = subprocess.run([sys.executable, "-m", "devkit", "playground", "--no-browser", "--host", "0.0.0.0"],
                          capture_output=True, text=True, timeout=120, cwd=ROOT)
    assert proc.returncode == 2
    assert "--allow-remote" in proc.stderr and proc.stdout == ""

