"""The object proxy as user code touches it: request bodies for every operation, internal names,
the stamp check, failures, late binding, traceback trimming and finalisation."""
import sys
import textwrap
import traceback

import pytest

from ostrel_fakes import ok, wire


def test_internal_names_are_local(ostrel, addin):
    assert ostrel.Excel._internal_id == 1
    assert ostrel.Excel._internal_typeName == "Excel"
    assert ostrel.Excel._typ == "officejs_object"
    assert ostrel.Excel._internal_cache == {}
    proxy = ostrel.OfficeJsObject(9, "Range")
    proxy._msg_guid = proxy._msg_guid
    proxy._internal_id = 10
    proxy._internal_typeName = "Chart"
    proxy._typ = "x"
    assert addin.sent == []
    assert vars(proxy) == {"_internal_id": 10, "_internal_typeName": "Chart", "_msg_guid": proxy._msg_guid,
                           "_typ": "x", "_internal_cache": {}}
    proxy._internal_cache = {}
    assert addin.bodies() == [{"method": "SET", "name": "_internal_cache",
                               "value": wire("Dict", {}), "caller": 10}]
    del proxy.__dict__["_typ"]
    with pytest.raises(AttributeError):
        proxy._typ  # an unset internal name is not asked of the add-in
    assert len(addin.sent) == 1


def test_get(ostrel, addin):
    addin.respond = lambda message: ok(wire("String", "Sheet1"))
    assert ostrel.Excel.foo == "Sheet1"
    (message,) = addin.sent
    assert list(message) == ["method", "name", "caller", "requestId", "kind"]
    assert addin.bodies() == [{"method": "GET", "name": "foo", "caller": 1}]


def test_get_decodes_proxies(ostrel, addin):
    addin.respond = lambda message: ok(wire("Worksheet", 31, True))
    sheet = ostrel.Context.workbook
    assert type(sheet) is ostrel.OfficeJsObject
    assert repr(sheet) == "<OfficeJsObject Worksheet id=31>" == str(sheet)
    assert addin.bodies() == [{"method": "GET", "name": "workbook", "caller": 0}]
    addin.respond = lambda message: ok(wire("Int", 4))
    assert sheet.count == 4
    assert addin.bodies()[-1] == {"method": "GET", "name": "count", "caller": 31}


def test_set(ostrel, addin):
    assert setattr(ostrel.Excel, "foo", 5) is None
    ostrel.Excel.bar = [1, None]
    assert addin.bodies() == [
        {"method": "SET", "name": "foo", "value": wire("Int", 5), "caller": 1},
        {"method": "SET", "name": "bar", "value": wire("Array", [wire("Int", 1), wire("Null", None)]),
         "caller": 1},
    ]
    assert list(addin.sent[1]) == ["method", "name", "value", "caller", "requestId", "kind"]


@pytest.mark.parametrize("index,text", [
    (3, "3"), (-1, "-1"), (True, "True"), (slice(1, 5), "1:5:"), (slice(None), "::"),
    (slice(None, None, -1), "::-1"), (slice("A1", "B2"), "A1:B2:"), (slice(1.5, None, 2), "1.5::2"),
])
def test_getitem(ostrel, addin, index, text):
    addin.respond = lambda message: ok(wire("Float", 1.5))
    assert ostrel.Excel[index] == 1.5
    assert addin.bodies() == [{"method": "GETITEM", "name": text, "caller": 1}]


def test_getitem_refuses_other_indexes_before_anything_else(ostrel, addin):
    stale = ostrel.OfficeJsObject(3, "Range")
    stale._msg_guid = "old"
    for proxy in (ostrel.Excel, stale):
        for index in (2.0, "A1", None, (1, 2)):
            with pytest.raises(TypeError, match="^Index must be an integer or a slice$"):
                proxy[index]
    assert addin.sent == []


def test_call(ostrel, addin):
    addin.respond = lambda message: ok(wire("String", "on"))
    assert ostrel.GetSetting("theme", b=2, a=[1]) == "on"
    assert addin.bodies() == [{"method": "CALL", "name": "__call__", "args": [
        {"arg_type": "PLACED", "value": wire("String", "theme")},
        {"arg_type": "NAMED", "name": "b", "value": wire("Int", 2)},
        {"arg_type": "NAMED", "name": "a", "value": wire("Array", [wire("Int", 1)])},
    ], "caller": 2}]
    assert list(addin.sent[0]) == ["method", "name", "args", "caller", "requestId", "kind"]
    ostrel.GetSetting()
    assert addin.bodies()[-1]["args"] == []
    # Callables passed as arguments are registered for the kernel.
    ostrel.GetSetting(print)
    record = addin.bodies()[-1]["args"][0]["value"]
    assert record["type"] == "Python_Function" and ostrel.messaging.get_callable(record["value"]) is print


def test_only_functions_are_callable(ostrel, addin):
    for proxy in (ostrel.Excel, ostrel.Context, ostrel.OfficeJsObject(5, "function")):
        with pytest.raises(TypeError, match="^Only Function-typed SpecialObjects are callable$"):
            proxy(1)
    assert addin.sent == []


def test_stale_proxies_are_refused_before_sending(ostrel, addin):
    addin.respond = lambda message: ok(wire("Range", 40, True))
    rng = ostrel.Excel.range
    fn = ostrel.OfficeJsObject(41, "Function")
    ostrel.messaging.reset()
    addin.sent.clear()
    for action in (lambda: rng.values, lambda: rng[0], lambda: setattr(rng, "values", 1), lambda: rng(),
                   lambda: fn()):
        with pytest.raises(RuntimeError, match="^Excel Object used after messaging context was stopped$"):
            action()
    assert addin.sent == []
    # Internal names stay local and the roots keep working.
    assert rng._internal_id == 40
    addin.respond = lambda message: ok(wire("Null", None))
    rng._msg_guid = ostrel.messaging._guid
    rng.values
    ostrel.Excel.name
    assert [b["method"] for b in addin.bodies()] == ["GET", "GET"]
    # A stale proxy still releases its object.
    stale = ostrel.OfficeJsObject(42, "Range")
    stale._msg_guid = "old"
    del stale
    assert addin.bodies()[-1] == {"method": "DEL", "name": "__del__", "caller": 42}


def test_a_refused_attribute_read_is_both_missing_and_a_runtime_error(ostrel, addin):
    addin.respond = lambda message: {"ok": False, "error": {"message": "no such property"}}
    with pytest.raises(RuntimeError, match="^no such property$") as info:
        ostrel.Excel.missing
    exc = info.value
    assert isinstance(exc, AttributeError)
    assert traceback.format_exception_only(exc) == ["ostrel.OfficeJsAttributeError: no such property\n"]
    assert frames(exc) == ["test_a_refused_attribute_read_is_both_missing_and_a_runtime_error"]
    # The data model's probes see a missing attribute, each after one request.
    addin.sent.clear()
    assert hasattr(ostrel.Excel, "missing") is False
    assert getattr(ostrel.Excel, "missing", "dflt") == "dflt"
    assert [b["method"] for b in addin.bodies()] == ["GET", "GET"]
    # Raised inside a handler, it chains as a raise there would.
    try:
        raise KeyError("outer")
    except KeyError as outer:
        with pytest.raises(AttributeError) as info:
            ostrel.Excel.missing
        assert info.value.__context__ is outer
    # Subscripts, writes and calls keep their errors, and so does a read refused for another
    # reason than the add-in's answer.
    for action in (lambda: ostrel.Excel[0], lambda: setattr(ostrel.Excel, "x", 1), lambda: ostrel.GetSetting("a"),
                   lambda: ostrel.messaging.send_request_sync({"method": "SET", "name": "x"})):
        with pytest.raises(RuntimeError, match="^no such property$") as info:
            action()
        assert type(info.value) is RuntimeError
    stale = ostrel.OfficeJsObject(9, "Range")
    stale._msg_guid = "old"
    with pytest.raises(RuntimeError, match="stopped") as info:
        hasattr(stale, "missing")
    assert type(info.value) is RuntimeError


def test_a_read_without_a_handler_still_fails_loudly(ostrel, no_handler):
    with pytest.raises(RuntimeError, match="^No send handler registered$") as info:
        hasattr(ostrel.Excel, "missing")
    assert type(info.value) is RuntimeError


@pytest.mark.parametrize("kind", ["OfficeJsObject", "OfficeJsArray", "OfficeJsDict"])
def test_protocol_names_are_refused_locally(ostrel, addin, kind):
    proxy = ostrel.OfficeJsObject(9, "Range") if kind == "OfficeJsObject" else getattr(ostrel, kind)(9)
    for name in ("__array__", "__array_struct__", "__deepcopy__", "__fspath__", "__x__"):
        assert getattr(proxy, name, None) is None
        with pytest.raises(AttributeError) as info:
            getattr(proxy, name)
        assert type(info.value) is AttributeError
        assert str(info.value) == f"'{kind}' object has no attribute '{name}'"
    vars(proxy)["_msg_guid"] = "old"  # even a stale proxy answers them
    assert not hasattr(proxy, "__array_interface__")
    assert addin.sent == []
    # Names merely close to the form still go to the add-in.
    vars(proxy)["_msg_guid"] = ostrel.messaging._guid
    for name in ("__x", "x__", "____", "_fields"):
        getattr(proxy, name)
    assert [b["name"] for b in addin.bodies()] == ["__x", "x__", "____", "_fields"]


def test_dict_proxies_answer_local_keys_before_refusing_protocol_names(ostrel, addin):
    d = ostrel.OfficeJsDict(9)
    d["__array__"] = "a local entry"
    assert d.__array__ == "a local entry"
    assert not hasattr(d, "__array_struct__")
    assert addin.sent == []


def test_numpy_and_pandas_read_decoded_values_without_requests(ostrel, addin):
    np = pytest.importorskip("numpy")
    pd = pytest.importorskip("pandas")
    addin.respond = lambda message: ok({"type": "Array", "id": 20, "value": [
        {"type": "Array", "id": 21 + r, "value": [wire("Int", r * 2 + c) for c in range(2)]} for r in range(3)]})
    values = ostrel.Excel.values
    addin.sent.clear()
    assert np.array(values).tolist() == [[0, 1], [2, 3], [4, 5]]
    assert pd.Series(values[1]).tolist() == [2, 3]
    assert addin.sent == []


class FakeMessaging:
    """Stands in for the module's `messaging`: returns the given responses as successes."""

    def __init__(self, guid, response):
        self._guid = guid
        self.response = response
        self.bodies = []

    def send_request_sync(self, body):
        self.bodies.append(body)
        return self.response


@pytest.mark.parametrize("response,texts", [
    ({"ok": False}, ["GET failed for foo", "GET ITEM failed for slice(1, 5, None)", "SET failed for foo",
                     "CALL failed"]),
    ({"ok": 0, "error": {"message": "nope"}}, ["nope"] * 4),
    ({"error": {}}, ["GET failed for foo", "GET ITEM failed for slice(1, 5, None)", "SET failed for foo",
                     "CALL failed"]),
    ({"ok": None, "error": "plain text"}, ["plain text"] * 4),
    ({"ok": None, "error": None}, ["GET failed for foo", "GET ITEM failed for slice(1, 5, None)",
                                   "SET failed for foo", "CALL failed"]),
])
def test_unsuccessful_responses(ostrel, monkeypatch, response, texts):
    fake = FakeMessaging(ostrel.messaging._guid, response)
    monkeypatch.setattr(ostrel, "messaging", fake)
    actions = [(AttributeError, lambda: ostrel.Excel.foo), (AttributeError, lambda: ostrel.Excel[1:5]),
               (AttributeError, lambda: setattr(ostrel.Excel, "foo", 1)), (RuntimeError, lambda: ostrel.GetSetting())]
    for (exc, action), text in zip(actions, texts):
        with pytest.raises(exc) as info:
            action()
        assert str(info.value) == text
        if action is actions[0][1]:  # a failed read is also a RuntimeError
            assert isinstance(info.value, RuntimeError) and type(info.value).__name__ == "OfficeJsAttributeError"
        else:
            assert type(info.value) is exc
    assert [b["method"] for b in fake.bodies] == ["GET", "GETITEM", "SET", "CALL"]


def test_success_without_result_fails_in_decoding(ostrel, monkeypatch):
    monkeypatch.setattr(ostrel, "messaging", FakeMessaging(ostrel.messaging._guid, {"ok": True}))
    with pytest.raises(TypeError, match="^Argument 'wire' has incorrect type"):
        ostrel.Excel.foo
    assert ostrel.Excel.__setattr__("foo", 1) is None  # SET reads only ok


def test_late_binding_of_messaging_serializer_and_operations(ostrel, monkeypatch):
    fake = FakeMessaging(ostrel.messaging._guid, {"ok": True, "result": "raw"})
    monkeypatch.setattr(ostrel, "messaging", fake)

    class Codec:
        @staticmethod
        def to_wire(value):
            return ("encoded", value)

        @staticmethod
        def from_wire(w):
            return ("decoded", w)

    monkeypatch.setattr(ostrel, "Serializer", Codec)
    assert ostrel.Excel.foo == ("decoded", "raw")
    ostrel.Excel.foo = 3
    assert fake.bodies[-1]["value"] == ("encoded", 3)
    # A proxy made now takes its stamp from the replaced messaging.
    fake._guid = "other"
    assert ostrel.OfficeJsObject(1, "X")._msg_guid == "other"

    monkeypatch.setattr(ostrel, "_cw__getattr__", lambda self, name: f"local {name}")
    assert ostrel.Excel.anything == "local anything"
    monkeypatch.undo()
    assert ostrel.Excel._internal_id == 1


def test_missing_globals_raise_name_error(run_python):
    proc = run_python(textwrap.dedent("""
        import sys
        import cellumo_master.python_server.cellumo.ostrel as o
        excel = o.Excel
        seen = []
        sys.unraisablehook = lambda info: seen.append(type(info.exc_value).__name__)
        for name, action in [("_cw__getattr__", lambda: excel.foo), ("messaging", lambda: excel.foo),
                             ("Serializer", lambda: setattr(excel, "foo", 1)),
                             ("OfficeJsDict", lambda: o.Serializer.from_wire({"type": "Dict", "id": 1})),
                             ("OfficeJsObject", lambda: o.Serializer.to_wire(object()))]:
            saved = vars(o).pop(name)
            try:
                action()
            except NameError as e:
                print(name, name in str(e))
            vars(o)[name] = saved
        # DEL swallows a missing messaging; a missing _cw__del__ is reported by the interpreter.
        p = o.OfficeJsObject(5, "X")
        saved = vars(o).pop("messaging")
        del p
        vars(o)["messaging"] = saved
        saved = vars(o).pop("_cw__del__")
        p = o.OfficeJsObject(5, "X"); del p
        vars(o)["_cw__del__"] = saved
        print(seen)
    """))
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split("\n")[:6] == [
        "_cw__getattr__ True", "messaging True", "Serializer True", "OfficeJsDict True", "OfficeJsObject True",
        "['NameError']"]


def test_finalisation_sends_del_per_proxy(ostrel, addin):
    a = ostrel.OfficeJsObject(12, "Range")
    b = ostrel.OfficeJsObject(12, "Range")
    del a, b
    assert addin.bodies() == [{"method": "DEL", "name": "__del__", "caller": 12}] * 2
    assert list(addin.sent[0]) == ["method", "name", "caller", "requestId", "kind"]


def test_finalisation_swallows_failures(ostrel, no_handler, unraisable, monkeypatch):
    p = ostrel.OfficeJsObject(12, "Range")
    del p
    q = ostrel.OfficeJsObject(13, "Range")
    del q.__dict__["_internal_id"]
    del q
    assert unraisable == []
    monkeypatch.setattr(ostrel, "_cw__del__", None)
    r = ostrel.OfficeJsObject(14, "Range")
    del r
    assert len(unraisable) == 1 and isinstance(unraisable[0], TypeError)


def test_del_lets_non_exceptions_through(ostrel, monkeypatch):
    def interrupted(body):
        raise KeyboardInterrupt

    fake = FakeMessaging(ostrel.messaging._guid, None)
    fake.send_request_sync = interrupted
    monkeypatch.setattr(ostrel, "messaging", fake)
    with pytest.raises(KeyboardInterrupt):
        ostrel._cw__del__(ostrel.Excel)
    assert ostrel._cw__del__(self=object()) is None  # no _internal_id: swallowed


def test_local_special_methods_send_nothing(ostrel, addin):
    assert repr(ostrel.Excel) == str(ostrel.Excel) == "<OfficeJsObject Excel id=1>"
    assert repr(ostrel.Context) == "<OfficeJsObject RequestContext id=0>"
    assert "_internal_id" in dir(ostrel.Excel)
    assert ostrel.Excel == ostrel.Excel and ostrel.Excel != ostrel.Context
    hash(ostrel.Excel)
    ostrel.Excel.__class__, ostrel.Excel.__dict__, ostrel.Excel.__doc__, ostrel.Excel.__reduce_ex__
    assert addin.sent == []


def test_argument_rule(ostrel, addin):
    O = ostrel.OfficeJsObject
    assert O(1.9, "X")._internal_id == 1 and type(O(True, "X")._internal_id) is int
    assert O(object_id=3, type_name="X")._internal_id == 3
    with pytest.raises(TypeError, match=r"^Argument 'object_id' has incorrect type \(expected int, got NoneType\)$"):
        O(None, "X")
    with pytest.raises(TypeError, match=r"^Argument 'object_id' has incorrect type \(expected int, got str\)$"):
        O("1", "X")
    with pytest.raises(TypeError, match=r"^Argument 'type_name' has incorrect type \(expected str, got NoneType\)$"):
        O(1, None)
    with pytest.raises(TypeError, match=r"^__init__\(\) takes exactly 3 positional arguments \(2 given\)$"):
        O(1)
    with pytest.raises(TypeError, match=r"^_cw__getattr__\(\) takes exactly 2 positional arguments \(1 given\)$"):
        ostrel._cw__getattr__(ostrel.Excel)
    with pytest.raises(TypeError, match=r"^Argument 'name' has incorrect type \(expected str, got int\)$"):
        ostrel.Excel.__getattr__(1)
    with pytest.raises(TypeError, match=r"^Argument 'name' has incorrect type \(expected str, got int\)$"):
        ostrel._cw__setattr__(ostrel.Excel, 1, 2)
    with pytest.raises(TypeError, match=r"^_cw__call__\(\) takes at least 1 positional argument \(0 given\)$"):
        ostrel._cw__call__()
    with pytest.raises(TypeError, match=r"^__call__\(\) takes at least 1 positional argument \(0 given\)$"):
        ostrel.OfficeJsObject.__call__()
    with pytest.raises(TypeError, match=r"^__del__\(\) takes exactly 1 positional argument \(2 given\)$"):
        ostrel.Excel.__del__(1)
    with pytest.raises(TypeError, match=r"^__repr__\(\) takes exactly 1 positional argument \(2 given\)$"):
        ostrel.Excel.__repr__(1)
    with pytest.raises(TypeError, match=r"^_cw__getitem__\(\) got an unexpected keyword argument 'key'$"):
        ostrel._cw__getitem__(ostrel.Excel, 1, key=2)

    class S(str):
        pass

    with pytest.raises(TypeError) as info:
        O(1, S("X"))
    assert info.value.__notes__
    # Only the proxies that were made release anything; refused calls sent nothing.
    assert sorted(b["caller"] for b in addin.bodies()) == [1, 1, 3]
    assert ostrel._cw__getattr__(self=ostrel.Excel, name="_internal_id") == 1


def test_module_functions_work_on_any_proxy_shape(ostrel, addin):
    class Bare:
        pass

    bare = Bare()
    bare._internal_id = 99
    bare._msg_guid = ostrel.messaging._guid
    bare._internal_typeName = "Function"
    ostrel._cw__getattr__(bare, "x")
    ostrel._cw__call__(bare, 1, k=2)
    ostrel._cw__del__(bare)
    assert [b["method"] for b in addin.bodies()] == ["GET", "CALL", "DEL"]
    assert all(b["caller"] == 99 for b in addin.bodies())


def frames(exc):
    return [f.name for f in traceback.extract_tb(exc.__traceback__)]


def test_traceback_trimming(ostrel, monkeypatch):
    def _cw__getattr__(self, name):  # stands in under an internal name
        raise LookupError("inner")

    monkeypatch.setattr(ostrel, "_cw__getattr__", _cw__getattr__)
    with pytest.raises(LookupError) as info:
        ostrel.Excel.foo
    assert frames(info.value) == ["test_traceback_trimming"]

    def helper(self, name):
        raise LookupError("inner")

    monkeypatch.setattr(ostrel, "_cw__getattr__", helper)
    with pytest.raises(LookupError) as info:
        ostrel.Excel.foo
    assert frames(info.value) == ["test_traceback_trimming", "helper"]

    # The same exception object comes out, and trimming stops at the first outside entry.
    raised = []

    def _cw__setattr__(self, name, value):
        def deeper():
            def __del__():
                raise raised[0]
            __del__()
        raised.append(KeyError("k"))
        deeper()

    monkeypatch.setattr(ostrel, "_cw__setattr__", _cw__setattr__)
    with pytest.raises(KeyError) as info:
        ostrel.Excel.foo = 1
    assert info.value is raised[0]
    assert frames(info.value) == ["test_traceback_trimming", "deeper", "__del__"]

    # Not an Exception: unchanged.
    def _cw__call__(self, *args, **kwargs):
        raise KeyboardInterrupt

    monkeypatch.setattr(ostrel, "_cw__call__", _cw__call__)
    with pytest.raises(KeyboardInterrupt) as info:
        ostrel.GetSetting()
    assert frames(info.value) == ["test_traceback_trimming", "_cw__call__"]


def test_call_passes_a_copy_of_the_keywords(ostrel, monkeypatch):
    got = []

    def _cw__call__(self, *args, **kwargs):
        got.append((self, args, kwargs))
        return "r"

    monkeypatch.setattr(ostrel, "_cw__call__", _cw__call__)
    kw = {"a": 1}
    assert ostrel.Excel(1, 2, **kw) == "r"
    assert got == [(ostrel.Excel, (1, 2), {"a": 1})] and got[0][2] is not kw


def test_proxies_from_many_threads_with_a_listener(ostrel, addin):
    import concurrent.futures

    addin.listener()
    addin.respond = lambda message: ok(wire("String", message["name"]))
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        names = [f"n{i}" for i in range(24)]
        assert list(pool.map(lambda n: getattr(ostrel.Excel, n), names, timeout=10)) == names
