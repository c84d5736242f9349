"""A channel's round trip, simulated: the add-in's messages reach the kernel a fixed time after the
add-in wrote them, in the order it wrote them.

A real add-in sits behind a channel (the kernel forwards each request to the workbook's page and
waits for its answer), so every answer arrives one round trip after its request went out. One
thread reads the add-in's output as it comes and stamps each message with the time it is due;
the listener takes them in order and waits for each one's time. Nothing is delayed twice: a
message that was due while the listener was busy with the one before is handed on at once.
"""
import queue
import threading
import time


class DelayLine:
    """Wraps `read` (the add-in's next message, None at the end of its output)."""

    def __init__(self, read, latency, name="delay-line"):
        self._read = read
        self._latency = float(latency)
        self._queue = queue.SimpleQueue()
        self._reader = threading.Thread(target=self._pump, name=name, daemon=True)
        self._reader.start()

    def _pump(self):
        ended = False
        try:
            while not ended:
                message = self._read()
                ended = message is None
                self._queue.put((time.monotonic() + self._latency, message))
        finally:
            if not ended:  # the reader failed: the listener still sees the end
                self._queue.put((time.monotonic(), None))

    def read(self):
        """The next message once it is due; None after the last one."""
        due, message = self._queue.get()
        wait = due - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        return message
