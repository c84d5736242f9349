"""The bridge module as the kernel imports it: globals, root proxies, class shapes and import-time
behaviour (the latter in fresh interpreters)."""
import textwrap

import pytest

NAME = "cellumo_master.python_server.cellumo.ostrel"


def test_globals_in_creation_order(ostrel):
    names = [k for k in vars(ostrel) if not k.startswith("__")]
    assert names == [
        "base64", "concurrent", "dt", "threading", "uuid", "pd", "np", "Any", "Dict",
        "Serializer", "Messaging",
        "_cw__getattr__", "_cw__getitem__", "_cw__setattr__", "_cw__call__", "_cw__del__",
        "_internal_officejs_names", "OfficeJsObject", "OfficeJsArray", "OfficeJsDict",
        "messaging", "Context", "Excel", "GetSetting",
    ]
    import concurrent.futures, datetime, typing
    import numpy, pandas
    assert ostrel.concurrent.futures is concurrent.futures
    assert ostrel.dt is datetime and ostrel.pd is pandas and ostrel.np is numpy
    assert ostrel.Any is typing.Any and ostrel.Dict is typing.Dict


def test_module_docstring(ostrel):
    doc = ostrel.__doc__
    head, _, _ = doc.partition("Classes:\n")
    assert "Cellumo" in head and "synchronous" in head and "Office.js" in head
    assert doc.endswith(
        "Classes:\n- Serializer: Handles marshaling of data types between Python and JavaScript\n"
        "- Messaging: Handles message passing with synchronous send/wait (no WebSocket server)\n"
        "- OfficeJsObject: Dynamic proxy for Office.js objects\n"
        "- OfficeJsArray: Specialized proxy for arrays\n"
        "- OfficeJsDict: Specialized proxy for dictionaries\n\n"
        "Globals:\n- Excel: Root proxy object (ID 1)\n- Context: Context proxy object (ID 0)\n")


def test_root_proxies(ostrel):
    roots = [(ostrel.Context, 0, "RequestContext"), (ostrel.Excel, 1, "Excel"),
             (ostrel.GetSetting, 2, "Function")]
    for proxy, object_id, type_name in roots:
        assert type(proxy) is ostrel.OfficeJsObject
        assert proxy._internal_id == object_id
        assert proxy._internal_typeName == type_name
        assert proxy._msg_guid == ostrel.messaging._guid
        assert proxy._typ == "officejs_object"
        assert proxy._internal_cache == {}
    assert type(ostrel.messaging) is ostrel.Messaging


def test_internal_names_list(ostrel):
    assert ostrel._internal_officejs_names == [
        "_cw__getattr__", "_cw__getitem__", "_cw__setattr__", "_cw__call__", "_cw__del__",
        "__getattr__", "__getitem__", "__setattr__", "__call__", "__del__"]
    assert type(ostrel._internal_officejs_names) is list


def test_class_shapes(ostrel):
    def methods(cls):
        return [k for k in vars(cls) if not k.startswith("__") or k in (
            "__init__", "__getattr__", "__getitem__", "__setattr__", "__call__", "__del__", "__repr__")]

    assert methods(ostrel.Messaging) == [
        "__init__", "set_send_handler", "on_message", "send_request_sync", "reset",
        "register_callable", "get_callable", "unregister_callable", "send_request_nowait"]
    assert methods(ostrel.OfficeJsObject) == [
        "__init__", "__getattr__", "__getitem__", "__setattr__", "__call__", "__del__", "__repr__"]
    for cls in (ostrel.OfficeJsArray, ostrel.OfficeJsDict):
        assert methods(cls) == ["__init__", "__getattr__", "__setattr__", "__call__", "__del__", "__repr__"]
    assert ostrel.OfficeJsObject.__bases__ == (object,)
    assert ostrel.Messaging.__bases__ == (object,)
    assert ostrel.OfficeJsArray.__bases__ == (list,)
    assert ostrel.OfficeJsDict.__bases__ == (dict,)
    assert isinstance(ostrel.Serializer.__dict__["to_wire"], staticmethod)
    assert isinstance(ostrel.Serializer.__dict__["from_wire"], staticmethod)
    for cls in (ostrel.Serializer, ostrel.Messaging, ostrel.OfficeJsObject, ostrel.OfficeJsArray,
                ostrel.OfficeJsDict):
        assert cls.__module__ == NAME


def test_docstrings(ostrel):
    assert ostrel.Serializer.__doc__ == "Handles marshaling of data types between Python and JavaScript."
    assert ostrel.OfficeJsObject.__doc__ == (
        "\n    Dynamic proxy class for Office.js objects.\n\n    Provides __getattr__, __setattr__, "
        "__call__, __getitem__ to proxy\n    operations to the Office.js Add-in via WebSocket.\n    ")
    assert ostrel.OfficeJsArray.__doc__ == "Specialized proxy for arrays returned from Office.js."
    assert ostrel.OfficeJsDict.__doc__ == "Specialized proxy for dictionaries returned from Office.js."
    assert ostrel.Messaging.__doc__.startswith("\n    Handles messaging for the Python-Excel bridge.\n\n")
    assert ostrel.Messaging.__doc__.endswith(
        "    - on_message(): Can be called from listener thread to resolve pending futures\n    ")
    assert ostrel.Serializer.to_wire.__doc__ == (
        "Serialize a Python value to wire format for transmission.\n\nSupports: None, bool, int, "
        "float, str, datetime, bytes, list, dict,\nand OfficeJsObject wrappers.")
    assert ostrel.Serializer.from_wire.__doc__ == (
        "Deserialize a wire format value back to Python.\n\nHandles: Null, Bool, Int, Float, String, "
        "Date, Bytes, Array, Dict,\nand special OfficeJs object references.")
    m = ostrel.Messaging
    assert m.send_request_sync.__doc__.startswith(
        "send_request_sync(self, req: Dict[str, Any], timeout: float = 30.0)\n\n"
        "Send a request and wait synchronously for the response.\n\n")
    assert m.register_callable.__doc__.startswith("register_callable(self, callable_obj: Any) -> str\n\n")
    assert m.get_callable.__doc__.endswith("Can be called from any thread (worker or listener).")
    assert m.set_send_handler.__doc__.endswith("(e.g., via WebSocket through the Business Layer).")


def test_annotations_are_strings(ostrel):
    assert ostrel.OfficeJsObject.__init__.__annotations__ == {"object_id": "int", "type_name": "str"}
    assert ostrel.OfficeJsObject.__getattr__.__annotations__ == {"name": "str"}
    assert ostrel.OfficeJsObject.__setattr__.__annotations__ == {"name": "str"}
    assert ostrel.OfficeJsArray.__init__.__annotations__ == {"object_id": "int"}
    assert ostrel.OfficeJsDict.__setattr__.__annotations__ == {"name": "str"}


def test_messaging_attributes_in_order(ostrel):
    import threading

    m = ostrel.Messaging()
    assert list(vars(m)) == ["waiters", "_waiters_lock", "_guid", "_send_handler", "loop", "loop_thread",
                             "_callable_registry", "_callable_lock", "_next_callable_id"]
    assert m.waiters == {} and m._callable_registry == {} and m._next_callable_id == 1
    assert type(m._waiters_lock) is type(threading.Lock())
    assert type(m._callable_lock) is type(threading.Lock())
    assert m._waiters_lock is not m._callable_lock
    assert m._send_handler is None and m.loop is None and m.loop_thread is None
    assert len(m._guid) == 32 and int(m._guid, 16) >= 0 and m._guid == m._guid.lower()
    assert m._guid != ostrel.messaging._guid


@pytest.mark.parametrize("package", ["pandas", "numpy"])
def test_missing_required_package_fails_then_import_succeeds(run_python, package):
    proc = run_python(textwrap.dedent(f"""
        import sys
        sys.modules[{package!r}] = None
        try:
            import {NAME}
        except ImportError as e:
            print("refused", {package!r} in str(e))
        else:
            print("imported")
        assert {NAME!r} not in sys.modules
        del sys.modules[{package!r}]
        import {NAME} as o
        print(type(o.Excel).__name__, o.Excel._msg_guid == o.messaging._guid)
    """))
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split("\n")[:2] == ["refused True", "OfficeJsObject True"]


def test_reimport_keeps_state(run_python):
    proc = run_python(textwrap.dedent(f"""
        import importlib, sys
        import {NAME} as o
        guid = o.messaging._guid
        messaging = o.messaging
        del sys.modules[{NAME!r}]
        import {NAME} as again
        assert again.messaging is messaging and again.messaging._guid == guid
        assert importlib.reload(again).messaging is messaging
        print("ok")
    """))
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == "ok"


def test_no_handler_refuses_every_root_request(ostrel, no_handler):
    for action in (lambda: ostrel.Excel.foo, lambda: ostrel.Context[0],
                   lambda: setattr(ostrel.Excel, "foo", 1), lambda: ostrel.GetSetting("x")):
        with pytest.raises(RuntimeError, match="^No send handler registered$"):
            action()
    assert ostrel.messaging.waiters == {}


@pytest.mark.parametrize("handler", ["none", "answering", "silent"])
def test_interpreter_exit_is_silent_with_live_proxies(run_python, handler):
    proc = run_python(textwrap.dedent(f"""
        import {NAME} as o
        m = o.messaging
        if "{handler}" == "answering":
            m.set_send_handler(lambda message: m.on_message(
                {{"requestId": message["requestId"], "ok": True, "result": {{"type": "Null"}}}}))
        elif "{handler}" == "silent":
            m.set_send_handler(lambda message: None)  # a release now would wait out its time-out
        keep = [o.OfficeJsObject(i, "Range") for i in range(5)] + [o.OfficeJsArray(7), o.OfficeJsDict(8)]
        cycle = [o.OfficeJsObject(9, "Range")]
        cycle.append(cycle)
        o.anchor = keep  # module state reaching proxies
        print("exiting")
    """), timeout=60)
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, "exiting\n", "")
