"""The oracle of the crash-only harnesses: the fuzzers here and the attack suites that accept any
Python exception from the modules. Two kinds of exception are no accepted outcome but the mark
of a broken error convention, and are raised again:

- SystemError: CPython's report of a C function that returned an error without setting an
  exception, or returned a result with one set.
- An exception without a message that native code raised (our modules, called from the harness)
  rather than a `raise` statement in Python code they called: our errors always say what went
  wrong, so an empty one is an error indicator set by accident. MemoryError is exempt, as
  CPython's own allocation failures carry no message."""
import dis
import sysconfig

# Code in these directories is the standard library's or an installed package's, not ours.
_LIBRARIES = tuple({sysconfig.get_path(name) for name in ("stdlib", "platstdlib", "purelib", "platlib")})


def _has_message(exc):
    args = exc.args
    return not (len(args) == 0 or (len(args) == 1 and type(args[0]) is str and args[0] == ""))


def _raised_natively_by_us(exc):
    """Whether the innermost frame of the traceback was calling into native code (any operation
    other than a raise statement) in code that is neither the standard library nor a package."""
    tb = exc.__traceback__
    if tb is None:
        return False
    while tb.tb_next is not None:
        tb = tb.tb_next
    code = tb.tb_frame.f_code
    if code.co_filename.startswith(_LIBRARIES):
        return False
    for instruction in dis.get_instructions(code):
        if instruction.offset == tb.tb_lasti:
            return instruction.opname not in ("RAISE_VARARGS", "RERAISE")
    return False


def reraise_if_fault(exc):
    """Raises `exc` again when it marks a fault of the modules; returns when it is an ordinary
    Python error that the harness may accept. Call it first in the catch-all."""
    if isinstance(exc, SystemError):
        raise exc
    if not isinstance(exc, MemoryError) and not _has_message(exc) and _raised_natively_by_us(exc):
        exc.add_note("an exception without a message, raised by native code")
        raise exc
