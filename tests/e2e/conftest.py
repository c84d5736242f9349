"""End-to-end fixtures: a kernel harness with the real Node.js add-in, shared by the tests of one
module (the bridge has one messaging instance per process, so one kernel at a time)."""
import gc
import os
import sys
import time

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
if ROOT not in sys.path:
    sys.path.insert(0, ROOT)

# Every proxy operation in these tests waits at most this long for the add-in.
REQUEST_TIMEOUT = 20.0


def _bridge_built():
    from cellumo_master.python_server.cellumo import ostrel

    return hasattr(ostrel, "messaging")


@pytest.fixture(scope="module")
def kernel():
    if not _bridge_built():
        pytest.skip("the ostrel module is not built yet")
    from devkit import Kernel

    k = Kernel(settings={"region": "West", "threshold": 3}, request_timeout=REQUEST_TIMEOUT)
    try:
        yield k
    finally:
        k.close()


@pytest.fixture
def ostrel(kernel):
    return kernel.ostrel


@pytest.fixture
def fresh_sheet(kernel, ostrel, request):
    """A new, empty worksheet named after the test; deleted afterwards."""
    name = ("t" + str(abs(hash(request.node.nodeid))))[:30]
    sheet = ostrel.Context.workbook.worksheets.add(name)
    yield sheet
    try:
        sheet.delete()
    except Exception:  # noqa: BLE001 - the test may have replaced the add-in
        pass


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
