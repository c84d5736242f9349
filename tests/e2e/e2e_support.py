"""Helpers shared by the end-to-end tests (kept out of conftest.py so that they import by a name
of their own)."""
import gc
import os
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def bridge_built():
    from cellumo_master.python_server.cellumo import ostrel

    return hasattr(ostrel, "messaging")


def table_size(kernel):
    """The add-in's live object count once Python has dropped what it no longer uses."""
    gc.collect()
    return kernel.stats()["objects"]


def settle(kernel, baseline, timeout=10.0):
    """Collects garbage until the add-in's table is back to `baseline` objects (or the bound
    passes); returns the last count."""
    deadline = time.monotonic() + timeout
    while True:
        gc.collect()
        count = kernel.stats()["objects"]
        if count <= baseline or time.monotonic() > deadline:
            return count
        time.sleep(0.05)
