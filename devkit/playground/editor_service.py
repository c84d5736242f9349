"""The editor requests of the page, answered by one `Lintora` as the kernel would: the request's
other tabs are synced as the user's modules, the buffer is analysed as the module of its own tab,
and the answer is Lintora's own dict, unchanged. jedi is not made for concurrent use of one
project, so every request runs on one worker thread, in arrival order."""
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


class EditorService:
    def __init__(self):
        from cellumo_master.python_server.lintora import Lintora

        self._executor = concurrent.futures.ThreadPoolExecutor(1, thread_name_prefix="editor")
        self._lintora = self._executor.submit(Lintora).result()

    @staticmethod
    def kinds():
        """Lintora's completion kinds: jedi's type name -> the number an item carries."""
        from cellumo_master.python_server import lintora

        return dict(lintora.JEDI_TO_MONACO_KIND)

    def submit(self, kind, body):
        """Starts one request (see REQUESTS); the future gives Lintora's dict. Raises BadRequest."""
        args = parse_request(kind, body)
        return self._executor.submit(self.answer, kind, *args)

    def answer(self, kind, code, line, column, path, modules):
        """One request on the calling thread (the worker thread, or a benchmark's own)."""
        lt = self._lintora
        if kind == "complete":
            return lt.get_completions(code, line, column, path, modules)
        if kind == "hover":
            return lt.get_hover(code, line, column, path, modules)
        if kind == "signature":
            return lt.get_signature_help(code, line, column, path, modules)
        # Diagnostics take no modules of their own: the import check looks for the synced
        # files, so the other tabs are synced first.
        if modules:
            lt.sync_modules(modules, None)
        return lt.get_diagnostics(code, path)

    def close(self):
        try:
            self._executor.submit(self._lintora.cleanup).result(timeout=10)
        finally:
            self._executor.shutdown(wait=False, cancel_futures=True)
