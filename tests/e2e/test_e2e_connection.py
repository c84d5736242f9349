"""The connection to the add-in: restarts, a dying add-in, a stalled add-in, and several scripts
talking to it at once."""
import concurrent.futures
import threading

import pytest


def test_restart_makes_old_proxies_stale_while_the_roots_keep_working(kernel, ostrel):
    sheet = ostrel.Context.workbook.worksheets.add("BeforeRestart")
    cell = sheet.getRange("A1")
    cell.values = [[1]]
    old_pid = kernel._conn.process.pid
    kernel.restart_addin()
    assert kernel._conn.process.pid != old_pid
    for stale in (lambda: sheet.name, lambda: cell.values, lambda: setattr(cell, "values", 2)):
        with pytest.raises(RuntimeError, match=r"^Excel Object used after messaging context was stopped$"):
            stale()
    # A fresh workbook behind the same root proxies.
    names = [s.name for s in ostrel.Context.workbook.worksheets.items]
    assert names == ["Sheet1"]
    assert ostrel.Excel.run(lambda context: context.workbook.worksheets.getCount()) == 1
    assert ostrel.GetSetting("region") == "West"
    # When sheet and cell go, their releases reach the new add-in, which refuses them; the bridge
    # swallows that.


def test_a_request_waiting_when_the_addin_dies_is_cancelled(kernel, ostrel):
    kernel.stall()
    failure = concurrent.futures.Future()

    def user_thread():
        try:
            ostrel.Context.workbook
        except BaseException as exc:  # noqa: BLE001
            failure.set_result(exc)
        else:
            failure.set_result(None)

    t = threading.Thread(target=user_thread)
    t.start()
    _wait_until(lambda: kernel.stats()["heldRequests"] == 1)
    kernel.kill_addin()
    t.join(10)
    assert isinstance(failure.result(timeout=10), concurrent.futures.CancelledError)
    assert not kernel.addin_running
    with pytest.raises(RuntimeError, match=r"The add-in is not running"):
        ostrel.Context.workbook
    kernel.restart_addin()
    assert ostrel.Context.workbook.worksheets.getCount() == 1


def test_a_stalled_addin_gives_the_timeout_and_late_answers_are_dropped(kernel, ostrel):
    kernel.stall()
    try:
        with pytest.raises(TimeoutError, match=r"^Timed out waiting for Office.js response$"):
            kernel.messaging.send_request_sync({"method": "GET", "name": "workbook", "caller": 0}, timeout=0.3)
        assert kernel.messaging.waiters == {}
    finally:
        assert kernel.resume() == 1  # the held request is answered now, and ignored by the bridge
    assert ostrel.Context.workbook.worksheets.getCount() >= 1


def test_a_stalled_addin_times_out_proxy_operations(kernel, ostrel):
    if not kernel._timeout_override:
        pytest.skip("proxy operations use the bridge's fixed default timeout here")
    short = kernel.messaging.send_request_sync.keywords["timeout"]
    kernel.messaging.send_request_sync.keywords["timeout"] = 0.3
    kernel.stall()
    try:
        result = kernel.run_script("Context.workbook\n", "stalled.py", timeout=20)
    finally:
        kernel.messaging.send_request_sync.keywords["timeout"] = short
        kernel.resume()
    assert (result.error_type, result.error_message) == ("TimeoutError", "Timed out waiting for Office.js response")


def test_scripts_running_at_once_get_their_own_answers(kernel):
    source = """
sheet = Context.workbook.worksheets.add(NAME)
for i in range(60):
    cell = sheet.getRange(f"A{i + 1}")
    cell.values = [[f"{NAME}-{i}"]]
    assert cell.values[0][0] == f"{NAME}-{i}", cell.values[0][0]
    assert cell.address == f"{NAME}!A{i + 1}"
total = sheet.getUsedRange()
print(total.address, total.rowCount)
sheet.delete()
"""
    futures = [kernel.submit_script(source, f"s{n}.py", extra_globals={"NAME": f"Par{n}"}) for n in range(6)]
    results = [f.result(timeout=300) for f in futures]
    for n, result in enumerate(results):
        assert result.ok, result.error
        assert result.output == f"Par{n}!A1:A60 60\n"


def _wait_until(predicate, timeout=10.0):
    import time

    deadline = time.monotonic() + timeout
    while not predicate():
        assert time.monotonic() < deadline, "condition not reached"
        time.sleep(0.02)


def test_a_release_on_the_listener_thread_does_not_wait_for_its_answer(kernel, ostrel):
    # The cycle collector may finalise a proxy on the listener thread, the only thread that could
    # deliver the answer to its release. Play that thread here while the add-in holds requests:
    # the release must still be sent, and must not wait.
    cell = ostrel.Context.workbook.worksheets.getActiveWorksheet().getRange("A1")
    object_id = cell._internal_id
    conn = kernel._conn
    kernel.stall()
    released = threading.Event()

    def finalise_as_listener():
        nonlocal cell
        real = conn.listener
        conn.listener = threading.current_thread()
        try:
            del cell
        finally:
            conn.listener = real
        released.set()

    t = threading.Thread(target=finalise_as_listener)
    t.start()
    t.join(10)
    try:
        assert released.is_set(), "the release blocked the listener"
        _wait_until(lambda: kernel.stats()["heldRequests"] == 1)
    finally:
        kernel.resume()
    with pytest.raises(RuntimeError, match=rf"Object {object_id} has been released"):
        ostrel.OfficeJsObject(object_id, "Range").address
