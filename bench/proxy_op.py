"""One proxy operation end to end (`Excel.foo`), against the part of it nobody can avoid.

Synchronous: the send handler answers before it returns, through `on_message`. The floor is what
any implementation of the request pays: a uuid4 hex id, one Future created, resolved and waited
on, and one call of a handler doing the same work (building the same response).

Listener: the handler hands the request to a listener thread over a queue, and the listener
answers through `on_message`, as the kernel does. The floor is a bare two-thread Future handoff
over the same kind of queue.
"""
import queue
import threading
import uuid
from concurrent.futures import Future

from cellumo_master.python_server.cellumo import ostrel

from .report import ratio_row
from .timing import compare, fmt_seconds, median

SIZES = {"full": (25, 2000), "quick": (9, 500), "smoke": (2, 20)}
RESULT = {"type": "Int", "value": 42, "isSpec": False}


def sync_handler(deliver):
    def handler(message):
        deliver({"requestId": message["requestId"], "ok": True, "result": RESULT})
    return handler


class Listener:
    """The kernel's listener thread: takes requests from a queue and answers each one."""

    def __init__(self, answer):
        self.requests = queue.SimpleQueue()
        self._answer = answer
        self._thread = threading.Thread(target=self._run, name="bench-listener", daemon=True)
        self._thread.start()

    def _run(self):
        get = self.requests.get
        answer = self._answer
        while True:
            item = get()
            if item is None:
                return
            answer(item)

    def close(self):
        self.requests.put(None)
        self._thread.join()


def _floor_handler(message):
    # The same work as the real handler: build the response, make one call that resolves.
    message["future"].set_result({"requestId": message["requestId"], "ok": True, "result": RESULT})


def _floor_sync():
    fut = Future()
    _floor_handler({"requestId": uuid.uuid4().hex, "future": fut})
    return fut.result(timeout=30.0)


def run(size="full"):
    repeat, number = SIZES[size]
    messaging = ostrel.messaging
    excel = ostrel.Excel
    rows = []
    try:
        messaging.set_send_handler(sync_handler(messaging.on_message))
        if excel.foo != 42 or messaging.waiters:
            raise AssertionError("synchronous round trip went wrong")
        samples = compare({"native": lambda: excel.foo, "floor": _floor_sync}, repeat=repeat, number=number)
        m = {k: median(v) for k, v in samples.items()}
        rows.append(ratio_row("4 proxy op, sync handler", "Excel.foo / floor", m["native"] / m["floor"], 1.2,
                              context=f"medians {fmt_seconds(m['native'])} vs {fmt_seconds(m['floor'])}"))

        # Through a listener thread: same queue type, same thread, both directions.
        def answer(item):
            if isinstance(item, Future):
                item.set_result(RESULT)
            else:
                messaging.on_message({"requestId": item["requestId"], "ok": True, "result": RESULT})

        listener = Listener(answer)
        try:
            put = listener.requests.put
            messaging.set_send_handler(put)
            if excel.foo != 42:
                raise AssertionError("listener round trip went wrong")

            def handoff():
                fut = Future()
                put(fut)
                return fut.result(timeout=30.0)

            samples = compare({"native": lambda: excel.foo, "floor": handoff},
                              repeat=repeat, number=max(1, number // 4))
        finally:
            listener.close()
        m = {k: median(v) for k, v in samples.items()}
        rows.append(ratio_row("4 proxy op, listener thread", "Excel.foo / Future handoff", m["native"] / m["floor"],
                              1.1, context=f"medians {fmt_seconds(m['native'])} vs {fmt_seconds(m['floor'])}"))
    finally:
        messaging.set_send_handler(None)
    return rows
