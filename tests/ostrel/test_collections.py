"""Array and dictionary proxies: real lists and dicts that answer locally, ask the add-in only for
what they cannot answer, and release their remote object when finalised."""
import pytest

from ostrel_fakes import ok, wire


def received(ostrel, addin, record):
    """Decodes `record` as a GET response would deliver it."""
    addin.respond = lambda message: ok(record)
    value = ostrel.Excel.collection
    addin.sent.clear()
    addin.respond = lambda message: ok(wire("Null", None))
    return value


@pytest.fixture
def arr(ostrel, addin):
    return received(ostrel, addin, {"type": "Array", "id": 5, "value": [
        wire("Int", 1), wire("String", "b"), wire("Float", 2.5)]})


@pytest.fixture
def dct(ostrel, addin):
    return received(ostrel, addin, {"type": "Dict", "id": 7, "value": {
        "name": wire("String", "Ann"), "keys": wire("Int", 1), "n": wire("Int", 2)}})


def test_array_is_a_local_list(ostrel, addin, arr):
    assert type(arr) is ostrel.OfficeJsArray and isinstance(arr, list)
    assert not isinstance(arr, ostrel.OfficeJsObject)
    assert (arr[0], arr[-1], len(arr), list(arr), arr[1:]) == (1, 2.5, 3, [1, "b", 2.5], ["b", 2.5])
    assert arr.count(1) == 1 and arr.index("b") == 1
    arr.append(4)
    arr[0] = 0
    arr.sort(key=str)
    assert repr(arr) == "<OfficeJsArray id=5 len=4>" and str(arr) == "[0, 2.5, 4, 'b']"
    with pytest.raises(IndexError):
        arr[10]
    assert vars(arr) == {"_internal_id": 5, "_internal_typeName": "Array", "_msg_guid": ostrel.messaging._guid,
                         "_typ": "officejs_array", "_internal_cache": {}}
    assert addin.sent == []


def test_array_attribute_reads_go_to_the_addin(ostrel, addin, arr):
    addin.respond = lambda message: ok(wire("Int", 9))
    assert arr.rowCount == 9
    assert addin.bodies() == [{"method": "GET", "name": "rowCount", "caller": 5}]


def test_array_refuses_every_attribute_write(ostrel, addin, arr):
    for name, value in [("foo", 1), ("_msg_guid", ostrel.messaging._guid), ("_internal_id", 3)]:
        with pytest.raises(AttributeError, match="^Cannot set attributes on OfficeJsArray$"):
            setattr(arr, name, value)
    with pytest.raises(TypeError, match=r"^Argument 'name' has incorrect type \(expected str, got int\)$"):
        arr.__setattr__(1, 2)
    assert arr._internal_id == 5 and addin.sent == []


def test_dict_is_a_local_dict(ostrel, addin, dct):
    assert type(dct) is ostrel.OfficeJsDict and isinstance(dct, dict)
    assert dct["name"] == "Ann" and len(dct) == 3 and list(dct) == ["name", "keys", "n"]
    assert dct.name == "Ann"
    assert dct.keys == dct.__class__.keys.__get__(dct)  # the dict method, not the entry
    assert dct["keys"] == 1
    dct.name = "Bo"
    assert dct["name"] == "Bo"
    with pytest.raises(AttributeError, match="^Cannot set attributes on OfficeJsDict$"):
        dct.other = 2
    with pytest.raises(AttributeError, match="^Cannot set attributes on OfficeJsDict$"):
        dct._internal_id = 3
    with pytest.raises(KeyError):
        dct["missing"]
    assert repr(dct) == "<OfficeJsDict id=7 keys=['name', 'keys', 'n']>"
    assert addin.sent == []


def test_dict_attribute_reads_of_non_keys_go_to_the_addin(ostrel, addin, dct):
    addin.respond = lambda message: ok(wire("Bool", True))
    assert dct.address is True
    assert addin.bodies() == [{"method": "GET", "name": "address", "caller": 7}]


def test_stale_collections_keep_their_local_answers(ostrel, addin, arr, dct):
    ostrel.messaging.reset()
    assert dct.name == "Ann" and arr[0] == 1 and len(arr) == 3 and repr(arr)
    for action in (lambda: arr.remote, lambda: dct.remote, lambda: arr(), lambda: dct()):
        with pytest.raises(RuntimeError, match="^Excel Object used after messaging context was stopped$"):
            action()
    assert addin.sent == []


def test_collections_are_not_callable(ostrel, addin, arr, dct):
    for proxy in (arr, dct):
        with pytest.raises(TypeError, match="^Only Function-typed SpecialObjects are callable$"):
            proxy(1)
    assert addin.sent == []


def test_collections_release_on_finalisation(ostrel, addin):
    a = ostrel.OfficeJsArray(4)
    d = ostrel.OfficeJsDict(6)
    assert repr(a) == "<OfficeJsArray id=4 len=0>" and repr(d) == "<OfficeJsDict id=4 keys=[]>".replace("4", "6")
    del a, d
    assert addin.bodies() == [{"method": "DEL", "name": "__del__", "caller": 4},
                              {"method": "DEL", "name": "__del__", "caller": 6}]


def test_constructors(ostrel, addin):
    for cls in (ostrel.OfficeJsArray, ostrel.OfficeJsDict):
        assert cls(2.7)._internal_id == 2
        assert cls(object_id=3)._internal_id == 3
        with pytest.raises(TypeError, match=r"^Argument 'object_id' has incorrect type \(expected int, got NoneType\)$"):
            cls(None)
        with pytest.raises(TypeError, match=r"^__init__\(\) takes exactly 2 positional arguments \(3 given\)$"):
            cls(1, "Array")
    a = ostrel.OfficeJsArray(1)
    a.extend([1, 2])
    a.__init__(2)  # like list.__init__: starts empty again
    assert a == [] and a._internal_id == 2


def test_collections_sent_back_by_value(ostrel, addin, arr, dct):
    ostrel.Excel.target = arr
    ostrel.Excel.other = dct
    bodies = addin.bodies("SET")
    assert bodies[0]["value"] == wire("Array", [wire("Int", 1), wire("String", "b"), wire("Float", 2.5)])
    assert bodies[1]["value"]["type"] == "Dict" and bodies[1]["value"]["isSpec"] is False
