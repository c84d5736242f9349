"""Releases: a finalised proxy tells the add-in at once and waits for nothing, on whatever thread it
is finalised (a worker, the listener, the send handler's own frames, on_message, a callback)."""
import gc
import queue
import re
import threading

import pytest

from ostrel_fakes import WAIT, FakeAddin, ok, wire

HEX32 = re.compile(r"^[0-9a-f]{32}$")


@pytest.fixture
def m(ostrel):
    """The module's messaging, whose handler the test sets; proxies release through it."""
    gc.collect()
    yield ostrel.messaging
    ostrel.messaging.set_send_handler(None)
    gc.collect()


def test_a_release_is_sent_once_per_proxy_and_nothing_waits_for_it(ostrel):
    m = ostrel.messaging
    sent = []
    m.set_send_handler(sent.append)  # never answers: a release that waited would hang here
    try:
        a = ostrel.OfficeJsObject(12, "Range")
        b = ostrel.OfficeJsObject(12, "Range")
        del a
        assert m.waiters == {}
        del b
        assert [list(s) for s in sent] == [["method", "name", "caller", "requestId", "kind"]] * 2
        assert [(s["method"], s["name"], s["caller"], s["kind"]) for s in sent] == [
            ("DEL", "__del__", 12, "request")] * 2
        assert all(HEX32.match(s["requestId"]) for s in sent) and sent[0]["requestId"] != sent[1]["requestId"]
        assert m.waiters == {}
        # An answer that comes anyway is dropped like that of any unknown request.
        assert m.on_message({"requestId": sent[0]["requestId"], "ok": True}) is None
    finally:
        m.set_send_handler(None)


def test_send_request_nowait(ostrel):
    m = ostrel.Messaging()
    body = {"method": "DEL", "requestId": "mine", "caller": 3}
    with pytest.raises(RuntimeError, match="^No send handler registered$"):
        m.send_request_nowait(body)
    sent = []
    m.set_send_handler(sent.append)
    assert m.send_request_nowait(body) is None
    assert body == {"method": "DEL", "requestId": "mine", "caller": 3}  # the caller's dict is untouched
    assert list(sent[0]) == ["method", "requestId", "caller", "kind"] and HEX32.match(sent[0]["requestId"])
    assert m.waiters == {}
    with pytest.raises(TypeError, match=r"^Argument 'req' has incorrect type \(expected dict, got list\)$"):
        m.send_request_nowait([])
    assert m.send_request_nowait.__doc__.startswith("send_request_nowait(self, req: Dict[str, Any])\n\n")


def test_release_errors_are_swallowed(ostrel, unraisable, monkeypatch):
    m = ostrel.messaging

    def broken(message):
        raise ConnectionError("gone")

    m.set_send_handler(broken)
    try:
        p = ostrel.OfficeJsObject(5, "Range")
        del p
        monkeypatch.delattr(ostrel, "messaging")
        q = ostrel.OfficeJsObject.__new__(ostrel.OfficeJsObject)
        object.__setattr__(q, "_internal_id", 6)
        del q
    finally:
        m.set_send_handler(None)
    assert unraisable == []


def test_a_replacement_messaging_without_nowait_gets_send_request_sync(ostrel, monkeypatch):
    class Replacement:
        _guid = ostrel.messaging._guid

        def __init__(self):
            self.bodies = []

        def send_request_sync(self, body):
            self.bodies.append(body)
            return {"ok": True}

    fake = Replacement()
    monkeypatch.setattr(ostrel, "messaging", fake)
    ostrel._cw__del__(ostrel.OfficeJsObject(7, "Range"))
    gc.collect()
    assert {"method": "DEL", "name": "__del__", "caller": 7} in fake.bodies


class NonReentrant:
    """A send handler that holds a plain lock while it sends, as a socket writer might: entering it
    again on the same thread would deadlock, so it fails the test instead. Answers synchronously
    unless told otherwise."""

    def __init__(self, messaging, during=None):
        self.messaging = messaging
        self.lock = threading.Lock()
        self.sent = []
        self.during = during  # called while the lock is held, with the message
        self.reentered = False

    def __call__(self, message):
        if not self.lock.acquire(blocking=False):
            self.reentered = True
            raise AssertionError("the send handler was entered twice")
        try:
            self.sent.append(message)
            if self.during is not None:
                self.during(message)
        finally:
            self.lock.release()
        if message.get("method") != "DEL":
            self.messaging.on_message({"requestId": message["requestId"], **ok(wire("Int", len(self.sent)))})

    def methods(self):
        return [(s["method"], s.get("caller")) for s in self.sent]


def test_released_inside_the_send_handler_goes_out_after_it_returns(ostrel, m):
    held = [ostrel.OfficeJsObject(31, "Range"), ostrel.OfficeJsObject(32, "Range")]

    def drop(message):
        if message["method"] == "GET" and held:
            # The handler's own frame drops proxies; one of them is found only by the collector.
            cycle = [held.pop()]
            cycle.append(cycle)
            del cycle
            gc.collect()
            held.pop()

    handler = NonReentrant(m, drop)
    m.set_send_handler(handler)
    assert m.send_request_sync({"method": "GET", "name": "x", "caller": 1}) == {
        "requestId": handler.sent[0]["requestId"], **ok(wire("Int", 1))}
    assert not handler.reentered
    assert handler.methods() == [("GET", 1), ("DEL", 32), ("DEL", 31)]
    assert m.waiters == {}


def test_releases_queued_in_the_handler_are_sent_even_when_it_fails(ostrel, m):
    held = [ostrel.OfficeJsObject(41, "Range")]

    def fail(message):
        if message["method"] == "GET":
            held.clear()
            raise ConnectionError("socket gone")

    handler = NonReentrant(m, fail)
    m.set_send_handler(handler)
    with pytest.raises(ConnectionError):
        m.send_request_sync({"method": "GET", "name": "x", "caller": 1})
    assert handler.methods() == [("GET", 1), ("DEL", 41)]
    assert m.waiters == {}


def test_a_release_inside_a_release_is_not_recursive(ostrel, m):
    # Each release's send drops another proxy: they go out one after the other, not nested.
    chain = [ostrel.OfficeJsObject(100 + i, "Range") for i in range(2000)]

    def next_one(message):
        if chain:
            chain.pop()

    handler = NonReentrant(m, next_one)
    m.set_send_handler(handler)
    m.send_request_nowait({"method": "DEL", "name": "__del__", "caller": 99})
    assert not handler.reentered
    assert [c for _, c in handler.methods()] == [99] + list(range(2099, 2099 - 2000, -1))


class Listener:
    """A kernel's listener thread over a queue: answers requests, and may run Python code of the
    kernel's (a callable the add-in invokes) before the answer."""

    def __init__(self, messaging, before_answer=None):
        self.messaging = messaging
        self.requests = queue.Queue()
        self.seen = []
        self.before_answer = before_answer
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while True:
            message = self.requests.get()
            if message is None:
                return
            self.seen.append(message["method"])
            if self.before_answer is not None:
                self.before_answer(message)
            if message["method"] != "DEL":
                self.messaging.on_message({"requestId": message["requestId"], **ok(wire("Null", None))})

    def close(self):
        self.requests.put(None)
        self.thread.join(WAIT)


def test_released_on_the_listener_thread_does_not_wait_for_the_listener(ostrel):
    # The listener runs a callback that drops the last reference to a proxy: its release is sent
    # from the listener itself, which must not wait for an answer only it could deliver.
    m = ostrel.messaging
    holder = [ostrel.OfficeJsObject(41, "Range")]

    def run_callback(message):
        if message["method"] == "CALL":
            m.get_callable(message["args"][0]["value"]["value"])()

    listener = Listener(m, run_callback)
    m.set_send_handler(listener.requests.put)
    try:
        assert m.send_request_sync({"method": "GET", "name": "warm", "caller": 1}, timeout=WAIT)["ok"]
        assert ostrel.GetSetting(lambda: holder.clear()) is None
        assert ostrel.Excel.after is None  # the listener still serves
    finally:
        listener.close()
        m.set_send_handler(None)
    assert listener.seen[:4] == ["GET", "CALL", "DEL", "GET"]
    assert m.waiters == {}


def test_released_inside_on_message(ostrel, m):
    # Code that runs inside on_message (here the hash of an odd request id) drops a proxy.
    sent = []
    m.set_send_handler(sent.append)
    held = [ostrel.OfficeJsObject(51, "Range")]

    class OddId:
        def __hash__(self):
            held.clear()
            return 1

        def __eq__(self, other):
            return False

    m.waiters["pending"] = None  # a stored id, so that the odd one is hashed and compared
    try:
        assert m.on_message({"requestId": OddId(), "ok": True}) is None
        assert m.waiters == {"pending": None}
    finally:
        m.waiters.clear()
    assert [(s["method"], s["caller"]) for s in sent] == [("DEL", 51)]


def test_proxies_dropped_on_many_threads_at_once(ostrel):
    m = ostrel.messaging
    addin = FakeAddin(m)
    m.set_send_handler(addin)
    try:
        def work(base):
            for i in range(200):
                ostrel.OfficeJsObject(base + i, "Range")

        threads = [threading.Thread(target=work, args=(1000 * t,)) for t in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(WAIT)
    finally:
        m.set_send_handler(None)
    callers = sorted(b["caller"] for b in addin.bodies("DEL"))
    assert callers == sorted(1000 * t + i for t in range(4) for i in range(200))
    assert m.waiters == {}
