"""Test doubles for the bridge: a stand-in for the kernel and the add-in, that is a send handler
that records every request message and answers it through `messaging.on_message`, either on the
sending thread or from a listener thread."""
import queue
import threading

WAIT = 10.0  # bound for every wait in these tests; none of them should come near it


def ok(result=None, **extra):
    """A successful response carrying `result` (a wire value)."""
    return {"ok": True, "result": result, **extra}


def wire(tag, value, is_spec=False):
    return {"type": tag, "value": value, "isSpec": is_spec}


class FakeAddin:
    """Records request messages; `respond(message)` decides the response (a dict without
    `requestId`, or None for no answer). Answers synchronously unless `listener()` is used."""

    def __init__(self, messaging):
        self.messaging = messaging
        self.sent = []
        self.respond = lambda message: ok(wire("Null", None))
        self._queue = None
        self._thread = None

    def __call__(self, message):
        self.sent.append(message)
        response = self.respond(message)
        if response is None:
            return
        response = {"requestId": message["requestId"], **response}
        if self._queue is not None:
            self._queue.put(response)
        else:
            self.messaging.on_message(response)

    def listener(self):
        """Answers from a separate thread, the way the kernel's listener does."""
        self._queue = queue.Queue()

        def run():
            while True:
                item = self._queue.get()
                if item is None:
                    return
                self.messaging.on_message(item)

        self._thread = threading.Thread(target=run, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._thread is not None:
            self._queue.put(None)
            self._thread.join(WAIT)
            self._queue = None
            self._thread = None

    def bodies(self, method=None):
        """The request bodies sent, without the envelope keys."""
        out = []
        for m in self.sent:
            body = {k: v for k, v in m.items() if k not in ("requestId", "kind")}
            if method is None or body.get("method") == method:
                out.append(body)
        return out


