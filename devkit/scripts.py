"""Running user code the way the kernel does, for every front end of the devkit (the command line,
the tests, the playground):

- `run_source` runs one script on the calling thread in a fresh namespace holding `Excel`,
  `Context` and `GetSetting`, hands its printed text to a callback as it is printed, and returns a
  `ScriptResult`;
- `format_failure` turns an exception of user code into the text the user should see: the
  traceback from the user's own first frame on (the devkit's frames cut, the bridge's frames
  already trimmed by the bridge), and a syntax error in the script as Python reports it;
- `describe_callable` names a Python function by its qualified name, file and line, for reports
  of a failing callback.
"""
import builtins
import dataclasses
import functools
import gc
import io
import linecache
import os
import sys
import traceback

_DEVKIT_DIR = os.path.dirname(os.path.abspath(__file__)) + os.sep


@dataclasses.dataclass
class ScriptResult:
    ok: bool
    output: str = ""
    error: str = ""  # the formatted traceback when the script failed
    error_type: str = ""  # the exception's class name
    error_message: str = ""

    def __str__(self):
        return self.output + (self.error if not self.ok else "")


class _Output(io.TextIOBase):
    """The script's print target: keeps the text and passes each piece on as it is written."""

    def __init__(self, on_output):
        self._buffer = io.StringIO()
        self._on_output = on_output

    def writable(self):
        return True

    def write(self, text):
        self._buffer.write(text)
        if self._on_output is not None and text:
            self._on_output(text)
        return len(text)

    def getvalue(self):
        return self._buffer.getvalue()


def _echo(text):
    sys.stdout.write(text)
    sys.stdout.flush()


def _register_source(filename, source):
    # Keeps the source visible to traceback formatting even when it never was a file.
    linecache.cache[filename] = (len(source), None, source.splitlines(True), filename)


def _is_devkit_frame(tb):
    return tb.tb_frame.f_code.co_filename.startswith(_DEVKIT_DIR)


def format_failure(exc):
    """The text of an exception raised by user code: the traceback from the first frame that is not
    the devkit's own. A syntax error that stops the script before it runs has no such frame and is
    shown as Python shows it for a script (its file, line, the caret; no traceback header)."""
    tb = exc.__traceback__
    while tb is not None and _is_devkit_frame(tb):
        tb = tb.tb_next
    return "".join(traceback.format_exception(type(exc), exc, tb))


def describe_callable(fn):
    """`qualname (file, line N)` for a Python function, bound method, lambda or callable object; the
    repr for anything that has no code of its own (a builtin, say)."""
    target = getattr(fn, "__func__", fn)
    while isinstance(target, functools.partial):
        target = target.func
    code = getattr(target, "__code__", None)
    if code is None:
        call = getattr(type(target), "__call__", None)
        code = getattr(getattr(call, "__func__", call), "__code__", None)
        name = getattr(type(target), "__qualname__", None) if code is not None else None
    else:
        name = getattr(target, "__qualname__", None) or code.co_name
    if code is None or name is None:
        return repr(fn)
    return f"{name} ({code.co_filename}, line {code.co_firstlineno})"


def drop_tracebacks(exc):
    """Drops the tracebacks of an exception and of its causes and contexts, so that the frames they
    hold (and the script's namespace) can be freed."""
    seen = set()
    while exc is not None and id(exc) not in seen:
        seen.add(id(exc))
        exc.__traceback__ = None
        exc = exc.__cause__ or exc.__context__


def run_source(source, filename, ostrel, echo=False, extra_globals=None, on_output=None):
    """Runs `source` on the calling thread and returns a ScriptResult.

    source         the script's text
    filename       the name its tracebacks show (it need not exist as a file)
    ostrel         the bridge module; its `Excel`, `Context` and `GetSetting` are the script's globals
    echo           also write the printed text to sys.stdout as it comes
    extra_globals  further names for the script's namespace
    on_output      called with each piece of text the script prints, as it prints it

    The script runs as `__main__`; `sys.exit()` or `sys.exit(0)` ends it successfully. A
    KeyboardInterrupt is passed on to the caller; any other exception is the script's failure.
    """
    if echo and on_output is None:
        on_output = _echo
    elif echo:
        passed_on = on_output

        def on_output(text):
            passed_on(text)
            _echo(text)

    out = _Output(on_output)
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
            result = ScriptResult(ok=False, output=out.getvalue(), error=format_failure(exc),
                                  error_type=type(exc).__name__, error_message=str(exc))
        # The traceback's frames hold the script's proxies; drop them here so their releases go
        # out now, from this thread.
        drop_tracebacks(exc)
    else:
        result = ScriptResult(ok=True, output=out.getvalue())
    del namespace
    gc.collect()
    return result
