"""The add-in as the playground server holds it: one Node.js process with the workbook, which
outlives any kernel. The server asks it its own control commands (the grid's view, dropping the
handlers of a finished run); everything else it says (responses, invokes) is the kernel's and is
handed on, and the kernel's requests are written to it."""
import concurrent.futures
import itertools
import threading

from ..addin_process import AddinProcess, AddinStopped
from ..channel import ask_control

_WAIT = 10.0
STOP_SECONDS = 1.0  # for the add-in to leave on end of input before it is killed


class AddinHost:
    """deliver(message) is called on the listener thread with each message for the kernel."""

    def __init__(self, deliver, settings=None):
        self._deliver = deliver
        self._settings = dict(settings or {})
        self._lock = threading.Lock()
        self._controls = {}
        self._ids = itertools.count(1)
        self._process = None
        self._listener = None
        self._start()

    def _start(self):
        process = AddinProcess(self._settings)
        listener = threading.Thread(target=self._listen, args=(process,), name="addin-listener", daemon=True)
        with self._lock:
            self._process, self._listener = process, listener
        listener.start()

    @property
    def pid(self):
        return self._process.pid

    def send(self, message):
        """Writes a message of the kernel's; a request the add-in cannot take is answered here, so
        that nothing waits for it."""
        try:
            self._process.send(message)
        except AddinStopped:
            if message.get("kind") == "request":
                self._deliver({"requestId": message.get("requestId"), "kind": "response", "ok": False,
                               "error": {"message": "The add-in is not running"}})

    def control(self, command, timeout=_WAIT, **fields):
        process = self._process
        future = concurrent.futures.Future()
        control_id = f"srv-{next(self._ids)}"
        with self._lock:
            self._controls[control_id] = (process, future)

        def forget():
            with self._lock:
                self._controls.pop(control_id, None)

        return ask_control(process.send, future, forget, control_id, command, timeout, fields)

    def _listen(self, process):
        try:
            while True:
                message = process.read()
                if message is None:
                    break
                if isinstance(message, dict) and message.get("kind") == "control_result":
                    with self._lock:
                        entry = self._controls.pop(message.get("controlId"), None)
                    if entry is not None and not entry[1].done():
                        entry[1].set_result(message)
                elif isinstance(message, dict):
                    self._deliver(message)
        finally:
            with self._lock:
                waiting = [f for p, f in self._controls.values() if p is process]
            for future in waiting:
                if not future.done():
                    future.set_exception(AddinStopped("The add-in stopped before answering"))

    def restart(self):
        """A fresh add-in with an empty workbook."""
        self._stop(self._process, self._listener)
        self._start()

    def close(self):
        self._stop(self._process, self._listener)

    @staticmethod
    def _stop(process, listener):
        process.stop(timeout=STOP_SECONDS)
        listener.join(timeout=_WAIT)
