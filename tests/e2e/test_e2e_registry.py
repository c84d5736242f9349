"""A long-lived kernel keeps the callable registry bounded: what a script passed to Excel is
unregistered once its run is over, with the globals it holds."""
import pytest

from e2e_support import bridge_built

SCRIPT = """
payload = "x" * 10_000_000        # a global the callable keeps alive
def batch(context):
    return len(payload)
assert Excel.run(batch) == 10_000_000
"""


@pytest.fixture(scope="module")
def own_kernel():
    if not bridge_built():
        pytest.skip("the ostrel module is not built yet")
    from devkit import Kernel

    k = Kernel(request_timeout=20.0)
    try:
        yield k
    finally:
        k.close()


def rss_mib():
    with open("/proc/self/status", encoding="ascii") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    raise AssertionError("no VmRSS in /proc/self/status")


def test_rss_stays_flat_over_runs_that_each_pass_a_callable(own_kernel):
    for _ in range(5):  # warm-up: thread stacks, allocator arenas
        assert own_kernel.run_script(SCRIPT).ok
    before = rss_mib()
    for _ in range(100):
        result = own_kernel.run_script(SCRIPT)
        assert result.ok, result.error
    grown = rss_mib() - before
    # Kept, the 100 payloads alone would be about 950 MiB.
    assert grown < 60, f"RSS grew by {grown:.0f} MiB"
    assert own_kernel.messaging._callable_registry == {}


def test_a_callable_stays_registered_while_its_run_is_on(own_kernel):
    seen = []
    result = own_kernel.run_script(
        "def handler(event):\n    pass\n"
        "sheet = Context.workbook.worksheets.getActiveWorksheet()\n"
        "sheet.onChanged.add(handler)\n"
        "seen.append(len(messaging._callable_registry))\n"
        "sheet.getRange('A1').values = [[1]]\n",
        extra_globals={"seen": seen, "messaging": own_kernel.messaging})
    assert result.ok, result.error
    assert seen == [1] and own_kernel.messaging._callable_registry == {}
    assert not own_kernel.callback_errors  # the handler ran for the edit before the run ended
