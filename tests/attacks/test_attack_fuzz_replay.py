"""The fuzz harnesses of fuzz/ replayed over seeded random inputs, without the fuzzer: the
same entry points and value builders, a fixed number of inputs. And their oracle: a fault of
the error convention must surface through a harness, not be swallowed as a Python error."""
import ctypes
import random
import types

import pytest

from attack_support import report, size  # puts fuzz/ on the path


@pytest.mark.parametrize("harness", ["fuzz_wire", "fuzz_args"])
def test_replay(ostrel, harness):
    module = __import__(harness)
    module.prepare()
    rng = random.Random(harness)
    count = size(4000, 100_000)
    try:
        for _ in range(count):
            module.one_input(rng.randbytes(rng.randrange(0, 300)))
    finally:
        ostrel.messaging.set_send_handler(None)
        ostrel.messaging.reset()
    report(f"replay {harness}", inputs=count)


METH_VARARGS_KEYWORDS = 0x0001 | 0x0002
_CFunction = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p)


class _MethodDef(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("meth", _CFunction), ("flags", ctypes.c_int),
                ("doc", ctypes.c_char_p)]


def null_without_exception():
    """A built-in function with the fault the oracle exists for: it returns NULL, an error,
    without setting an exception, which CPython reports as SystemError."""
    body = _CFunction(lambda self, args, kwargs: None)  # None is NULL
    definition = _MethodDef(b"broken", body, METH_VARARGS_KEYWORDS, None)
    new = ctypes.pythonapi.PyCFunction_NewEx
    new.restype = ctypes.py_object
    new.argtypes = [ctypes.POINTER(_MethodDef), ctypes.c_void_p, ctypes.c_void_p]
    function = new(ctypes.byref(definition), None, None)
    null_without_exception.kept = (body, definition)  # the function points into both
    return function


def python_raising_keyerror(*args, **kwargs):
    raise KeyError()


def test_a_native_null_return_is_a_system_error():
    with pytest.raises(SystemError, match="without setting an exception"):
        null_without_exception()(1, k=2)


@pytest.fixture
def fuzz_args(ostrel):
    module = __import__("fuzz_args")
    module.prepare()
    saved = list(module.TARGETS)
    yield module
    module.TARGETS[:] = saved
    ostrel.messaging.set_send_handler(None)


# An input that picks the first target and calls it with no arguments.
NO_ARGUMENTS = b"\x00\x00\x00"


@pytest.mark.parametrize("target, surfaces", [
    (null_without_exception, SystemError),
    (lambda: iter(()).__next__, StopIteration),   # native, and without a message
    (lambda: python_raising_keyerror, None),      # a raise statement of Python code: accepted
    (lambda: {}.popitem, None),                   # native, with a message: accepted
], ids=["SystemError", "native without message", "python without message", "native with message"])
def test_argument_fuzzer_surfaces_faults(fuzz_args, target, surfaces):
    fuzz_args.TARGETS[:] = [target()]
    if surfaces is None:
        fuzz_args.one_input(NO_ARGUMENTS)
    else:
        with pytest.raises(surfaces):
            fuzz_args.one_input(NO_ARGUMENTS)


@pytest.mark.parametrize("stage", ["from_wire", "to_wire"])
def test_wire_fuzzer_surfaces_a_system_error(ostrel, monkeypatch, stage):
    module = __import__("fuzz_wire")
    module.prepare()
    serializer = {"from_wire": ostrel.Serializer.from_wire, "to_wire": ostrel.Serializer.to_wire}
    serializer[stage] = null_without_exception()
    monkeypatch.setattr(module, "S", types.SimpleNamespace(**serializer))
    try:
        with pytest.raises(SystemError):
            module.one_input(bytes(range(64)))
    finally:
        ostrel.messaging.set_send_handler(None)
