"""Range values handed to pandas, numpy and json as a user would: the decoded arrays are real lists,
and the libraries' attribute probes are answered without crossing to the add-in (a refused probe
is an AttributeError, a protocol name is refused locally)."""
import gc
import json

import numpy as np
import pandas as pd

ROWS = 300


def requests_made(kernel, action):
    """The result of `action()` and the number of requests the add-in handled meanwhile."""
    gc.collect()  # no release of earlier garbage is counted
    before = kernel.stats()["requestsHandled"]
    result = action()
    return result, kernel.stats()["requestsHandled"] - before


def test_range_values_into_pandas_numpy_and_json(kernel, fresh_sheet):
    header = ["Region", "Units", "Price"]
    body = [[f"R{r % 7}", r, r * 0.5] for r in range(ROWS)]
    fresh_sheet.getRange(f"A1:C{ROWS + 1}").values = [header] + body
    values = fresh_sheet.getRange(f"A1:C{ROWS + 1}").values
    top, *rows = values

    frame, count = requests_made(kernel, lambda: pd.DataFrame(rows, columns=top))
    pd.testing.assert_frame_equal(frame, pd.DataFrame(body, columns=header))
    # pandas asks the first row for `ndim` and `_fields`: two refused reads, whatever the size.
    assert count <= 2

    whole, count = requests_made(kernel, lambda: pd.DataFrame(values))
    assert whole.shape == (ROWS + 1, 3) and list(whole.iloc[0]) == header and count <= 2

    array, count = requests_made(kernel, lambda: np.array(values[1:]))
    assert array.shape == (ROWS, 3) and array[5].tolist() == ["R5", "5", "2.5"] and count == 0
    numbers, count = requests_made(kernel, lambda: np.array([r[1:] for r in rows], dtype=float))
    assert numbers.sum(axis=0).tolist() == [sum(range(ROWS)), sum(range(ROWS)) * 0.5] and count == 0

    series, count = requests_made(kernel, lambda: pd.Series(rows[3]))
    assert series.tolist() == ["R3", 3, 1.5] and count == 0

    text, count = requests_made(kernel, lambda: json.dumps(values))
    assert json.loads(text) == [header] + body and count == 0


def test_a_refused_read_is_missing_to_hasattr_and_getattr(kernel, fresh_sheet):
    rng = fresh_sheet.getRange("A1")
    (present, missing, dflt), count = requests_made(
        kernel, lambda: (hasattr(rng, "address"), hasattr(rng, "adress"), getattr(rng, "colour", "none")))
    assert (present, missing, dflt) == (True, False, "none")
    assert count == 3  # one read each
    try:
        rng.adress
    except RuntimeError as exc:  # code written for the RuntimeError keeps working
        assert isinstance(exc, AttributeError)
        assert str(exc) == "The property 'adress' does not exist on type 'Range'"
