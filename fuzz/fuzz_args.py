"""Fuzzes the argument parser behind every bridge and editor entry point: random positional
arguments, keyword names (also non-str ones, passed through the C call protocol) and values of
every kind. Only Python exceptions may come out, and none that marks a broken error convention
(see oracle.py). Run: python fuzz/fuzz_args.py -max_total_time=60"""
import ctypes
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import source  # noqa: E402
from oracle import reraise_if_fault  # noqa: E402

import cellumo_master.python_server.cellumo.ostrel as ostrel  # noqa: E402

m = ostrel.messaging

_call = ctypes.pythonapi.PyObject_Call
_call.restype = ctypes.py_object
_call.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]

KEYWORDS = ["self", "req", "timeout", "handler", "message", "callable_id", "callable_obj", "value",
            "wire", "object_id", "type_name", "name", "index", "mode", "path", "code", "line",
            "column", "modules", "dirty_files", "new_paths", "module_name", "severity"]


def targets():
    proxy = ostrel.OfficeJsObject(3, "Function")
    arr = ostrel.OfficeJsArray(4)
    d = ostrel.OfficeJsDict(5)
    private = ostrel.Messaging()
    out = [
        ostrel.Serializer.to_wire, ostrel.Serializer.from_wire, ostrel.Messaging,
        ostrel.OfficeJsObject, ostrel.OfficeJsArray, ostrel.OfficeJsDict,
        ostrel._cw__getattr__, ostrel._cw__getitem__, ostrel._cw__setattr__, ostrel._cw__call__,
        ostrel._cw__del__, proxy.__getattr__, proxy.__getitem__, proxy.__setattr__, proxy.__call__,
        proxy.__repr__, arr.__getattr__, arr.__setattr__, arr.__repr__, d.__getattr__, d.__setattr__,
        d.__repr__, private.set_send_handler, private.on_message, private.register_callable,
        private.get_callable, private.unregister_callable, m.on_message, m.send_request_sync,
        m.get_callable, m.unregister_callable, ostrel.OfficeJsObject.__init__, ostrel.Messaging.reset,
    ]
    try:
        import cellumo_master.python_server.lintora as lintora
    except ImportError:  # jedi missing: the bridge alone is fuzzed
        return out
    editor = lintora.Lintora()
    out += [editor.set_hover_mode, editor._is_module_name, editor.set_workspace,
            editor._parse_pyflakes_message, lintora.Lintora.set_hover_mode]
    return out


TARGETS = []
inputs = [0]


def prepare():
    m.set_send_handler(lambda message: m.on_message(
        {"requestId": message["requestId"], "ok": True, "result": {"type": "Int", "value": 1}}))
    if not TARGETS:
        TARGETS.extend(targets())


def one_input(data: bytes):
    inputs[0] += 1
    src = source.Source(data)
    fn = src.pick(TARGETS)
    args = tuple(source.value(src, 4) for _ in range(src.byte() % 5))
    kwargs = {}
    for _ in range(src.byte() % 4):
        key = src.pick(KEYWORDS + [src.text()]) if src.byte() % 8 else src.pick([1, None, source.OddStr("x")])
        kwargs[key] = source.value(src, 4)
    try:
        _call(fn, args, kwargs)
    except Exception as e:
        reraise_if_fault(e)
    if inputs[0] % 2000 == 0:
        m.reset()


def main():
    import atheris

    atheris.instrument_func(source.value)
    prepare()
    atheris.Setup(sys.argv, one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
