"""The kernel harness: what the product's kernel does around the bridge, on a real channel.

It starts the add-in (a Node.js child process), installs the bridge's send handler, and runs a
listener thread that feeds the add-in's responses to `messaging.on_message`, starts a thread for
each of its invoke messages (which looks the callable up with `messaging.get_callable`, runs it
and answers with an invoke_result), and calls `messaging.reset()` when the add-in's output ends.
User scripts run on threads of their own with `Excel`, `Context` and `GetSetting` in their globals.

Threads never wait on each other while holding a lock of ours, and every wait is bounded. There is
no fixed pool of callback threads: a callback may itself wait for another (a nested `Excel.run`),
to any depth. Script and callback threads are daemon threads, so that a script still blocked when
the process ends does not keep it alive.
"""
import concurrent.futures
import functools
import gc
import itertools
import threading
import traceback

from .addin_process import AddinProcess, AddinStopped
from .channel import ask_control
from .delay_line import DelayLine
from .editor import start_editor_warm_up
from .scripts import ScriptResult, describe_callable, format_failure, run_source

_WAIT = 10.0  # bound for waits on the add-in's own answers (controls, shutdown)
UNSENDABLE = "its result could not be sent: "


def load_ostrel():
    from cellumo_master.python_server.cellumo import ostrel

    return ostrel


class _Connection:
    """One add-in process and the listener thread reading it."""

    def __init__(self, process, generation):
        self.process = process
        self.generation = generation
        self.listener = None
        self.closed = threading.Event()


class Kernel:
    """Starts on construction; use as a context manager or call `close()`.

    settings         values GetSetting answers with, by name
    request_timeout  seconds a proxy operation waits for the add-in (the bridge's default when None)
    warm_editor      parse the editor services' stubs at start-up, for a kernel that serves the editor
    latency          seconds by which every message of the add-in reaches the kernel late (a channel's
                     round trip: each request then costs at least that long), 0 for none
    """

    def __init__(self, settings=None, request_timeout=None, verbose=False, ostrel=None, warm_editor=False,
                 latency=0.0):
        self.ostrel = ostrel or load_ostrel()
        self.messaging = self.ostrel.messaging
        self.settings = dict(settings or {})
        self.verbose = verbose
        self.latency = float(latency)
        if not self.latency >= 0.0:
            raise ValueError(f"latency must be a number of seconds >= 0, got {latency!r}")
        self.callback_errors = []
        self._lock = threading.Lock()
        self._controls = {}
        self._control_ids = itertools.count(1)
        self._generation = itertools.count(1)
        self._idle = threading.Condition(self._lock)
        self._callbacks_running = 0
        self._thread_ids = itertools.count(1)
        self._runs = 0  # run_script calls under way
        self._registered_before = None  # callable ids registered when the first of them began
        self._closed = False
        self._timeout_override = None
        if request_timeout is not None:
            self._install_request_timeout(float(request_timeout))
        self._conn = None
        self._connect()
        self.messaging.set_send_handler(self._send_request)
        if warm_editor:
            start_editor_warm_up()

    # -- the add-in connection -------------------------------------------------------------

    def _connect(self):
        conn = _Connection(AddinProcess(self.settings, verbose=self.verbose), next(self._generation))
        conn.listener = threading.Thread(target=self._listen, args=(conn,), name=f"listener-{conn.generation}",
                                         daemon=True)
        with self._lock:
            self._conn = conn
        conn.listener.start()

    def _send_request(self, message):
        conn = self._conn
        if conn is None or conn.closed.is_set():
            raise AddinStopped("The add-in is not running")
        conn.process.send(message)

    def _listen(self, conn):
        read = conn.process.read
        if self.latency > 0.0:
            read = DelayLine(read, self.latency, name=f"delay-line-{conn.generation}").read
        try:
            while True:
                message = read()
                if message is None:
                    break
                kind = message.get("kind") if isinstance(message, dict) else None
                if kind == "response":
                    try:
                        self.messaging.on_message(message)
                    except Exception:  # noqa: BLE001 - one bad response must not stop the listener
                        self._note_error("response could not be delivered:\n" + traceback.format_exc())
                elif kind == "invoke":
                    self._start_callback(conn, message)
                elif kind == "control_result":
                    self._finish_control(message)
                else:
                    self._note_error(f"ignored a message from the add-in: {message!r:.200}")
        finally:
            self._connection_closed(conn)

    def _connection_closed(self, conn):
        with self._lock:
            current = self._conn is conn
            conn.closed.set()
            pending = [f for cid, (gen, f) in list(self._controls.items()) if gen == conn.generation]
            for cid in [cid for cid, (gen, _) in self._controls.items() if gen == conn.generation]:
                del self._controls[cid]
        for future in pending:
            future.set_exception(AddinStopped("The add-in stopped before answering"))
        if current:
            # Everything waiting on this connection fails now, and proxies from it go stale.
            self.messaging.reset()

    def restart_addin(self):
        """Stops the add-in and starts a fresh one with an empty workbook. The bridge is reset in
        between, so proxies from the old add-in are refused from then on."""
        old = self._conn
        old.process.stop(timeout=_WAIT)
        old.listener.join(timeout=_WAIT)
        if old.listener.is_alive():
            raise RuntimeError("the add-in's listener did not finish")
        self._connect()

    def kill_addin(self):
        """Ends the add-in process abruptly; waits until the kernel has seen it go."""
        conn = self._conn
        conn.process.kill()
        conn.closed.wait(timeout=_WAIT)

    @property
    def addin_running(self):
        conn = self._conn
        return conn is not None and not conn.closed.is_set()

    @property
    def addin_stderr(self):
        return list(self._conn.process.stderr_lines) if self._conn else []

    # -- Python callbacks --------------------------------------------------------------------

    def _start_thread(self, kind, target, *args):
        thread = threading.Thread(target=target, args=args, name=f"{kind}-{next(self._thread_ids)}", daemon=True)
        thread.start()

    def _start_callback(self, conn, message):
        with self._lock:
            self._callbacks_running += 1
        try:
            self._start_thread("callback", self._run_callback, conn, message)
        except RuntimeError as exc:  # no thread to be had: answer at once, so that nobody waits
            self._callback_done()
            self._note_error(f"A callback could not be started: {exc}")
            self._answer(conn, {"kind": "invoke_result", "invokeId": message.get("invokeId"), "ok": False,
                                "error": {"message": f"The kernel could not run the callback: {exc}"}})

    def _run_callback(self, conn, message):
        invoke_id = message.get("invokeId")
        callable_id = message.get("callableId")
        fn = args = result = None
        try:
            answer = {"kind": "invoke_result", "invokeId": invoke_id}
            try:
                fn = self.messaging.get_callable(callable_id) if isinstance(callable_id, str) else None
                if fn is None:
                    raise LookupError(f"No Python function is registered as {callable_id!r}")
                decode = self.ostrel.Serializer.from_wire
                args = [decode(a) for a in message.get("args") or []]
                result = fn(*args)
            except BaseException as exc:  # noqa: BLE001 - any failure is the caller's answer
                answer.update(ok=False, error=self._callback_failed(fn, callable_id, exc))
            else:
                try:
                    answer.update(ok=True, result=self.ostrel.Serializer.to_wire(result))
                except Exception as exc:  # noqa: BLE001 - a value the wire encoding refuses
                    answer.update(ok=False, error=self._callback_failed(fn, callable_id, exc, UNSENDABLE))
            try:
                self._answer(conn, answer)
            except Exception as exc:  # noqa: BLE001 - the answer cannot be written as a message
                what = UNSENDABLE if answer["ok"] else "its error could not be sent: "
                error = self._callback_failed(fn, callable_id, exc, what)
                self._answer(conn, {"kind": "invoke_result", "invokeId": invoke_id, "ok": False, "error": error})
            # Only now drop what the result may refer to: a release sent ahead of the answer would
            # free the very object that the answer names.
            del fn, args, result
            gc.collect()
        finally:
            self._callback_done()

    @staticmethod
    def _answer(conn, answer):
        if conn.closed.is_set():
            return
        try:
            conn.process.send(answer)
        except AddinStopped:
            pass

    def _callback_failed(self, fn, callable_id, exc, what=""):
        """Records a callback's failure with the user's traceback; returns the error of its answer."""
        name = describe_callable(fn) if fn is not None else repr(callable_id)
        trace = format_failure(exc)
        self._note_error(f"The callback {name} failed:" + (f" {what}{trace}" if what else "\n" + trace))
        exc.__traceback__ = None  # its frames may hold proxies, to be released now
        return {"message": what + callback_error_text(exc), "traceback": trace}

    def _callback_done(self):
        with self._lock:
            self._callbacks_running -= 1
            if self._callbacks_running == 0:
                self._idle.notify_all()

    def wait_for_callbacks(self, timeout=_WAIT):
        """Waits until no callback is running; False if some still run after `timeout` seconds."""
        with self._lock:
            return self._idle.wait_for(lambda: self._callbacks_running == 0, timeout=timeout)

    def _note_error(self, text):
        with self._lock:
            self.callback_errors.append(text)
        if self.verbose:
            print(text, flush=True)

    # -- the harness's own commands to the add-in ----------------------------------------------

    def control(self, command, timeout=_WAIT, **fields):
        conn = self._conn
        future = concurrent.futures.Future()
        control_id = f"ctl-{next(self._control_ids)}"
        with self._lock:
            if conn.closed.is_set():
                raise AddinStopped("The add-in is not running")
            self._controls[control_id] = (conn.generation, future)

        def forget():
            with self._lock:
                self._controls.pop(control_id, None)

        return ask_control(conn.process.send, future, forget, control_id, command, timeout, fields)

    def _finish_control(self, message):
        with self._lock:
            entry = self._controls.pop(message.get("controlId"), None)
        if entry is not None and not entry[1].done():
            entry[1].set_result(message)

    def stats(self):
        """The add-in's object table: {objects, references, byType, ...}."""
        return self.control("stats")

    def snapshot(self, max_rows=None, max_columns=None):
        """Every sheet's used range: [{name, address, rowIndex, columnIndex, rowCount, columnCount,
        values, text}], where `values` and `text` hold the top-left `max_rows` x `max_columns` cells
        (all when not given, but never more than one request of the add-in may carry)."""
        return self.control("snapshot", maxRows=max_rows, maxColumns=max_columns)

    def stall(self):
        """The add-in holds requests unanswered until `resume()` (then answers them in order)."""
        self.control("stall")

    def resume(self):
        return self.control("resume")

    def set_settings(self, **values):
        self.settings.update(values)
        return self.control("settings", values=values)

    # -- user scripts ----------------------------------------------------------------------------

    def submit_script(self, source, filename="<script>", echo=False, extra_globals=None, on_output=None):
        """Starts a script on a thread of its own; the future gives its ScriptResult (see
        `scripts.run_source` for the arguments)."""
        future = concurrent.futures.Future()

        def run():
            if not future.set_running_or_notify_cancel():
                return
            try:
                future.set_result(run_source(source, filename, self.ostrel, echo, extra_globals, on_output))
            except BaseException as exc:  # noqa: BLE001 - handed to whoever waits for the script
                future.set_exception(exc)

        self._start_thread("script", run)
        return future

    def run_script(self, source, filename="<script>", timeout=120.0, echo=False, extra_globals=None,
                   wait_for_callbacks=True):
        """Runs a script to its end (bounded by `timeout`), then waits for the callbacks it set off.

        The Python callables the script passed to Excel are unregistered once it is over (once
        every run_script of this kernel is over, when several overlap), so that a long-lived
        kernel does not keep each run's functions, and the globals they hold, until `reset`. A
        handler that the workbook still keeps after that is answered with an error."""
        self._run_started()
        future = self.submit_script(source, filename, echo, extra_globals)
        try:
            result = future.result(timeout=timeout)
        except concurrent.futures.TimeoutError:
            # The script goes on: its callables stay registered until it ends.
            future.add_done_callback(lambda _: self._run_finished())
            return ScriptResult(ok=False, error=f"The script did not finish within {timeout:g} s\n",
                                error_type="TimeoutError", error_message="script timed out")
        except BaseException:
            self._run_finished()
            raise
        try:
            if wait_for_callbacks:
                self.wait_for_callbacks()
        finally:
            self._run_finished()
        return result

    # -- the callable registry ---------------------------------------------------------------------

    def _registered_ids(self):
        messaging = self.messaging
        with messaging._callable_lock:
            return set(messaging._callable_registry)

    def _run_started(self):
        with self._lock:
            self._runs += 1
            if self._runs == 1:
                self._registered_before = self._registered_ids()

    def _run_finished(self):
        with self._lock:
            self._runs -= 1
            if self._runs:
                return
            before, self._registered_before = self._registered_before, None
        for callable_id in self._registered_ids() - before:
            self.messaging.unregister_callable(callable_id)

    # -- request timeout ---------------------------------------------------------------------------

    def _install_request_timeout(self, seconds):
        # Proxies call messaging.send_request_sync(body) with the bridge's default timeout. An
        # instance attribute of the same name takes precedence over the method, so a shorter
        # bound can be given here (tests use it so that no failure waits long).
        bound = type(self.messaging).send_request_sync.__get__(self.messaging)
        try:
            self.messaging.send_request_sync = functools.partial(bound, timeout=seconds)
            self._timeout_override = True
        except (AttributeError, TypeError):
            self._timeout_override = False

    # -- shutdown ----------------------------------------------------------------------------------

    def close(self):
        if self._closed:
            return
        self._closed = True
        self.wait_for_callbacks(timeout=_WAIT)
        # Proxies finalised from now on (at interpreter exit too) fail fast instead of writing to
        # a closed add-in; the bridge swallows their release errors.
        self.messaging.set_send_handler(None)
        conn = self._conn
        conn.process.stop(timeout=_WAIT)
        conn.listener.join(timeout=_WAIT)
        if self._timeout_override:
            vars(self.messaging).pop("send_request_sync", None)
        # Scripts' namespaces held by callbacks were freed by the reset; collect their proxies
        # now, while the bridge can still swallow their releases.
        gc.collect()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def callback_error_text(exc):
    """The error text that a failed callback answers with, which the call that waited for it raises
    as a RuntimeError: the exception as Python prints its last line, without the class name when
    that is already a RuntimeError (so that the text does not read "RuntimeError: RuntimeError: ...")."""
    text = str(exc)
    if isinstance(exc, RuntimeError) and text and (type(exc) is RuntimeError or isinstance(exc, AttributeError)):
        return text  # the bridge's own errors: their text is the add-in's message
    return f"{type(exc).__name__}: {text}" if text else type(exc).__name__
