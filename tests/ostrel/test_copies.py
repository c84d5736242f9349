"""Copying and pickling proxies: collections copy as the plain values they hold, without a request
and without a second handle that would release the original; object proxies refuse."""
import copy
import gc
import pickle

import pytest

from ostrel_fakes import ok, wire


def receive_table(ostrel, addin):
    """An array proxy of rows as a range's values arrive, with a dict proxy among them."""
    addin.respond = lambda message: ok({"type": "Array", "id": 5, "value": [
        {"type": "Array", "id": 6, "value": [wire("Int", 1), wire("String", "a")]},
        {"type": "Array", "id": 7, "value": [wire("Float", 2.5), wire("Null", None)]},
        {"type": "Dict", "id": 8, "value": {"k": {"type": "Array", "id": 9, "value": [wire("Bool", True)]}}},
    ]})
    value = ostrel.Excel.values
    addin.respond = lambda message: ok(wire("Null", None))
    addin.sent.clear()
    return value


@pytest.fixture
def table(ostrel, addin):
    return receive_table(ostrel, addin)


def plain(value):
    """True when `value` holds only plain lists and dicts, all the way down."""
    if isinstance(value, list):
        return type(value) is list and all(plain(v) for v in value)
    if isinstance(value, dict):
        return type(value) is dict and all(plain(v) for v in value.values())
    return True


def test_copies_are_plain_equal_and_independent(ostrel, addin, table):
    shallow = copy.copy(table)
    deep = copy.deepcopy(table)
    assert type(shallow) is list and shallow == table and shallow[0] is table[0]
    assert plain(deep) and deep == [[1, "a"], [2.5, None], {"k": [True]}]
    deep[0].append("x")
    shallow.append("y")
    assert table[0] == [1, "a"] and len(table) == 3
    d = copy.copy(table[2])
    assert type(d) is dict and d == {"k": [True]} and d["k"] is table[2]["k"]
    assert type(copy.deepcopy(table[2])["k"]) is list


def test_copies_send_nothing_and_release_nothing(ostrel, addin):
    table = receive_table(ostrel, addin)
    copies = [copy.copy(table), copy.deepcopy(table), copy.copy(table[2]), copy.deepcopy(table[2]),
              pickle.loads(pickle.dumps(table))]
    del copies
    gc.collect()
    assert addin.sent == []
    del table
    gc.collect()
    # Each remote collection is released exactly once, by its own proxy.
    assert sorted(b["caller"] for b in addin.bodies("DEL")) == [5, 6, 7, 8, 9]


def test_deep_copy_keeps_shared_and_self_references(ostrel, addin):
    arr = ostrel.OfficeJsArray(3)
    inner = ostrel.OfficeJsDict(4)
    arr.extend([inner, inner])
    arr.append(arr)
    got = copy.deepcopy(arr)
    assert type(got) is list and got[0] is got[1] and type(got[0]) is dict and got[2] is got


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickled_collections_load_as_plain_values(ostrel, addin, table, protocol):
    assert plain(back := pickle.loads(pickle.dumps(table, protocol))) and back == table


def test_object_proxies_refuse_copy_deepcopy_and_pickle(ostrel, addin, table):
    rng = ostrel.Serializer.from_wire({"type": "Range", "value": 12, "isSpec": True})
    table.append(rng)
    attempts = [lambda: copy.copy(rng), lambda: copy.deepcopy(rng), lambda: pickle.dumps(rng),
                lambda: copy.deepcopy(table), lambda: copy.copy(ostrel.Excel)]
    for attempt in attempts:
        with pytest.raises(TypeError, match=r"^cannot copy or pickle 'OfficeJsObject' object: it is a "
                                            r"handle to a live object in Excel.*release that object"):
            attempt()
    assert addin.sent == []


def test_copying_leaves_classes_and_globals_alone(ostrel):
    for cls in (ostrel.OfficeJsObject, ostrel.OfficeJsArray, ostrel.OfficeJsDict):
        assert not {"__copy__", "__deepcopy__", "__reduce__", "__reduce_ex__", "__getstate__"} & set(vars(cls))
    assert not [name for name in vars(ostrel) if "copy" in name.lower() or "reduce" in name.lower()]
