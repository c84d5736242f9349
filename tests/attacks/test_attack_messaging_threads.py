"""Many workers, an out-of-order listener, resets at random moments and a send handler that
sometimes raises or stalls: every request must end exactly once, with its own answer."""
import concurrent.futures
import queue
import random
import threading
import time

from attack_support import WAIT, report, size


class HandlerFailure(Exception):
    pass


class Storm:
    """The kernel and the add-in: a send handler that decides each request's fate, and a
    listener thread that answers in shuffled batches, sometimes with a remote error."""

    def __init__(self, messaging, seed):
        self.messaging = messaging
        self.rng = random.Random(seed)
        self.lock = threading.Lock()
        self.queue = queue.Queue()
        self.stop = threading.Event()
        self.listener = threading.Thread(target=self._listen, daemon=True)

    def handler(self, message):
        token = message["token"]
        mode = message["mode"]
        if mode == "silent":
            return
        with self.lock:
            roll = self.rng.random()
        if roll < 0.04:
            raise HandlerFailure(token)
        if mode == "late":
            time.sleep(0.004)  # stalls past the request's small timeout, then answers
        ok = roll >= 0.09
        response = {"requestId": message["requestId"], "ok": ok, "token": token}
        if not ok:
            response["error"] = {"message": f"remote {token}"}
        self.queue.put(response)

    def _listen(self):
        rng = random.Random(7)
        while not self.stop.is_set():
            batch = []
            try:
                batch.append(self.queue.get(timeout=0.05))
                while len(batch) < 16:
                    batch.append(self.queue.get_nowait())
            except queue.Empty:
                pass
            rng.shuffle(batch)
            for response in batch:
                self.messaging.on_message(response)


def test_request_storm_with_resets(ostrel):
    total = size(2_000, 20_000)
    workers = 16
    messaging = ostrel.messaging
    storm = Storm(messaging, seed=1)
    messaging.set_send_handler(storm.handler)
    outcomes = {}
    wrong = []
    outcomes_lock = threading.Lock()
    resets = [0]
    done = threading.Event()

    def worker(index):
        rng = random.Random(index)
        for n in range(index, total, workers):
            token = f"t{n}"
            roll = rng.random()
            mode = "silent" if roll < 0.02 else "late" if roll < 0.04 else "normal"
            timeout = 5.0 if mode == "normal" else 0.002
            try:
                response = messaging.send_request_sync({"token": token, "mode": mode}, timeout)
                kind = "result"
                if response.get("token") != token:
                    wrong.append((token, response))
            except TimeoutError as e:
                kind = "timeout"
                assert str(e) == "Timed out waiting for Office.js response"
            except concurrent.futures.CancelledError:
                kind = "cancelled"
            except HandlerFailure as e:
                kind = "handler"
                if e.args[0] != token:
                    wrong.append((token, e))
            except RuntimeError as e:
                kind = "remote"
                if str(e) != f"remote {token}":
                    wrong.append((token, e))
            with outcomes_lock:
                assert token not in outcomes, f"{token} ended twice"
                outcomes[token] = kind

    def resetter():
        rng = random.Random(99)
        while not done.is_set():
            time.sleep(rng.uniform(0.0, 0.006))
            messaging.reset()
            resets[0] += 1

    storm.listener.start()
    reset_thread = threading.Thread(target=resetter, daemon=True)
    reset_thread.start()
    threads = [threading.Thread(target=worker, args=(i,), daemon=True) for i in range(workers)]
    try:
        for t in threads:
            t.start()
        deadline = time.monotonic() + WAIT * 4
        for t in threads:
            t.join(max(0.0, deadline - time.monotonic()))
        assert not any(t.is_alive() for t in threads), "a worker is stuck"
    finally:
        done.set()
        reset_thread.join(WAIT)
        storm.stop.set()
        storm.listener.join(WAIT)
        messaging.set_send_handler(None)

    assert not wrong, wrong[:5]
    assert len(outcomes) == total
    assert messaging.waiters == {}
    kinds = {k: list(outcomes.values()).count(k) for k in set(outcomes.values())}
    assert kinds.get("result", 0) > total // 4
    report("messaging storm", requests=total, resets=resets[0], **kinds)


def test_callable_registry_under_concurrent_resets(ostrel):
    """Ids stay unique and a looked-up id never yields somebody else's callable, across resets."""
    rounds = size(3_000, 30_000)
    messaging = ostrel.messaging
    wrong = []
    resets = [0]
    done = threading.Event()

    def worker(index):
        for n in range(rounds):
            def fn(owner=(index, n)):
                return owner
            cid = messaging.register_callable(fn)
            assert cid.startswith("pyfunc_")
            for _ in range(2):
                found = messaging.get_callable(cid)
                if found is not None and found is not fn:
                    wrong.append((cid, found(), fn()))
            if n % 3 == 0:
                messaging.unregister_callable(cid)
                if messaging.get_callable(cid) is not None and messaging.get_callable(cid) is not fn:
                    wrong.append((cid, "after unregister"))

    def resetter():
        rng = random.Random(5)
        while not done.is_set():
            time.sleep(rng.uniform(0.0002, 0.005))
            messaging.reset()
            resets[0] += 1

    reset_thread = threading.Thread(target=resetter, daemon=True)
    reset_thread.start()
    threads = [threading.Thread(target=worker, args=(i,), daemon=True) for i in range(8)]
    try:
        for t in threads:
            t.start()
        for t in threads:
            t.join(WAIT * 2)
        assert not any(t.is_alive() for t in threads)
    finally:
        done.set()
        reset_thread.join(WAIT)
        messaging.reset()

    assert not wrong, wrong[:5]
    report("callable registry", registrations=rounds * 8, resets=resets[0])


def test_registration_racing_a_reset_never_shares_an_id(ostrel):
    """Regression: a registration that ran between a reset's new context id and its clearing of
    the registry paired the new id with the old counter, so the same callable id was later
    handed to another callable and the add-in would have called the wrong one. Here the
    registration is slipped in where the reset takes the registry lock."""
    m = ostrel.Messaging()
    real = m._callable_lock
    state = {"in_reset": False, "raced": None}

    class Hook:
        def acquire(self, *args):
            if state["in_reset"] and state["raced"] is None:
                state["raced"] = "busy"
                state["raced"] = m.register_callable(raced_fn)
            return real.acquire(*args)

        def release(self):
            return real.release()

    def raced_fn():
        return "raced"

    for _ in range(3):
        m.register_callable(len)
    m._callable_lock = Hook()
    state["in_reset"] = True
    try:
        m.reset()
    finally:
        state["in_reset"] = False
        ostrel.messaging.reset()  # any instance's reset re-stamps the module's root proxies
    later = [m.register_callable(lambda i=i: i) for i in range(6)]
    assert state["raced"] not in later
    assert len(set(later)) == len(later)
    found = m.get_callable(state["raced"])
    assert found is None or found is raced_fn


def test_response_id_whose_hash_finalises_a_proxy_does_not_deadlock(run_python):
    """Regression: a response whose `requestId` is not a str had its own __hash__/__eq__ run while
    the waiters lock was held; code there that dropped a proxy (whose release needs that lock)
    froze the listener thread for good. The lookup still finds an id that compares equal."""
    proc = run_python("""
import threading, time
import cellumo_master.python_server.cellumo.ostrel as o
m = o.messaging
pending = []
def handler(msg):
    if msg.get("method") == "DEL":
        m.on_message({"requestId": msg["requestId"], "ok": True})
    else:
        pending.append(msg)
m.set_send_handler(handler)
results = []
t = threading.Thread(target=lambda: results.append(m.send_request_sync({"method": "GET"}, 30.0)), daemon=True)
t.start()
while not pending:
    time.sleep(0.01)
holder = [o.OfficeJsObject(5, "Range")]

class Rid:
    def __init__(self, text):
        self.text = text
    def __hash__(self):
        holder.clear()          # drops a proxy: its release needs the waiters lock
        return hash(self.text)
    def __eq__(self, other):
        return other == self.text
    def __bool__(self):
        return True

m.on_message({"requestId": Rid("no such id")})
m.on_message({"requestId": Rid(pending[0]["requestId"]), "ok": True, "result": 7})
t.join(10)
assert results and results[0]["result"] == 7, results
assert m.on_message({"requestId": [1]}) is None   # an empty table is not searched, as dict.pop
assert m.waiters == {}
print("ok")
""", timeout=60)
    assert proc.returncode == 0 and proc.stdout.strip() == "ok", proc.stderr
