"""Runs the page's script through the bridge, on the process's main thread, against the add-in's
one workbook (it stays from run to run until the page resets it).

Scripts run on the main thread because only there can a hanging one be stopped wherever it hangs:
Stop sends SIGINT to the main thread, which interrupts a sleep or a wait for the add-in as well as
a busy loop, and its handler raises ScriptStopped in the script. ScriptStopped is no Exception, so
`except Exception` in the script does not swallow it; a script that swallows it anyway is signalled
again, a few times, before the page is told that it does not respond.

The user's other tabs are written as modules into a directory on sys.path before each run, and
dropped from sys.modules, so an edit in one tab is what the next run imports.
"""
import importlib
import io
import os
import queue
import shutil
import signal
import sys
import tempfile
import threading
import time

from ..scripts import run_source
from .editor_service import module_name_ok

SCRIPT_NAME = "main.py"
_RESTOP_SECONDS = 1.0
_RESTOPS = 10
_VIEW_POLL_SECONDS = 0.25


class ScriptStopped(BaseException):
    """Raised in a running script when the person presses Stop."""


class _Shutdown(BaseException):
    """Raised on the main thread when the process is asked to terminate."""


class Runner:
    """`publish(message)` is called from any thread with each message for the page."""

    def __init__(self, kernel, publish):
        self.kernel = kernel
        self._publish = publish
        self._jobs = queue.Queue()
        self._lock = threading.Lock()
        self._main = threading.main_thread().ident
        self._run_id = 0
        self._busy = False  # a run is queued or in progress (guarded by _lock)
        self._running = 0  # the id of the run in progress, 0 when none is
        self._stop_for = 0  # the run that Stop was pressed for
        self._signals_sent = 0  # SIGINTs sent to stop a run, and those the handler has seen:
        self._signals_seen = 0  # any other SIGINT is a Ctrl+C in the terminal
        self._shutdown = False
        self._revision = None
        self._modules_dir = tempfile.mkdtemp(prefix="playground-modules-")
        self._module_names = set()
        self._callback_errors_seen = 0
        sys.path.insert(0, self._modules_dir)

    # -- called from the server's threads ------------------------------------------------------

    @property
    def running(self):
        return self._running != 0

    def submit_run(self, code, modules):
        """Queues a run; returns None, or the reason it is refused."""
        if not isinstance(code, str) or not isinstance(modules, dict):
            return "a run needs the script's text and its modules"
        for name, text in modules.items():
            if not module_name_ok(name) or not isinstance(text, str):
                return f"{name!r} is not a module name (use a Python identifier)"
            if name == SCRIPT_NAME[:-3] or name in sys.stdlib_module_names or self._shadows_installed(name):
                return f"a module named {name!r} would hide another module of that name; rename the tab"
        with self._lock:
            if self._busy:
                return "a script is already running"
            self._busy = True
            self._jobs.put(("run", code, dict(modules)))
        return None

    def submit_reset(self):
        with self._lock:
            if self._busy:
                return "stop the script before resetting the workbook"
            self._jobs.put(("reset",))
        return None

    def request_stop(self):
        with self._lock:
            run = self._running
            if not run or self._stop_for == run:
                return
            self._stop_for = run
        threading.Thread(target=self._stop, args=(run,), name="stop", daemon=True).start()

    def publish_view(self, force=False, quiet=False):
        """Sends the workbook to the page when it changed since the last one sent (or always)."""
        try:
            view = self.kernel.control("view", since=None if force else self._revision)
        except Exception as exc:  # noqa: BLE001 - the add-in may have stopped; the page keeps its grid
            if not quiet:
                self._publish({"type": "notice", "text": f"the workbook could not be read: {exc}"})
            return
        if view.get("unchanged"):
            return
        self._revision = view["revision"]
        self._publish({"type": "workbook", "revision": view["revision"], "sheets": view["sheets"]})

    # -- the main thread -----------------------------------------------------------------------

    def serve_forever(self):
        """Carries out queued runs and resets until interrupted (Ctrl+C) or terminated."""
        assert threading.get_ident() == self._main, "scripts must run on the main thread"
        previous = {s: signal.signal(s, h) for s, h in ((signal.SIGINT, self._on_sigint),
                                                         (signal.SIGTERM, self._on_sigterm))}
        streams = sys.stdout, sys.stderr
        sys.stdout = _Routed(sys.stdout, self, "output")
        sys.stderr = _Routed(sys.stderr, self, "error")
        try:
            while not self._shutdown:
                try:
                    job = self._jobs.get(timeout=0.5)
                except queue.Empty:
                    continue
                if job[0] == "run":
                    self._run(*job[1:])
                else:
                    self._reset()
        except _Shutdown:
            pass
        finally:
            sys.stdout, sys.stderr = streams
            for s, h in previous.items():
                signal.signal(s, h)

    def _on_sigint(self, signum, frame):
        if self._signals_seen == self._signals_sent:
            raise KeyboardInterrupt
        self._signals_seen = self._signals_sent  # signals sent close together arrive as one
        if self._stop_for and self._running == self._stop_for:
            raise ScriptStopped("stopped from the page")
        # Otherwise the run ended before the signal arrived: nothing is left to stop.

    def _on_sigterm(self, signum, frame):
        self._shutdown = True
        raise _Shutdown

    def _stop(self, run):
        for _ in range(_RESTOPS):
            if self._running != run:
                return
            self._signals_sent += 1
            signal.pthread_kill(self._main, signal.SIGINT)
            time.sleep(_RESTOP_SECONDS)
        if self._running == run:
            self._publish({"type": "notice", "text": "the script does not respond to Stop (it catches "
                                                     "every exception, or waits inside a call that cannot "
                                                     "be interrupted)"})

    def _run(self, code, modules):
        run_id = self._run_id = self._run_id + 1
        self._publish({"type": "run-start", "run": run_id})
        outcome = {"ok": False, "stopped": False, "seconds": 0.0}
        try:
            self._write_modules(modules)
            outcome = self._run_script(code)
        except OSError as exc:
            self._publish({"type": "error", "text": f"the modules could not be written: {exc}\n"})
        finally:
            with self._lock:
                self._stop_for = 0
                self._busy = False
            self._publish({"type": "run-end", "run": run_id, **outcome})

    def _run_script(self, code):
        poller_done = threading.Event()
        poller = threading.Thread(target=self._poll_view, args=(poller_done,), name="view-poll", daemon=True)
        poller.start()
        started = time.perf_counter()
        result = None
        stopped = False
        try:
            self._running = self._run_id
            try:
                result = run_source(code, SCRIPT_NAME, self.kernel.ostrel, extra_globals={"print": self._print})
            finally:
                self._running = 0
        except ScriptStopped:
            stopped = True  # it landed outside the script's own code, after the script was done
        finally:
            poller_done.set()
        seconds = time.perf_counter() - started
        if result is not None and result.error_type == ScriptStopped.__name__:
            stopped = True
            self._publish({"type": "error", "text": "Stopped:\n" + self._tab_names(_stopped_at(result.error))})
        elif result is not None and not result.ok:
            self._publish({"type": "error", "text": self._tab_names(result.error)})
        self.kernel.wait_for_callbacks()
        self._report_callback_errors()
        poller.join(timeout=5)
        self.publish_view()
        return {"ok": bool(result and result.ok), "stopped": stopped, "seconds": round(seconds, 3)}

    def _tab_names(self, text):
        """Tracebacks name the modules' files as the tabs do, not by their temporary paths."""
        return text.replace(self._modules_dir + os.sep, "")

    def _print(self, *args, sep=" ", end="\n", file=None, flush=False):
        if file is not None and file not in (sys.stdout, sys.stderr):
            print(*args, sep=sep, end=end, file=file, flush=flush)
            return
        # Callbacks print from their own threads too; their output belongs on the page as well.
        text = (sep if sep is not None else " ").join(str(a) for a in args) + (end if end is not None else "\n")
        self._publish({"type": "error" if file is sys.stderr else "output", "text": text})

    def _poll_view(self, done):
        while not done.wait(_VIEW_POLL_SECONDS):
            self.publish_view(quiet=True)

    def _report_callback_errors(self):
        errors = self.kernel.callback_errors
        for text in errors[self._callback_errors_seen:]:
            self._publish({"type": "error", "text": "A callback failed: " + text.rstrip() + "\n"})
        self._callback_errors_seen = len(errors)

    def _reset(self):
        self.kernel.restart_addin()
        self._callback_errors_seen = len(self.kernel.callback_errors)
        self._revision = None
        self.publish_view(force=True)
        self._publish({"type": "notice", "text": "the workbook was reset"})

    # -- the user's modules --------------------------------------------------------------------

    def _shadows_installed(self, name):
        module = sys.modules.get(name)
        if module is None or name in self._module_names:
            return False
        where = getattr(module, "__file__", None) or ""
        return os.path.dirname(os.path.abspath(where)) != self._modules_dir if where else True

    def _write_modules(self, modules):
        for name in self._module_names - set(modules):
            try:
                os.remove(os.path.join(self._modules_dir, name + ".py"))
            except FileNotFoundError:
                pass
        for name, text in modules.items():
            with open(os.path.join(self._modules_dir, name + ".py"), "w", encoding="utf-8") as f:
                f.write(text)
        for name in self._module_names | set(modules):
            sys.modules.pop(name, None)
        self._module_names = set(modules)
        importlib.invalidate_caches()

    def close(self):
        if self._modules_dir in sys.path:
            sys.path.remove(self._modules_dir)
        shutil.rmtree(self._modules_dir, ignore_errors=True)


class _Routed(io.TextIOBase):
    """sys.stdout or sys.stderr: what the running script writes (its modules' prints, warnings)
    goes to the page, everything else to the terminal as before."""

    def __init__(self, stream, runner, kind):
        self._stream = stream
        self._runner = runner
        self._kind = kind

    def write(self, text):
        runner = self._runner
        if runner._running and threading.get_ident() == runner._main:
            runner._publish({"type": self._kind, "text": str(text)})
        else:
            self._stream.write(text)
        return len(text)

    def flush(self):
        self._stream.flush()

    def fileno(self):
        return self._stream.fileno()

    def isatty(self):
        return self._stream.isatty()


def _stopped_at(traceback_text):
    """The traceback of a stopped script, shown as where it was when stopped."""
    lines = traceback_text.rstrip("\n").split("\n")
    if lines and lines[-1].startswith(ScriptStopped.__name__):
        lines = lines[:-1]
    return "\n".join(lines) + "\n"
