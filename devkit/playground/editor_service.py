"""The editor requests of the page, answered by `Lintora` as the kernel would: the request's
other tabs are synced as the user's modules, the buffer is analysed as the module of its own tab,
and the answer is Lintora's own dict, unchanged.

jedi is not made for concurrent use of one project, so completions, hovers and signature help
run on one worker thread, in arrival order. Markers are asked for while the person types, which
also sets off completions; so that they never wait behind a slow completion, diagnostics have a
Lintora (and a temporary module directory) of their own on a second thread."""
import concurrent.futures
import keyword

REQUESTS = ("complete", "hover", "signature", "diagnostics")


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


class _Analyser:
    """One Lintora and the one thread it is used on."""

    def __init__(self, name):
        from cellumo_master.python_server.lintora import Lintora

        self.executor = concurrent.futures.ThreadPoolExecutor(1, thread_name_prefix=name)
        self.lintora = self.executor.submit(Lintora).result()
        self._synced = set()

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
        try:
            self.executor.submit(self.lintora.cleanup).result(timeout=10)
        finally:
            self.executor.shutdown(wait=False, cancel_futures=True)


class EditorService:
    def __init__(self):
        self._editor = _Analyser("editor")
        self._checker = _Analyser("diagnostics")

    @staticmethod
    def kinds():
        """Lintora's completion kinds: jedi's type name -> the number an item carries."""
        from cellumo_master.python_server import lintora

        return dict(lintora.JEDI_TO_MONACO_KIND)

    def submit(self, kind, body):
        """Starts one request (see REQUESTS); the future gives Lintora's dict. Raises BadRequest."""
        args = parse_request(kind, body)
        analyser = self._checker if kind == "diagnostics" else self._editor
        return analyser.executor.submit(self._answer, analyser, kind, *args)

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
