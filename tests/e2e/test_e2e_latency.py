"""The devkit's simulated channel latency: every answer of the add-in arrives one round trip late,
in order, and releases never wait for theirs."""
import pytest

from e2e_support import bridge_built

LATENCY = 0.05  # seconds


@pytest.fixture(scope="module")
def slow_kernel():
    if not bridge_built():
        pytest.skip("the ostrel module is not built yet")
    from devkit import Kernel

    k = Kernel(latency=LATENCY, request_timeout=20.0)
    try:
        yield k
    finally:
        k.close()


class Recorder:
    """Wraps the kernel's send handler: each request's method, and whether anything waits for it."""

    def __init__(self, messaging):
        self.messaging = messaging
        self.handler = messaging._send_handler
        self.seen = []

    def __call__(self, message):
        self.seen.append((message["method"], message["requestId"] in self.messaging.waiters))
        return self.handler(message)


def test_answers_come_late_and_in_order_and_releases_wait_for_nothing(slow_kernel):
    messaging = slow_kernel.messaging
    recorder = Recorder(messaging)
    messaging.set_send_handler(recorder)
    try:
        result = slow_kernel.run_script("""if True:
            import time
            sheet = Context.workbook.worksheets.getActiveWorksheet()
            sheet.getRange("A1:C20").values = [[r, r * 2, str(r)] for r in range(20)]
            start = time.perf_counter()
            rows = sheet.getRange("A1:C20").values
            print(time.perf_counter() - start)
            print(sum(row[1] for row in rows), rows[19][2])
            """)
    finally:
        messaging.set_send_handler(recorder.handler)
    assert result.ok, result.error
    seconds, checks = result.output.splitlines()
    assert checks == "380 19"
    # The read needs 3 answers (getRange, its call, values): no fewer than 3 round trips.
    assert float(seconds) >= 3 * LATENCY
    releases = [waited for method, waited in recorder.seen if method == "DEL"]
    assert len(releases) >= 21 and not any(releases)
    assert all(waited for method, waited in recorder.seen if method != "DEL")
    assert messaging.waiters == {}


def test_a_restart_goes_through_the_delay_line(slow_kernel):
    stale = slow_kernel.ostrel.Context.workbook
    slow_kernel.restart_addin()  # raises when the old listener does not finish
    with pytest.raises(RuntimeError, match="messaging context was stopped"):
        stale.worksheets
    assert slow_kernel.run_script("print(Context.workbook.worksheets.getActiveWorksheet().name)").output == "Sheet1\n"


def test_latency_must_be_a_duration():
    from devkit import Kernel

    for bad in (-0.001, float("nan")):
        with pytest.raises(ValueError, match="latency"):
            Kernel(latency=bad)
