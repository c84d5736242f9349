"""Copies of what a range returns: plain values that outlive nothing and release nothing."""
import copy
import gc
import pickle

import pytest

from e2e_support import table_size


def test_copies_of_range_values_are_plain_and_leave_the_original_alive(kernel, fresh_sheet):
    rng = fresh_sheet.getRange("A1:B2")
    rng.values = [[1, "a"], [2.5, True]]
    values = rng.values
    held = table_size(kernel)
    shallow, deep = copy.copy(values), copy.deepcopy(values)
    pickled = pickle.loads(pickle.dumps(values))
    assert shallow == deep == pickled == [[1, "a"], [2.5, True]]
    assert type(shallow) is list and type(deep[0]) is list and type(pickled[1]) is list
    deep[0][0] = 99
    assert values[0][0] == 1
    del shallow, deep, pickled
    assert table_size(kernel) == held
    # The original proxies still name live objects in the add-in.
    assert values.length == 2 and values[1].length == 2


def test_object_proxies_refuse_to_be_copied(fresh_sheet):
    rng = fresh_sheet.getRange("A1")
    for attempt in (copy.copy, copy.deepcopy, pickle.dumps):
        with pytest.raises(TypeError, match="cannot copy or pickle 'OfficeJsObject' object"):
            attempt(rng)
    gc.collect()
    rng.values = [["still mine"]]
    assert rng.values[0][0] == "still mine"
