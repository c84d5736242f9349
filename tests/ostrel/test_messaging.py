"""Request messaging as the kernel drives it: the send handler, responses through on_message from
the same or a listener thread, timeouts, reset while workers wait, and the callable registry."""
import concurrent.futures
import gc
import re
import threading
import uuid

import pytest

from ostrel_fakes import WAIT, FakeAddin, ok, wire


@pytest.fixture
def m(ostrel):
    """A private Messaging instance with a fake add-in answering synchronously."""
    messaging = ostrel.Messaging()
    fake = FakeAddin(messaging)
    messaging.set_send_handler(fake)
    messaging.fake = fake
    yield messaging
    fake.stop()
    # reset stamps the module's root proxies with its own instance's id: give them back the
    # module messaging's.
    ostrel.messaging.reset()


def run_in_thread(fn, *args):
    """Runs fn on a worker thread; returns a future for its outcome."""
    outcome = concurrent.futures.Future()

    def body():
        try:
            outcome.set_result(fn(*args))
        except BaseException as e:  # noqa: BLE001 - handed to the test
            outcome.set_exception(e)

    threading.Thread(target=body, daemon=True).start()
    return outcome


def wait_until(predicate):
    deadline = threading.Event()
    for _ in range(int(WAIT / 0.005)):
        if predicate():
            return
        deadline.wait(0.005)
    raise AssertionError("condition not reached")


def test_no_handler(ostrel):
    m = ostrel.Messaging()
    with pytest.raises(RuntimeError, match="^No send handler registered$"):
        m.send_request_sync({"method": "GET"})
    assert m.waiters == {}
    m.set_send_handler(0)  # falsy counts as none
    with pytest.raises(RuntimeError, match="^No send handler registered$"):
        m.send_request_sync({})


def test_request_message_envelope(m):
    req = {"method": "GET", "kind": "mine", "name": "x"}
    first = m.send_request_sync(req)
    second = m.send_request_sync(req)
    assert req == {"method": "GET", "kind": "mine", "name": "x"}
    sent = m.fake.sent
    assert sent[0] is not req
    assert list(sent[0]) == ["method", "kind", "name", "requestId"]
    assert sent[0]["kind"] == "request"
    ids = [s["requestId"] for s in sent]
    assert ids[0] != ids[1]
    assert all(re.fullmatch("[0-9a-f]{32}", i) for i in ids)
    assert first["requestId"] == ids[0] and second["ok"] is True
    assert list(m.send_request_sync({"a": 1})) == ["requestId", "ok", "result"]
    assert list(m.fake.sent[-1]) == ["a", "requestId", "kind"]


def test_ids_are_random_version_4_uuids(m):
    for _ in range(200):
        m.send_request_sync({})
    m.reset()
    ids = [s["requestId"] for s in m.fake.sent] + [m._guid]
    assert len(set(ids)) == len(ids)
    for i in ids:
        u = uuid.UUID(hex=i)
        assert u.hex == i and u.version == 4 and u.variant == uuid.RFC_4122
    # Every bit outside the version and variant fields varies across the draws.
    fixed = ~((0xF << 76) | (0x3 << 62)) & ((1 << 128) - 1)
    ones = zeros = 0
    for i in ids:
        ones |= int(i, 16)
        zeros |= ~int(i, 16)
    assert ones & fixed == fixed and zeros & fixed == fixed


def test_synchronous_answer_returns_the_identical_response_even_with_zero_timeout(m):
    given = []

    def handler(message):
        response = {"requestId": message["requestId"], "ok": 1, "extra": [1]}
        given.append(response)
        assert m.on_message(response) is None

    m.set_send_handler(handler)
    assert m.send_request_sync({}, 0) is given[0]
    assert m.send_request_sync({}, timeout=0) is given[1]
    assert m.waiters == {}


@pytest.mark.parametrize("error,text", [
    (None, "Remote error"),
    ({}, "Remote error"),
    ({"message": "bad range"}, "bad range"),
    ({"message": "bad", "code": 3}, "bad"),
])
def test_failed_responses(m, error, text):
    def respond(message):
        response = {"ok": False}
        if error is not None:
            response["error"] = error
        return response

    m.fake.respond = respond
    with pytest.raises(RuntimeError) as info:
        m.send_request_sync({}, timeout=WAIT)
    assert str(info.value) == text and type(info.value) is RuntimeError
    assert m.waiters == {}


@pytest.mark.parametrize("error,text", [
    ("it broke", "it broke"),
    ("", "Remote error"),
    (None, "Remote error"),
    (42, "Remote error"),
    (["x"], "Remote error"),
])
def test_failed_response_with_an_error_that_is_no_mapping_fails_at_once(m, error, text):
    # The sender must not sit out its timeout, and the listener must not blow up.
    results = []
    m.fake.respond = lambda message: {"ok": False, "error": error}
    real = m.on_message
    m.on_message = lambda response: results.append(real(response))
    m.fake.listener()
    with pytest.raises(RuntimeError) as info:
        m.send_request_sync({}, timeout=WAIT)
    assert str(info.value) == text
    assert results == [None]


def test_ignored_responses(m):
    assert m.on_message({}) is None
    assert m.on_message({"requestId": ""}) is None
    assert m.on_message({"requestId": None, "ok": True}) is None
    assert m.on_message({"requestId": "f" * 32, "ok": True}) is None
    done = concurrent.futures.Future()
    done.set_result("first")
    m.waiters["x"] = done
    assert m.on_message({"requestId": "x", "ok": True}) is None
    assert done.result() == "first" and m.waiters == {}


def test_timeout(m):
    m.fake.respond = lambda message: None
    with pytest.raises(TimeoutError) as info:
        m.send_request_sync({}, timeout=0.01)
    assert type(info.value) is TimeoutError
    assert str(info.value) == "Timed out waiting for Office.js response"
    assert isinstance(info.value.__context__, TimeoutError)
    assert m.waiters == {}
    # The late response is dropped without a word.
    assert m.on_message({"requestId": m.fake.sent[0]["requestId"], "ok": True}) is None


def test_errors_of_the_wait_begin_at_the_caller(ostrel, m):
    """Remote errors, time-outs and cancellations carry no frames of the futures machinery, and the
    remote error is the very object that was set on the request's future."""
    import traceback

    def outside_frames(exc):
        return [f.filename for f in traceback.extract_tb(exc.__traceback__) if "concurrent" in f.filename]

    set_on_future = []

    def fail_it(message):
        future = m.waiters[message["requestId"]]
        set_on_future.append(RuntimeError("refused"))
        future.set_exception(set_on_future[-1])

    m.set_send_handler(fail_it)
    try:
        raise KeyError("being handled")
    except KeyError as handled:
        with pytest.raises(RuntimeError) as info:
            m.send_request_sync({"method": "CALL"})
        assert info.value is set_on_future[0] and info.value.__context__ is handled
    assert outside_frames(info.value) == []

    m.set_send_handler(m.fake)
    m.fake.respond = lambda message: None
    with pytest.raises(TimeoutError) as info:
        m.send_request_sync({}, timeout=0.01)
    assert outside_frames(info.value) == [] and outside_frames(info.value.__context__) == []
    assert "concurrent" not in "".join(traceback.format_exception(info.value))

    def wait_and_look():
        try:
            m.send_request_sync({}, WAIT)
        except concurrent.futures.CancelledError as exc:
            return outside_frames(exc)

    waiting = run_in_thread(wait_and_look)
    wait_until(lambda: len(m.waiters) == 1)
    m.reset()
    assert waiting.result(WAIT) == []

    # A send handler's own error keeps the handler's frames.
    def failing(message):
        raise LookupError("socket gone")

    m.set_send_handler(failing)
    with pytest.raises(LookupError) as info:
        m.send_request_sync({})
    assert [f.name for f in traceback.extract_tb(info.value.__traceback__)][-1] == "failing"


def test_handler_errors(m):
    def failing(message):
        raise LookupError("socket gone")

    m.set_send_handler(failing)
    with pytest.raises(LookupError, match="socket gone"):
        m.send_request_sync({})
    assert m.waiters == {}

    def timing_out(message):
        raise TimeoutError("handler timeout")

    m.set_send_handler(timing_out)
    with pytest.raises(TimeoutError, match="^Timed out waiting for Office.js response$"):
        m.send_request_sync({})
    assert m.waiters == {}


def test_arguments(m):
    with pytest.raises(TypeError, match=r"^Argument 'req' has incorrect type \(expected dict, got NoneType\)$"):
        m.send_request_sync(None)
    with pytest.raises(TypeError):
        m.send_request_sync({}, None)
    with pytest.raises(TypeError):
        m.send_request_sync({}, "1")
    with pytest.raises(TypeError, match=r"^send_request_sync\(\) takes at most 3 positional arguments \(4 given\)$"):
        m.send_request_sync({}, 1, 2)
    with pytest.raises(TypeError, match=r"^send_request_sync\(\) takes at least 2 positional arguments \(1 given\)$"):
        m.send_request_sync()
    with pytest.raises(TypeError, match=r"^on_message\(\) takes exactly 2 positional arguments \(1 given\)$"):
        m.on_message()
    with pytest.raises(TypeError, match=r"^Argument 'message' has incorrect type"):
        m.on_message([])
    with pytest.raises(TypeError, match=r"^reset\(\) takes exactly 1 positional argument \(2 given\)$"):
        m.reset(1)
    assert m.fake.sent == []
    assert m.send_request_sync(req={}, timeout=True)["ok"] is True  # any real number


def test_reset_cancels_waiting_workers(ostrel, m):
    m.fake.respond = lambda message: None
    old_guid = m._guid
    waiting = [run_in_thread(m.send_request_sync, {"n": i}, WAIT) for i in range(3)]
    wait_until(lambda: len(m.waiters) == 3)
    m.reset()
    for w in waiting:
        with pytest.raises(concurrent.futures.CancelledError):
            w.result(WAIT)
    assert m.waiters == {}
    assert m._guid != old_guid and re.fullmatch("[0-9a-f]{32}", m._guid)
    assert m.register_callable(print) == f"pyfunc_{m._guid[:8]}_1"
    assert m._send_handler is m.fake  # the handler stays


def test_reset_restamps_all_root_proxies(ostrel, addin, monkeypatch):
    old = ostrel.Excel._msg_guid
    ostrel.messaging.reset()
    new = ostrel.messaging._guid
    assert new != old
    for root in (ostrel.Context, ostrel.Excel, ostrel.GetSetting):
        assert root._msg_guid == new
    addin.respond = lambda message: ok(wire("Int", 1))
    assert ostrel.GetSetting("x") == 1 and ostrel.Excel.foo == 1 and ostrel.Context.bar == 1
    assert [b["method"] for b in addin.bodies()] == ["CALL", "GET", "GET"]

    # A root that refuses the new stamp is passed over.
    monkeypatch.setattr(ostrel, "Context", None)
    monkeypatch.setattr(ostrel, "Excel", 5)
    ostrel.messaging.reset()
    assert ostrel.GetSetting._msg_guid == ostrel.messaging._guid
    monkeypatch.undo()
    ostrel.messaging.reset()
    assert ostrel.Excel._msg_guid == ostrel.messaging._guid


def test_callable_registry(m, ostrel):
    prefix = "pyfunc_" + m._guid[:8]
    first = m.register_callable(len)
    second = m.register_callable(callable_obj=len)
    assert (first, second) == (prefix + "_1", prefix + "_2")
    assert m.get_callable(first) is len and m._next_callable_id == 3
    assert m.get_callable("nope") is None
    assert m.unregister_callable("nope") is None
    m.unregister_callable(first)
    assert m.get_callable(first) is None and m.get_callable(second) is len
    with pytest.raises(TypeError, match="^Object must be callable, got int$"):
        m.register_callable(5)
    with pytest.raises(TypeError, match=r"^Argument 'callable_id' has incorrect type \(expected str, got NoneType\)$"):
        m.get_callable(None)

    class S(str):
        pass

    with pytest.raises(TypeError) as info:
        m.unregister_callable(S(second))
    assert info.value.__notes__
    m.reset()
    assert m._callable_registry == {} and m._next_callable_id == 1


def test_instance_attributes_are_read_at_each_call(m):
    class CountingLock:
        def __init__(self):
            self.lock = threading.Lock()
            self.calls = []

        def acquire(self):
            self.calls.append("acquire")
            return self.lock.acquire()

        def release(self):
            self.calls.append("release")
            self.lock.release()

    m._waiters_lock = CountingLock()
    m._callable_lock = CountingLock()
    m.send_request_sync({})
    # Registered, then removed by on_message.
    assert m._waiters_lock.calls == ["acquire", "release"] * 2
    m.register_callable(len)
    m.reset()
    assert m._callable_lock.calls == ["acquire", "release"] * 2
    mine = {}
    m.waiters = mine
    m.fake.respond = lambda message: None
    run_in_thread(m.send_request_sync, {}, WAIT)
    wait_until(lambda: len(mine) == 1)
    m.reset()
    assert mine == {}


def test_replaced_attributes_run_no_code_under_the_locks(m):
    # Each replacement's methods try the lock that guards it without blocking: code of theirs
    # that ran under our lock would find it taken (and, taking it for real, would deadlock).
    taken = []

    def lock_is_free(name):
        lock = getattr(m, name)
        free = lock.acquire(blocking=False)
        if free:
            lock.release()
        else:
            taken.append(name)

    def watched(base, lock_name, methods):
        def wrap(method):
            def run(self, *args):
                lock_is_free(lock_name)
                return getattr(base, method)(self, *args)
            return run
        return type("Watched", (base,), {name: wrap(name) for name in methods})

    Waiters = watched(dict, "_waiters_lock", ["values", "clear", "pop", "get", "__setitem__"])
    Registry = watched(dict, "_callable_lock", ["clear", "pop", "get", "__setitem__"])
    Counter = watched(int, "_callable_lock", ["__add__", "__str__", "__repr__", "__format__"])
    Guid = watched(str, "_callable_lock", ["__getitem__", "__str__"])

    m.waiters = Waiters()
    m._callable_registry = Registry()
    m._next_callable_id = Counter(1)
    m._guid = Guid(m._guid)
    callable_id = m.register_callable(len)
    assert m.get_callable(callable_id) is len
    assert m.unregister_callable(callable_id) is None and m.get_callable(callable_id) is None
    assert m.send_request_sync({})["ok"]
    m.waiters[0] = concurrent.futures.Future()
    m.reset()
    assert taken == []


def test_no_lock_held_while_the_handler_runs(m):
    seen = []

    def handler(message):
        seen.append((m._waiters_lock.locked(), m._callable_lock.locked()))
        m.on_message({"requestId": message["requestId"], "ok": True})

    m.set_send_handler(handler)
    m.send_request_sync({})
    assert seen == [(False, False)]


def test_many_threads_with_out_of_order_responses(m):
    count = 8
    arrived = []
    all_sent = threading.Event()
    lock = threading.Lock()

    def handler(message):
        with lock:
            arrived.append(message)
            if len(arrived) == count:
                all_sent.set()

    m.set_send_handler(handler)

    def answer_in_reverse():
        assert all_sent.wait(WAIT)
        for message in reversed(arrived):
            m.on_message({"requestId": message["requestId"], "ok": True, "echo": message["n"]})

    workers = [run_in_thread(lambda i=i: m.send_request_sync({"n": i}, WAIT)["echo"]) for i in range(count)]
    listener = run_in_thread(answer_in_reverse)
    listener.result(WAIT)
    assert [w.result(WAIT) for w in workers] == list(range(count))
    assert m.waiters == {}


def test_cancelling_during_reset_may_finalise_a_proxy(ostrel, addin):
    # A done-callback runs while reset cancels; it drops the last reference to a proxy, whose
    # release request needs the waiters lock. Reset must not hold it then.
    messaging = ostrel.messaging
    addin.respond = lambda message: None if message["method"] == "GET" else ok()
    holder = [ostrel.OfficeJsObject(77, "Range")]
    worker = run_in_thread(lambda: ostrel.Excel.slow)
    wait_until(lambda: len(messaging.waiters) == 1)
    (future,) = messaging.waiters.values()
    future.add_done_callback(lambda f: holder.clear())
    resetter = run_in_thread(messaging.reset)
    resetter.result(WAIT)
    with pytest.raises(concurrent.futures.CancelledError):
        worker.result(WAIT)
    assert {"method": "DEL", "name": "__del__", "caller": 77} in addin.bodies("DEL")


def test_garbage_collector_on_a_worker_finalises_proxies(ostrel, addin):
    addin.listener()

    def make_cycle_and_collect():
        cycle = {"proxy": ostrel.OfficeJsObject(55, "Range")}
        cycle["self"] = cycle
        del cycle
        gc.collect()
        return True

    assert run_in_thread(make_cycle_and_collect).result(WAIT)
    assert {"method": "DEL", "name": "__del__", "caller": 55} in addin.bodies("DEL")


def test_finalising_a_proxy_inside_the_handler(ostrel, addin):
    inner = []

    def respond(message):
        if message["method"] == "GET":
            proxy = ostrel.OfficeJsObject(66, "Range")
            del proxy  # sends its release from inside the handler
            inner.append(True)
        return ok(wire("Int", 3))

    addin.respond = respond
    assert ostrel.Excel.value == 3
    assert inner == [True]
    assert [b["method"] for b in addin.bodies()] == ["GET", "DEL"]


@pytest.mark.parametrize("kind", [KeyboardInterrupt, SystemExit, GeneratorExit])
def test_no_waiter_outlives_a_base_exception_of_the_handler(m, kind):
    def interrupted(message):
        raise kind

    m.set_send_handler(interrupted)
    for _ in range(1000):
        with pytest.raises(kind):
            m.send_request_sync({})
    assert m.waiters == {}


def _async_raise(thread, exc_type):
    """Raises `exc_type` in `thread` as the kernel's Stop does (`PyThreadState_SetAsyncExc`)."""
    import ctypes

    done = ctypes.pythonapi.PyThreadState_SetAsyncExc(ctypes.c_ulong(thread.ident), ctypes.py_object(exc_type))
    assert done == 1


@pytest.mark.parametrize("exc_type", [KeyboardInterrupt, RuntimeError])
def test_an_asynchronous_exception_ends_a_blocked_wait(ostrel, m, exc_type):
    # The add-in never answers; the wait would last its whole time-out without the interrupt.
    m.fake.respond = lambda message: None
    outcome = concurrent.futures.Future()

    def work():
        try:
            if exc_type is RuntimeError:  # an attribute read, whose refusal would be an attribute error
                outcome.set_result(ostrel.OfficeJsObject(5, "Range").slow)
            else:
                outcome.set_result(m.send_request_sync({"method": "GET"}, timeout=60.0))
        except BaseException as e:  # noqa: BLE001 - handed to the test
            outcome.set_exception(e)

    # Proxies find the messaging by its module name; this test's go through its own.
    saved = ostrel.messaging
    ostrel.messaging = m
    try:
        worker = threading.Thread(target=work, daemon=True)
        worker.start()
        wait_until(lambda: len(m.waiters) == 1)
        _async_raise(worker, exc_type)
        worker.join(WAIT)
        assert not worker.is_alive()
    finally:
        ostrel.messaging = saved
    error = outcome.exception(0)
    assert type(error) is exc_type
    assert m.waiters == {}


def test_a_signal_ends_a_blocked_wait_on_the_main_thread(run_python):
    # interrupt_main raises KeyboardInterrupt as Ctrl-C would, without waking a blocked lock.
    proc = run_python("""if True:
        import _thread, threading, time
        import cellumo_master.python_server.cellumo.ostrel as ostrel
        m = ostrel.messaging
        sent = []
        m.set_send_handler(sent.append)
        threading.Timer(0.3, _thread.interrupt_main).start()
        start = time.monotonic()
        try:
            m.send_request_sync({"method": "GET"}, 60.0)
        except KeyboardInterrupt:
            print("interrupted", time.monotonic() - start < 30, m.waiters)
    """)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split() == ["interrupted", "True", "{}"]


def test_a_late_answer_after_an_interrupt_is_dropped(m):
    m.fake.respond = lambda message: None

    def interrupted(message):
        m.fake(message)
        raise KeyboardInterrupt

    m.set_send_handler(interrupted)
    with pytest.raises(KeyboardInterrupt):
        m.send_request_sync({})
    assert m.on_message({"requestId": m.fake.sent[-1]["requestId"], "ok": True}) is None
    assert m.waiters == {}


class _BadHash:
    def __hash__(self):
        raise ValueError("no hash")


class _BadEq:
    def __hash__(self):
        return hash("x")

    def __eq__(self, other):
        raise ValueError("no comparison")


@pytest.mark.parametrize("rid", [{}, [1], _BadHash(), _BadEq()], ids=["dict", "list", "hash", "eq"])
def test_a_request_id_that_cannot_be_looked_up_is_dropped(m, rid):
    # While a request waits, an answer with a malformed id is dropped; the right one still lands.
    m.fake.listener()
    m.fake.respond = lambda message: None
    pending = run_in_thread(m.send_request_sync, {"method": "GET"}, WAIT)
    wait_until(lambda: len(m.waiters) == 1)
    assert m.on_message({"requestId": rid, "ok": True}) is None
    (real,) = list(m.waiters)
    m.on_message({"requestId": real, "ok": True, "result": 1})
    assert pending.result(WAIT)["result"] == 1


@pytest.mark.parametrize("answer", [{"ok": True, "result": 1}, {"ok": False, "error": {"message": "no"}}])
def test_an_answer_for_a_waiter_already_done_is_dropped(m, answer):
    # The kernel (or anything holding `waiters`) may end a waiter itself; the late answer changes
    # nothing and raises nothing, for the standard Future and for a class of the kernel's own.
    class Tracked(concurrent.futures.Future):
        asked = 0

        def done(self):
            Tracked.asked += 1
            return super().done()

    for future in (concurrent.futures.Future(), Tracked()):
        future.cancel()
        m.waiters["r1"] = future
        assert m.on_message({"requestId": "r1", **answer}) is None
        assert future.cancelled() and "r1" not in m.waiters
        done = concurrent.futures.Future()
        done.set_result("first")
        m.waiters["r2"] = done
        assert m.on_message({"requestId": "r2", **answer}) is None
        assert done.result() == "first"
    assert Tracked.asked == 1
