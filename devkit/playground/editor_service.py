"""The editor requests of the page, answered by `Lintora` as the kernel would: the request's
other tabs are synced as the user's modules, the buffer is analysed as the module of its own tab,
and the answer is Lintora's own dict, unchanged. Both Lintoras know the kernel's script globals
(`Excel`, `Context`, `GetSetting`), which every script has without importing them.

Completions, hovers and signature help are answered on one worker thread, in arrival order.
Markers are asked for while the person types, which also sets off completions; so that they
never queue behind completions, diagnostics have a Lintora (and a temporary module directory) of
their own on a second thread. jedi is not made for concurrent use, even of two projects (parso's
caches are shared), and the diagnostics use jedi too (the Excel member check): the two threads
take turns through one lock, so a marker request waits at most for the one request running.

A request that a newer one of the same kind replaces before it starts is not answered (its
result is SUPERSEDED): the editor has moved on, as it has for a request it cancels (`cancel`).
Neither then holds up a hover behind a completion nobody wants any more.

`warm_up()` makes the first requests as fast as later ones: it has jedi read the Excel API and
the builtins, and then, only while no request waits, pandas and numpy."""
import collections
import concurrent.futures
import keyword
import string
import threading

from devkit.editor import KERNEL_GLOBALS

REQUESTS = ("complete", "hover", "signature", "diagnostics")
WARM = "warm"

# What a request replaced by a newer one of its kind (or cancelled) gets instead of an answer.
SUPERSEDED = {"superseded": True, "error": None}

# The first requests a person makes, made once ahead of them: jedi parses and infers what they
# need, parso keeps it, and each Lintora's completion cache keeps the items' documentation.
WARM_EDITOR = (
    ("complete", "Context.workbook.", 1, len("Context.workbook.")),
    ("complete", "Excel.", 1, len("Excel.")),
    ("complete", 'Context.workbook.worksheets.getItem("Sheet1").getRange("A1").', 1,
     len('Context.workbook.worksheets.getItem("Sheet1").getRange("A1").')),
    ("signature", "Context.workbook.worksheets.getItem(", 1, len("Context.workbook.worksheets.getItem(")),
    ("complete", "values = []\nvalues.", 2, len("values.")),
    ("complete", "pri", 1, 3),
)
WARM_CHECKER = 'sheet = Context.workbook.worksheets.getItem("Sheet1")\nsheet.getRange("A1").values\n'


def _library_warm_up(imports, prefix):
    """Completions after `prefix` one first letter at a time: each is short, so a request that
    comes meanwhile waits little, and each fills the completion cache for its items; the whole
    list comes last, from the cache."""
    code = imports + prefix
    line, column = code.count("\n") + 1, len(prefix)
    steps = [("complete", code + c, line, column + 1) for c in string.ascii_letters + "_"]
    return steps + [("complete", code, line, column)]


WARM_BACKGROUND = (_library_warm_up("import pandas as pd\n", "pd.")
                   + _library_warm_up("import pandas as pd\n", "pd.DataFrame().")
                   + _library_warm_up("import numpy as np\n", "np."))


class BadRequest(ValueError):
    """The request itself is malformed; its text says how."""


def module_name_ok(name):
    return isinstance(name, str) and name.isidentifier() and not keyword.iskeyword(name)


def parse_request(kind, body):
    """Checks one request body and returns (code, line, column, path, modules)."""
    if kind not in REQUESTS:
        raise BadRequest(f"unknown editor request {kind!r}")
    if not isinstance(body, dict):
        raise BadRequest("the request body must be a JSON object")
    code = body.get("code")
    if not isinstance(code, str):
        raise BadRequest("'code' must be the buffer's text")
    path = body.get("path")
    if path is not None and not module_name_ok(path):
        raise BadRequest("'path' must be the tab's module name (a Python identifier)")
    modules = body.get("modules") or {}
    if not isinstance(modules, dict) or not all(module_name_ok(k) and isinstance(v, str) for k, v in modules.items()):
        raise BadRequest("'modules' must map module names (Python identifiers) to their text")
    line = column = 0
    if kind != "diagnostics":
        line, column = body.get("line"), body.get("column")
        if type(line) is not int or type(column) is not int:
            raise BadRequest("'line' (1-based) and 'column' (0-based) must be integers")
    return code, line, column, path, modules


class _Job:
    __slots__ = ("kind", "work", "future")

    def __init__(self, kind, work):
        self.kind, self.work, self.future = kind, work, concurrent.futures.Future()


class _Analyser:
    """One Lintora and the one thread it is used on. Requests run in arrival order; background
    work runs only when no request waits."""

    def __init__(self, name, jedi_turn):
        from cellumo_master.python_server.lintora import Lintora

        self._jedi_turn = jedi_turn
        self._cv = threading.Condition()
        self._requests = collections.deque()
        self._background = collections.deque()
        self._closed = False
        self.lintora = Lintora()
        self.lintora.set_known_globals(KERNEL_GLOBALS)
        self._synced = set()
        self._thread = threading.Thread(target=self._serve, name=name, daemon=True)
        self._thread.start()

    def submit(self, kind, work, background=False):
        """Queues `work(lintora)`; the future gives its result. A queued request of the same kind
        that has not started is superseded by this one."""
        job = _Job(kind, work)
        superseded = []
        with self._cv:
            if self._closed:
                raise RuntimeError("the editor services are closed")
            if background:
                self._background.append(job)
            else:
                superseded = [j for j in self._requests if j.kind == kind]
                for j in superseded:
                    self._requests.remove(j)
                self._requests.append(job)
            self._cv.notify()
        for j in superseded:
            j.future.set_result(SUPERSEDED)
        return job.future

    def cancel(self, future):
        """Drops the queued request whose future this is (nothing happens once it has started)."""
        with self._cv:
            job = next((j for j in self._requests if j.future is future), None)
            if job is None:
                return False
            self._requests.remove(job)
        job.future.set_result(SUPERSEDED)
        return True

    def _serve(self):
        while True:
            with self._cv:
                while not (self._requests or self._background or self._closed):
                    self._cv.wait()
                if self._closed:
                    return
                job = (self._requests or self._background).popleft()
            if not job.future.set_running_or_notify_cancel():
                continue
            try:
                with self._jedi_turn:
                    result = job.work(self)
            except BaseException as exc:  # handed to whoever waits for the answer
                job.future.set_exception(exc)
            else:
                job.future.set_result(result)

    def sync(self, path, modules):
        """Syncs the other tabs, and removes the files of tabs closed since the last request, so
        that an import of a closed tab is no longer found."""
        lt = self.lintora
        current = set(modules) | ({path} if path else set())
        for name in self._synced - current:
            lt.delete_module(name)
        self._synced = current
        if modules:
            lt.sync_modules(modules, None)

    def close(self):
        with self._cv:
            self._closed = True
            left = list(self._requests) + list(self._background)
            self._requests.clear()
            self._background.clear()
            self._cv.notify_all()
        for job in left:
            job.future.set_result(SUPERSEDED)
        self._thread.join(timeout=10)
        self.lintora.cleanup()


class EditorService:
    def __init__(self, warm=True):
        """`warm=False` makes warm_up do nothing (to measure what it saves)."""
        self._warms = warm
        jedi_turn = threading.Lock()
        self._editor = _Analyser("editor", jedi_turn)
        self._checker = _Analyser("diagnostics", jedi_turn)
        self._warm_lock = threading.Lock()
        self._warm = None  # (the Excel API and builtins, everything) once warm_up has started

    @staticmethod
    def kinds():
        """Lintora's completion kinds: jedi's type name -> the number an item carries."""
        from cellumo_master.python_server import lintora

        return dict(lintora.JEDI_TO_MONACO_KIND)

    def submit(self, kind, body):
        """Starts one request (see REQUESTS, or "warm": see warm_up, with `{"all": true}` for its
        second future); the future gives Lintora's dict, or SUPERSEDED. Raises BadRequest."""
        if kind == WARM:
            everything = isinstance(body, dict) and body.get("all") is True
            return self.warm_up()[1 if everything else 0]
        args = parse_request(kind, body)
        analyser = self._checker if kind == "diagnostics" else self._editor
        return analyser.submit(kind, lambda a: self._answer(a, kind, *args))

    def cancel(self, future):
        """The editor no longer wants the answer of `future` (a request from submit): it is not
        computed when it has not started."""
        return self._editor.cancel(future) or self._checker.cancel(future)

    def warm_up(self):
        """Starts the warm-up, once: the Excel API, the builtins and the Excel member check now,
        then pandas and numpy in the background. Returns two futures: the first is done when the
        Excel API and the builtins are warm (the page says "ready" then), the second when
        everything is. Each gives {"warm": True, "error": None}."""
        with self._warm_lock:
            if self._warm is None and not self._warms:
                self._warm = (_all_done([]), _all_done([]))
            if self._warm is None:
                now = [self._editor.submit(WARM, _warm_requests(WARM_EDITOR)),
                       self._checker.submit(WARM, lambda a: a.lintora.get_diagnostics(WARM_CHECKER))]
                later = [self._editor.submit(WARM, _warm_requests([step]), background=True)
                         for step in WARM_BACKGROUND]
                self._warm = (_all_done(now), _all_done(now + later))
            return self._warm

    @staticmethod
    def _answer(analyser, kind, code, line, column, path, modules):
        analyser.sync(path, modules)
        lt = analyser.lintora
        if kind == "complete":
            return lt.get_completions(code, line, column, path)
        if kind == "hover":
            return lt.get_hover(code, line, column, path)
        if kind == "signature":
            return lt.get_signature_help(code, line, column, path)
        return lt.get_diagnostics(code, path)

    def close(self):
        self._editor.close()
        self._checker.close()


def _warm_requests(requests):
    def work(analyser):
        lt = analyser.lintora
        for kind, code, line, column in requests:
            if kind == "complete":
                lt.get_completions(code, line, column)
            else:
                lt.get_signature_help(code, line, column)
    return work


def _all_done(futures):
    """A future that is done when all of `futures` are: {"warm": True, "error": None}, or the
    error of the first that failed."""
    done = concurrent.futures.Future()
    left = [len(futures)]
    lock = threading.Lock()

    def one_done(f):
        with lock:
            left[0] -= 1
            last = left[0] == 0
        if last and not done.done():
            failed = next((x.exception() for x in futures if x.exception() is not None), None)
            done.set_result({"warm": True, "error": None if failed is None else str(failed)})

    for f in futures:
        f.add_done_callback(one_done)
    if not futures:
        done.set_result({"warm": True, "error": None})
    return done
