"""Messages from the kernel's threads to every open page, over their WebSockets.

Any thread may publish; the messages are handed to the server's event loop and queued per page.
Script output is merged while it waits, so a script printing in a tight loop sends a few large
messages rather than a flood of small ones, and a run's output is capped so that a runaway
script cannot fill the browser's memory.
"""
import asyncio
import threading

OUTPUT_LIMIT = 2_000_000  # characters of output and errors per run
MESSAGE_LIMIT = 65_536  # output is merged into messages of about this many characters at most
_FLUSH_SECONDS = 0.03


class Hub:
    def __init__(self, loop):
        self._loop = loop
        self._lock = threading.Lock()
        self._queues = set()  # one asyncio.Queue per connected page (touched on the loop only)
        self._pending = []  # output and error messages not yet flushed
        self._flush_scheduled = False
        self._sent_this_run = 0
        self._capped = False

    # -- any thread ----------------------------------------------------------------------------

    def publish(self, message):
        kind = message.get("type")
        if kind in ("output", "error"):
            with self._lock:
                if not self._admit(message):
                    return
                last = self._pending[-1] if self._pending else None
                if last is not None and last["type"] == kind and len(last["text"]) < MESSAGE_LIMIT:
                    self._pending[-1] = {"type": kind, "text": self._pending[-1]["text"] + message["text"]}
                else:
                    self._pending.append(dict(message))
                if self._flush_scheduled:
                    return
                self._flush_scheduled = True
            self._call(self._flush_later)
            return
        with self._lock:
            if kind == "run-start":
                self._sent_this_run = 0
                self._capped = False
            pending, self._pending = self._pending, []
        # Output that is still waiting goes out first, so the page sees it before the run's end.
        for m in pending + [message]:
            self._call(self._broadcast, m)

    def _admit(self, message):
        if self._capped:
            return False
        self._sent_this_run += len(message["text"])
        if self._sent_this_run > OUTPUT_LIMIT:
            self._capped = True
            self._pending.append({"type": "error", "text": f"\n(output cut after {OUTPUT_LIMIT:,} characters)\n"})
            return False
        return True

    def _call(self, fn, *args):
        try:
            self._loop.call_soon_threadsafe(fn, *args)
        except RuntimeError:  # the loop is closed: the server is shutting down
            pass

    # -- the event loop ------------------------------------------------------------------------

    def _flush_later(self):
        self._loop.call_later(_FLUSH_SECONDS, self._flush)

    def _flush(self):
        with self._lock:
            pending, self._pending = self._pending, []
            self._flush_scheduled = False
        for message in pending:
            self._broadcast(message)

    def _broadcast(self, message):
        for q in self._queues:
            q.put_nowait(message)

    def attach(self):
        q = asyncio.Queue()
        self._queues.add(q)
        return q

    def detach(self, q):
        self._queues.discard(q)
