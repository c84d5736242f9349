"""Decoding a table's wire value (as the add-in sends it, with ids) into array proxies: the native
decoder against building the same proxies with the same contents natively, and the plain Python
decoder, also as Cython 3 compiles it (when the bench extra is installed)."""
import datetime as dt

from cellumo_master.python_server.cellumo import ostrel

import _floor

from . import baseline, compiled, tables
from .report import Row, floor_rows, ratio_row
from .timing import compare, fmt_seconds, median

SIZES = {"full": (2000, 10, 25, 3), "quick": (500, 10, 9, 2), "smoke": (20, 6, 2, 1)}
FIRST_ID = 100


def run(size="full"):
    rows_n, cols, repeat, number = SIZES[size]
    out = []
    cython, cython_version = compiled.load()
    for kind, rows in (("floats", tables.float_table(rows_n, cols)), ("mixed", tables.mixed_table(rows_n, cols))):
        tags = tables.tags_of(rows)
        wire = tables.with_ids(baseline.to_wire(rows), FIRST_ID)
        # The floor gets the plain values as the wire carries them (dates as ISO text) and parses
        # the dates itself, so both sides pay for every datetime they return.
        plain = [[cell.isoformat() if tag == "Date" else cell for cell, tag in zip(row, row_tags)]
                 for row, row_tags in zip(rows, tags)]
        array = ostrel.OfficeJsArray
        parse = dt.datetime.fromisoformat
        from_wire = ostrel.Serializer.from_wire

        def floor():
            return _floor.decode_table(plain, array, FIRST_ID, tags, parse)

        candidates = {"native": lambda: from_wire(wire), "floor": floor, "python": lambda: baseline.from_wire(wire)}
        if cython is not None:
            candidates["cython"] = lambda: cython.from_wire(wire)
        shape = tables.decoded_shape(from_wire(wire))
        if any(tables.decoded_shape(decode()) != shape for decode in candidates.values()):
            raise AssertionError("decoders disagree on the table")
        if shape[2][0][2] != rows[0]:
            raise AssertionError("decoded contents differ from the table")
        samples = compare(candidates, repeat=repeat, number=number)
        m = {name: median(s) for name, s in samples.items()}
        section = f"3 decode {rows_n}x{cols} {kind}"
        out.extend(floor_rows(section, m, "from_wire", 1.3, None, "decoder"))
        figure = "python baseline compiled by Cython / from_wire"
        if cython is None:
            out.append(Row(section, figure, f"not measured: {cython_version}"))
        else:
            out.append(ratio_row(section, figure, m["cython"] / m["native"], 2.0, at_least=True,
                                 context=f"median {fmt_seconds(m['cython'])}, Cython {cython_version}"))
    return out
