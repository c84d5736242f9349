"""End-to-end fixtures: a kernel harness with the real Node.js add-in, shared by the tests of one
module (the bridge has one messaging instance per process, so one kernel at a time)."""
import sys

import pytest

from e2e_support import ROOT, bridge_built

if ROOT not in sys.path:
    sys.path.insert(0, ROOT)

# Every proxy operation in these tests waits at most this long for the add-in.
REQUEST_TIMEOUT = 20.0


@pytest.fixture(scope="module")
def kernel():
    if not bridge_built():
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
