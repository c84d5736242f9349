"""Running one user script the way the kernel does: in a fresh namespace holding `Excel`,
`Context` and `GetSetting`, with its own print output, and its failure reported as the traceback
the user would see (the harness's own frame cut, the bridge's frames already trimmed)."""
import builtins
import dataclasses
import functools
import gc
import io
import linecache
import sys
import traceback


@dataclasses.dataclass
class ScriptResult:
    ok: bool
    output: str = ""
    error: str = ""  # the formatted traceback when the script failed
    error_type: str = ""  # the exception's class name
    error_message: str = ""

    def __str__(self):
        return self.output + (self.error if not self.ok else "")


class _Tee(io.TextIOBase):
    def __init__(self, echo):
        self._buffer = io.StringIO()
        self._echo = echo

    def write(self, text):
        self._buffer.write(text)
        if self._echo:
            sys.stdout.write(text)
            sys.stdout.flush()
        return len(text)

    def getvalue(self):
        return self._buffer.getvalue()


def _register_source(filename, source):
    # Keeps the source visible to traceback formatting even when it never was a file.
    linecache.cache[filename] = (len(source), None, source.splitlines(True), filename)


def trimmed_traceback(exc, filename):
    """The traceback text from the first frame of the user's code on."""
    tb = exc.__traceback__
    while tb is not None and tb.tb_frame.f_code.co_filename != filename:
        tb = tb.tb_next
    if tb is None:
        tb = exc.__traceback__
    return "".join(traceback.format_exception(type(exc), exc, tb))


def _drop_tracebacks(exc):
    seen = set()
    while exc is not None and id(exc) not in seen:
        seen.add(id(exc))
        exc.__traceback__ = None
        exc = exc.__cause__ or exc.__context__


def run_source(source, filename, ostrel, echo=False, extra_globals=None):
    """Runs `source` on the calling thread and returns a ScriptResult."""
    out = _Tee(echo)
    _register_source(filename, source)
    namespace = {
        "__name__": "__main__",
        "__file__": filename,
        "__builtins__": builtins,
        "Excel": ostrel.Excel,
        "Context": ostrel.Context,
        "GetSetting": ostrel.GetSetting,
        "print": functools.partial(print, file=out),
    }
    namespace.update(extra_globals or {})
    try:
        code = compile(source, filename, "exec")
        exec(code, namespace)
    except BaseException as exc:  # noqa: BLE001 - a script's failure of any kind is its result
        if isinstance(exc, KeyboardInterrupt):
            raise
        if isinstance(exc, SystemExit) and exc.code in (None, 0):
            result = ScriptResult(ok=True, output=out.getvalue())
        else:
            result = ScriptResult(ok=False, output=out.getvalue(), error=trimmed_traceback(exc, filename),
                                  error_type=type(exc).__name__, error_message=str(exc))
        # The traceback's frames hold the script's proxies; drop them here so their releases go
        # out now, from this thread.
        _drop_tracebacks(exc)
    else:
        result = ScriptResult(ok=True, output=out.getvalue())
    del namespace
    gc.collect()
    return result
