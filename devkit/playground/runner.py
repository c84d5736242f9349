"""Runs the page's scripts in the kernel process against the add-in's one workbook (it stays from
run to run, and across kernel restarts, until the page resets it).

One worker thread carries out runs and resets in order. A run: a kernel that is ready (a fresh
one if the last was killed or exited), the add-in told to drop the handlers of earlier runs, the
script sent, the grid polled until the kernel reports the run's end. Stop interrupts the script
(KeyboardInterrupt in the kernel); a run still going STOP_GRACE seconds later is ended by killing
the kernel's process group, and a fresh kernel is started. A run that leaves threads or processes
behind gets a fresh kernel too, so nothing of it reaches the next run.
"""
import os
import queue
import shutil
import sys
import tempfile
import threading
import time

from .addin_host import AddinHost
from .editor_service import module_name_ok
from .kernel_process import READY_SECONDS, KernelProcess

SCRIPT_NAME = "main.py"
STOP_GRACE = 3.0
_VIEW_POLL_SECONDS = 0.25
NOT_STOPPED = "The script did not stop; its interpreter was restarted\n"


class _Run:
    def __init__(self, run_id, kernel):
        self.id = run_id
        self.kernel = kernel
        self.ended = threading.Event()
        self.outcome = None  # the kernel's run-end
        self.stop_sent = False
        self.killed = False  # by us, because Stop did not end it


class Runner:
    """`publish(message)` is called from any thread with each message for the page."""

    def __init__(self, publish, settings=None, latency=0.0):
        self._publish = publish
        self._latency = float(latency)
        self._lock = threading.Lock()
        self._jobs = queue.Queue()
        self._run_id = 0
        self._busy = False  # a run is queued or in progress (guarded by _lock)
        self._current = None  # the _Run in progress
        self._closing = False
        self._revision = None
        self._modules_dir = tempfile.mkdtemp(prefix="playground-modules-")
        self._kernel = None
        self.addin = AddinHost(self._to_kernel, settings)
        self._start_kernel()
        self._worker = threading.Thread(target=self._work, name="runner", daemon=True)
        self._worker.start()

    # -- called from the server's threads ------------------------------------------------------

    @property
    def running(self):
        return self._busy

    @property
    def kernel_pid(self):
        kernel = self._kernel
        return kernel.pid if kernel is not None else None

    def submit_run(self, code, modules):
        """Queues a run; returns None, or the reason it is refused."""
        if not isinstance(code, str) or not isinstance(modules, dict):
            return "a run needs the script's text and its modules"
        kernel = self._kernel
        loaded = kernel.loaded_modules if kernel is not None else frozenset()
        for name, text in modules.items():
            if not module_name_ok(name) or not isinstance(text, str):
                return f"{name!r} is not a module name (use a Python identifier)"
            if name == SCRIPT_NAME[:-3] or name in sys.stdlib_module_names or name in loaded:
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
            run = self._current
            if run is None or run.stop_sent or run.ended.is_set():
                return None
            run.stop_sent = True
        run.kernel.interrupt()
        timer = threading.Timer(STOP_GRACE, self._stop_overdue, args=(run,))
        timer.daemon = True
        timer.start()
        return None

    def publish_view(self, force=False, quiet=False):
        """Sends the workbook to the page when it changed since the last one sent (or always)."""
        try:
            view = self.addin.control("view", since=None if force else self._revision)
        except Exception as exc:  # noqa: BLE001 - the add-in may have stopped; the page keeps its grid
            if not quiet:
                self._publish({"type": "notice", "text": f"the workbook could not be read: {exc}"})
            return
        if view.get("unchanged"):
            return
        self._revision = view["revision"]
        self._publish({"type": "workbook", "revision": view["revision"], "sheets": view["sheets"]})

    # -- the kernel ----------------------------------------------------------------------------

    def _start_kernel(self):
        kernel = KernelProcess(self._modules_dir, self._from_kernel, self._kernel_exited, latency=self._latency)
        with self._lock:
            self._kernel = kernel
        return kernel

    def _restart_kernel(self):
        old = self._kernel
        if old is not None:
            old.kill()
        if self._closing:
            return None
        kernel = self._start_kernel()
        self._forget_python()
        return kernel

    def _forget_python(self):
        try:
            self.addin.control("forgetPython")
        except Exception:  # noqa: BLE001 - an add-in that is gone has no handlers left either
            pass

    def _to_kernel(self, message):
        kernel = self._kernel
        if kernel is not None:
            kernel.send(message)

    def _from_kernel(self, kernel, message):
        kind = message.get("kind")
        if kind in ("request", "invoke_result"):
            self.addin.send(message)
        elif kernel is not self._kernel:
            return  # a killed kernel's last words
        elif kind in ("output", "error"):
            self._publish({"type": kind, "text": str(message.get("text", ""))})
        elif kind == "run-end":
            run = self._current
            if run is not None and run.kernel is kernel and message.get("run") == run.id:
                run.outcome = message
                run.ended.set()

    def _kernel_exited(self, kernel):
        with self._lock:
            run = self._current
            current = kernel is self._kernel
        if run is not None and run.kernel is kernel:
            run.ended.set()
        elif current and not self._closing and kernel.ready.is_set():
            # One that never became ready is not started again here: it would fail the same way,
            # over and over. The next run tries once and reports what happened.
            self._jobs.put(("exited", kernel))

    def _stop_overdue(self, run):
        if run.ended.is_set():
            return
        run.killed = True
        run.kernel.kill()

    def _ready_kernel(self):
        kernel = self._kernel
        if kernel is None or kernel.returncode is not None:
            kernel = self._restart_kernel()
        if kernel is None or not kernel.wait_ready(READY_SECONDS):
            return None
        return kernel

    # -- the worker ----------------------------------------------------------------------------

    def _work(self):
        while True:
            job = self._jobs.get()
            if job is None:
                return
            try:
                if job[0] == "run":
                    self._run(*job[1:])
                elif job[0] == "reset":
                    self._reset()
                elif job[0] == "exited" and job[1] is self._kernel and not self._closing:
                    self._publish({"type": "notice", "text": "the interpreter exited; a fresh one was started"})
                    self._restart_kernel()
            except Exception as exc:  # noqa: BLE001 - the worker must survive to take the next job
                self._publish({"type": "error", "text": f"the playground failed: {exc}\n"})

    def _run(self, code, modules):
        self._run_id += 1
        run_id = self._run_id
        started = time.perf_counter()
        outcome = {"ok": False, "stopped": False, "restarted": False}
        try:
            self._publish({"type": "run-start", "run": run_id})
            kernel = self._ready_kernel()
            if kernel is None:
                if not self._closing:
                    code = self._kernel.returncode if self._kernel is not None else None
                    why = f" (it exited with code {code})" if code is not None else ""
                    self._publish({"type": "error", "text": f"the interpreter could not be started{why}\n"})
                return
            self._forget_python()
            run = _Run(run_id, kernel)
            with self._lock:
                self._current = run
            if kernel.send({"kind": "run", "run": run_id, "code": code, "modules": modules}):
                while not run.ended.wait(_VIEW_POLL_SECONDS):
                    self.publish_view(quiet=True)
            outcome.update(self._ended(run))
            with self._lock:
                self._current = None
            self.publish_view()
        finally:
            with self._lock:
                self._current = None
                self._busy = False
            seconds = outcome.pop("seconds", None)
            if seconds is None:
                seconds = time.perf_counter() - started
            self._publish({"type": "run-end", "run": run_id, "seconds": round(seconds, 3), **outcome})

    def _ended(self, run):
        """What the page is told about a run that has ended, after any restart it needs."""
        end = run.outcome
        if end is None:  # the kernel went away
            if self._closing:
                return {}
            if run.killed:
                self._publish({"type": "error", "text": NOT_STOPPED})
            else:
                self._publish({"type": "error", "text": "The interpreter exited while the script ran (exit status "
                                                        f"{run.kernel.returncode}); it was restarted\n"})
            self._restart_kernel()
            return {"stopped": run.killed, "restarted": True}
        if end.get("where"):
            self._publish({"type": "error", "text": end["where"]})
        restarted = False
        left = int(end.get("leftovers") or 0) + len(run.kernel.group_members())
        if left:
            self._publish({"type": "notice", "text": "the script left threads or processes running; they were "
                                                     "ended with its interpreter, which was restarted"})
            self._restart_kernel()
            restarted = True
        return {"ok": bool(end.get("ok")), "stopped": bool(end.get("stopped")), "restarted": restarted,
                "seconds": end.get("seconds")}

    def _reset(self):
        self.addin.restart()
        self._to_kernel({"kind": "reset"})
        self._forget_python()
        self._revision = None
        self.publish_view(force=True)
        self._publish({"type": "notice", "text": "the workbook was reset"})

    # -- shutdown ------------------------------------------------------------------------------

    def close(self):
        """Ends the kernel (whatever its script does) and the add-in; bounded by a few seconds."""
        self._closing = True
        self._jobs.put(None)
        kernel = self._kernel
        if kernel is not None:
            kernel.kill(timeout=1.0)
        self.addin.close()
        shutil.rmtree(self._modules_dir, ignore_errors=True)

    @property
    def modules_dir(self):
        return self._modules_dir

    def __repr__(self):
        return f"<Runner kernel={self.kernel_pid} addin={self.addin.pid} modules={os.path.basename(self._modules_dir)}>"
