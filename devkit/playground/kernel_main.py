"""The playground's kernel: a child process of the playground server that runs the page's scripts
through the bridge, the way a notebook kernel runs a notebook's cells. The server keeps the page,
the editor services and the add-in; what a script does (loop for ever, swallow every exception,
start threads, fork) stays in here, where the server can interrupt it or kill the whole process
group and start a fresh one.

`python -m devkit.playground.kernel_main MODULES_DIR`. The process owns `ostrel` (its send
handler and listener, through `devkit.Kernel`) and reaches the add-in only through the server,
over one link of JSON lines on the stdin and stdout it was started with. Both are moved off
fds 0 and 1 at start, so that nothing else written to them (a C library's printf, a child
process's output) can break a message. Messages on the link, by `kind`:

  server -> kernel   response, invoke       the add-in's, for the bridge and its callbacks
                     run {run, code, modules}, reset (the workbook was replaced)
  kernel -> server   request, invoke_result for the add-in
                     ready {pid, modules}   started; `modules` are the top-level modules loaded
                     output, error {text}   what the script and its callbacks write
                     run-end {run, ok, stopped, where, seconds, leftovers}

Scripts run on the main thread, where the SIGINT of the server's Stop raises KeyboardInterrupt
wherever the script is: a busy loop, a sleep, and a wait for the add-in as soon as that wait
wakes for signals. Outside a run SIGINT is ignored. Messages are written by one thread of their
own, so an interrupt landing in the main thread never leaves half a message on the link.
"""
import builtins
import importlib
import io
import linecache
import os
import queue
import signal
import sys
import threading
import time

from ..channel import encode_message, messages
from ..kernel import Kernel, _Connection
from ..scripts import drop_tracebacks, run_source

SCRIPT_NAME = "main.py"
_ADDIN_KINDS = ("response", "invoke", "control_result")
_CALLBACK_THREAD_PREFIX = "callback-"


class Link:
    """The kernel's end of its link to the server."""

    def __init__(self):
        self._in = os.fdopen(os.dup(0), "rb")
        # Buffered and flushed per message: a raw write that a signal interrupts may write only
        # part of a message.
        self._out = os.fdopen(os.dup(1), "wb")
        devnull = os.open(os.devnull, os.O_RDONLY)
        os.dup2(devnull, 0)
        os.close(devnull)
        os.dup2(2, 1)
        # SimpleQueue's put is safe wherever an interrupt or a finaliser lands.
        self._outgoing = queue.SimpleQueue()
        self.for_addin = queue.SimpleQueue()
        self.jobs = queue.SimpleQueue()
        threading.Thread(target=self._write_all, name="link-writer", daemon=True).start()
        threading.Thread(target=self._read_all, name="link-reader", daemon=True).start()

    def send(self, message):
        self._outgoing.put(encode_message(message).encode("utf-8"))

    def _write_all(self):
        while True:
            data = self._outgoing.get()
            try:
                self._out.write(data)
                self._out.flush()
            except OSError:
                _end_of_server()

    def _read_all(self):
        for message in messages(self._in):
            if message.get("kind") in _ADDIN_KINDS:
                self.for_addin.put(message)
            else:
                self.jobs.put(message)
        _end_of_server()


def _end_of_server():
    # The server is gone (or closed the link to end us): so is everything this kernel started.
    if os.getpgrp() == os.getpid():
        os.killpg(os.getpid(), signal.SIGKILL)
    os._exit(0)


class _AddinByLink:
    """What `Kernel` takes for the add-in process: the server relays both ways."""

    pid = None
    stderr_lines = ()

    def __init__(self, link):
        self._link = link

    def send(self, message):
        self._link.send(message)

    def read(self):
        return self._link.for_addin.get()

    def stop(self, timeout=None):
        self._link.for_addin.put(None)

    kill = stop


class LinkedKernel(Kernel):
    """The kernel harness with the add-in reached through the server."""

    def __init__(self, link, **options):
        self._link = link
        super().__init__(**options)

    def _connect(self):
        conn = _Connection(_AddinByLink(self._link), next(self._generation))
        conn.listener = threading.Thread(target=self._listen, args=(conn,), name=f"listener-{conn.generation}",
                                         daemon=True)
        with self._lock:
            self._conn = conn
        conn.listener.start()


class _LinkStream(io.TextIOBase):
    """sys.stdout or sys.stderr of the kernel: everything written goes to the page."""

    def __init__(self, link, kind):
        self._link = link
        self._kind = kind

    @property
    def encoding(self):
        return "utf-8"

    def writable(self):
        return True

    def write(self, text):
        if text:
            self._link.send({"kind": self._kind, "text": str(text)})
        return len(text)


class KernelMain:
    def __init__(self, modules_dir, latency=0.0):
        self.link = Link()
        self.modules_dir = modules_dir
        self._module_names = set()
        self._interruptible = False
        sys.path.insert(0, modules_dir)
        self.kernel = LinkedKernel(self.link, latency=latency)
        self._streams = _LinkStream(self.link, "output"), _LinkStream(self.link, "error")
        self._take_back_the_process()
        loaded = sorted({name.partition(".")[0] for name in sys.modules})
        self.link.send({"kind": "ready", "pid": os.getpid(), "modules": loaded})

    def _take_back_the_process(self):
        # What an earlier script may have replaced for itself: Stop's interrupt, and where
        # printed text goes.
        signal.signal(signal.SIGINT, self._on_sigint)
        sys.stdout, sys.stderr = self._streams

    def _on_sigint(self, signum, frame):
        if self._interruptible:
            raise KeyboardInterrupt

    def serve(self):
        while True:
            job = self.link.jobs.get()
            kind = job.get("kind")
            if kind == "run":
                outcome = {"kind": "run-end", "run": job.get("run"), "ok": False, "stopped": False, "where": "",
                           "seconds": 0.0, "leftovers": 0}
                try:
                    self._run(job, outcome)
                except KeyboardInterrupt:
                    outcome["stopped"] = True  # it landed after the script, before the run's end
                self._interruptible = False
                self.link.send(outcome)
            elif kind == "reset":
                self.kernel.messaging.reset()

    def _run(self, job, outcome):
        # Everything earlier runs registered (callables, and the handlers that name them) goes,
        # and with it the namespaces they hold.
        self.kernel.messaging.reset()
        self._take_back_the_process()
        errors_before = len(self.kernel.callback_errors)
        threads_before = set(threading.enumerate())
        modules = job.get("modules") or {}
        hidden = sorted(name for name in modules if self._would_hide(name))
        if hidden:
            self._error(f"a module named {hidden[0]!r} would hide another module of that name; rename the tab\n")
            return
        try:
            self._write_modules(modules)
        except OSError as exc:
            self._error(f"the modules could not be written: {exc}\n")
            return
        started = time.perf_counter()
        callbacks_idle = True
        self._interruptible = True
        try:
            try:
                result = run_source(job.get("code") or "", SCRIPT_NAME, self.kernel.ostrel,
                                    extra_globals={"print": builtins.print})
                if not result.ok:
                    self._error(self._tab_names(result.error))
                outcome["ok"] = result.ok
                del result
                callbacks_idle = self.kernel.wait_for_callbacks()
            finally:
                self._interruptible = False
        except KeyboardInterrupt as exc:
            outcome["stopped"] = True
            outcome["where"] = self._stopped_at(exc.__traceback__)
            drop_tracebacks(exc)
            del exc
            # A callback the script was waiting for may still be running; it must not go on
            # into the next run.
            callbacks_idle = self.kernel.wait_for_callbacks(timeout=0.2)
        outcome["seconds"] = round(time.perf_counter() - started, 3)
        failed = self.kernel.callback_errors[errors_before:]
        for text in failed:
            self._error("A callback failed: " + self._tab_names(text).rstrip() + "\n")
        if failed:
            outcome["ok"] = False
        left = [t for t in threading.enumerate() if t not in threads_before and t.is_alive()
                and not t.name.startswith(_CALLBACK_THREAD_PREFIX)]
        outcome["leftovers"] = len(left) + (0 if callbacks_idle else 1)

    def _error(self, text):
        self.link.send({"kind": "error", "text": text})

    def _stopped_at(self, tb):
        """"Stopped at main.py, line N" for the innermost frame of the user's own files."""
        where = None
        while tb is not None:
            code = tb.tb_frame.f_code
            name = self._user_file(code.co_filename)
            if name is not None:
                where = (name, code.co_filename, tb.tb_lineno)
            tb = tb.tb_next
        if where is None:
            return "Stopped\n"
        name, filename, line = where
        source = linecache.getline(filename, line).strip()
        return f"Stopped at {name}, line {line}\n" + (f"    {source}\n" if source else "")

    def _user_file(self, filename):
        if filename == SCRIPT_NAME:
            return filename
        if os.path.dirname(filename) == self.modules_dir:
            return os.path.basename(filename)
        return None

    def _tab_names(self, text):
        """Tracebacks name the modules' files as the tabs do, not by their temporary paths."""
        return text.replace(self.modules_dir + os.sep, "")

    def _would_hide(self, name):
        """True for a tab named like a module this interpreter has loaded from elsewhere (the
        bridge's numpy, say): dropping that one from sys.modules would break what uses it."""
        module = sys.modules.get(name)
        if module is None or name in self._module_names:
            return False
        where = getattr(module, "__file__", None)
        return not where or os.path.dirname(os.path.abspath(where)) != self.modules_dir

    def _write_modules(self, modules):
        for name in self._module_names - set(modules):
            try:
                os.remove(os.path.join(self.modules_dir, name + ".py"))
            except FileNotFoundError:
                pass
        for name, text in modules.items():
            with open(os.path.join(self.modules_dir, name + ".py"), "w", encoding="utf-8") as f:
                f.write(text)
        for name in self._module_names | set(modules):
            sys.modules.pop(name, None)
        self._module_names = set(modules)
        importlib.invalidate_caches()


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    latency = float(argv[1]) if len(argv) > 1 else 0.0
    KernelMain(os.path.abspath(argv[0]), latency).serve()


if __name__ == "__main__":
    main()
