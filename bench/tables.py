"""The inputs that several sections share: tables of cells, their tags, and their wire forms."""
import datetime as dt
import random

_DATE0 = dt.datetime(2024, 1, 1, 9, 30)


def float_table(rows, cols, seed=1):
    rnd = random.Random(seed)
    return [[rnd.uniform(-1e6, 1e6) for _ in range(cols)] for _ in range(rows)]


def mixed_table(rows, cols, seed=2):
    """Cells cycle through float, int, str, None, bool and naive datetime, so every column and
    every row holds several kinds (the encoder cannot guess the next cell from the last)."""
    rnd = random.Random(seed)
    makers = (
        lambda: rnd.uniform(-1e6, 1e6),
        lambda: rnd.randrange(-10**9, 10**9),
        lambda: "item-%d" % rnd.randrange(10**6),
        lambda: None,
        lambda: rnd.random() < 0.5,
        lambda: _DATE0 + dt.timedelta(minutes=rnd.randrange(10**6)),
    )
    return [[makers[(r + c) % len(makers)]() for c in range(cols)] for r in range(rows)]


def tag_of(cell):
    # Only the kinds the tables above hold; the encoder floor is told these up front.
    if cell is None:
        return "Null"
    if isinstance(cell, bool):
        return "Bool"
    if isinstance(cell, int):
        return "Int"
    if isinstance(cell, float):
        return "Float"
    if isinstance(cell, str):
        return "String"
    if isinstance(cell, dt.datetime):
        return "Date"
    raise TypeError(f"no tag for {type(cell).__name__}")


def tags_of(rows):
    # Interned, as the floor compares the "Date" tag by identity.
    import sys

    return [[sys.intern(tag_of(c)) for c in row] for row in rows]


def with_ids(wire, first_id=100):
    """The wire value of a table as the add-in would send it back: every "Array" record carries an
    `id` (the outer one `first_id`, row r `first_id + 1 + r`, the numbering the decoder floor uses)."""
    outer = dict(wire)
    outer["id"] = first_id
    rows = []
    for r, row in enumerate(wire["value"]):
        row = dict(row)
        row["id"] = first_id + 1 + r
        rows.append(row)
    outer["value"] = rows
    return outer


def decoded_shape(value):
    """What a decoded table looks like, ids included, for comparing candidates."""
    return (
        type(value).__name__,
        value._internal_id,
        [(type(row).__name__, row._internal_id, list(row)) for row in value],
    )
