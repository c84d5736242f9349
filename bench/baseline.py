"""The wire encoding written as plain Python, rule for rule: the alternative the native encoder
is measured against."""
import base64
import datetime as dt

import numpy as np
import pandas as pd

from cellumo_master.python_server.cellumo import ostrel


def to_wire(value):
    if value is None:
        return {"type": "Null", "value": None, "isSpec": False}
    if isinstance(value, (bool, np.bool_)):
        return {"type": "Bool", "value": bool(value), "isSpec": False}
    if isinstance(value, int):
        return {"type": "Int", "value": int(value), "isSpec": False}
    if isinstance(value, float):
        return {"type": "Float", "value": float(value), "isSpec": False}
    if isinstance(value, str):
        return {"type": "String", "value": value, "isSpec": False}
    if isinstance(value, (dt.datetime, dt.date, pd.Timestamp, np.datetime64)):
        if isinstance(value, dt.datetime) and value.tzinfo:
            value = value.astimezone(dt.timezone.utc)
        text = str(value) if isinstance(value, np.datetime64) else value.isoformat()
        return {"type": "Date", "value": text, "isSpec": False}
    if isinstance(value, (bytes, bytearray, memoryview)):
        return {"type": "Bytes", "value": base64.b64encode(bytes(value)).decode("ascii"), "isSpec": False}
    if isinstance(value, (list, tuple)):
        return {"type": "Array", "value": [to_wire(v) for v in value], "isSpec": False}
    if isinstance(value, dict):
        return {"type": "Dict", "value": {k: to_wire(v) for k, v in value.items()}, "isSpec": False}
    if isinstance(value, (pd.Series, pd.DataFrame)):
        frame = value.to_frame() if isinstance(value, pd.Series) else value
        values = frame.values
        if values.dtype.kind in "Mm":
            values = frame.astype(object).values
        if values.dtype.kind in "iub":
            body = [row.tolist() for row in values]
        else:
            body = [["" if _missing(cell) else cell for cell in row.tolist()] for row in values]
        return to_wire([frame.columns.tolist()] + body)
    if isinstance(value, ostrel.OfficeJsObject):
        return {"type": value._internal_typeName, "value": value._internal_id, "isSpec": True}
    if callable(value):
        return {"type": "Python_Function", "value": ostrel.messaging.register_callable(value), "isSpec": True}
    if isinstance(value, np.ndarray):
        if value.dtype.kind in "Mm":
            return to_wire(value[()] if value.ndim == 0 else list(value))
        return to_wire(value.tolist())
    if isinstance(value, np.integer) and not isinstance(value, np.timedelta64):
        return {"type": "Int", "value": int(value), "isSpec": False}
    if isinstance(value, np.floating):
        return {"type": "Float", "value": float(value), "isSpec": False}
    return {"type": "String", "value": str(value), "isSpec": False}


def _missing(cell):
    if cell is None or cell is pd.NA or cell is pd.NaT:
        return True
    if isinstance(cell, float):
        return cell != cell
    return isinstance(cell, np.generic) and bool(pd.isna(cell))


def from_wire(wire):
    t = wire.get("type")
    v = wire.get("value")
    spec = wire.get("isSpec")
    oid = wire.get("id")
    if t == "Null":
        return None
    if t == "Bool":
        return bool(v)
    if t == "Int":
        return int(v)
    if t == "Float":
        return float(v)
    if t == "String":
        return str(v)
    if t == "Date":
        try:
            return dt.datetime.fromisoformat(v)
        except Exception:
            return v
    if t == "Bytes":
        return base64.b64decode(v or b"")
    if t == "Array":
        arr = ostrel.OfficeJsArray(oid)
        arr.extend([from_wire(item) for item in (v or [])])
        return arr
    if t == "Dict":
        d = ostrel.OfficeJsDict(oid)
        d.update({k: from_wire(item) for k, item in (v or {}).items()})
        return d
    if spec:
        return ostrel.OfficeJsObject(int(v), t)
    return str(v)
