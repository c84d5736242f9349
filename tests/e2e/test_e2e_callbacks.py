"""Python functions passed to Excel and called back by the add-in through invoke messages."""
import sys
import threading

import pytest


def test_excel_run_calls_back_with_the_request_context(ostrel, fresh_sheet):
    name = fresh_sheet.name
    seen = {}

    def batch(context):
        seen["thread"] = threading.current_thread().name
        seen["type"] = context._internal_typeName
        target = context.workbook.worksheets.getItem(name).getRange("B2")
        target.values = [[41]]
        return target.values[0][0] + 1

    assert ostrel.Excel.run(batch) == 42
    assert seen["type"] == "RequestContext"
    assert seen["thread"].startswith("callback"), "callbacks run on the kernel's callback workers"
    assert fresh_sheet.getRange("B2").values[0][0] == 41


def test_a_failing_callback_fails_the_call_that_waited_for_it(ostrel, kernel):
    def batch(context):
        raise ValueError("no data for this quarter")

    errors_before = len(kernel.callback_errors)
    with pytest.raises(RuntimeError, match=r"^ValueError: no data for this quarter$"):
        ostrel.Excel.run(batch)
    (report,) = kernel.callback_errors[errors_before:]
    line = batch.__code__.co_firstlineno
    assert report.startswith(f"The callback {batch.__qualname__} ({__file__}, line {line}) failed:\n"
                             "Traceback (most recent call last):\n")
    assert f'line {line + 1}, in batch' in report and "kernel.py" not in report
    assert report.rstrip().endswith("ValueError: no data for this quarter")


def test_a_bridge_error_in_a_callback_crosses_with_its_text_once(ostrel, kernel, fresh_sheet):
    name = fresh_sheet.name
    with pytest.raises(RuntimeError) as info:
        ostrel.Excel.run(lambda context: context.workbook.worksheets.getItem(name).getRange("A1").adress)
    assert str(info.value) == "The property 'adress' does not exist on type 'Range'"
    assert kernel.callback_errors[-1].rstrip().endswith(
        "ostrel.OfficeJsAttributeError: The property 'adress' does not exist on type 'Range'")


def interrupted(context):
    raise KeyboardInterrupt("stop")


def leaves(context):
    sys.exit(3)


def unencodable(context):
    return "lone \ud800 surrogate"


def self_containing(context):
    cycle = []
    cycle.append(cycle)
    return cycle


# Each of these would leave the waiting call without an answer until the request timed out (a
# TimeoutError) if the kernel did not answer it at once.
@pytest.mark.parametrize("batch,text", [
    (interrupted, "KeyboardInterrupt: stop"),
    (leaves, "SystemExit: 3"),
    (unencodable, "its result could not be sent: UnicodeEncodeError: 'utf-8' codec can't encode character '\\ud800'"),
    (self_containing, "its result could not be sent: "),
])
def test_every_failure_of_a_callback_is_answered(ostrel, kernel, batch, text):
    errors_before = len(kernel.callback_errors)
    with pytest.raises(RuntimeError) as info:
        ostrel.Excel.run(batch)
    assert str(info.value).startswith(text)
    (report,) = kernel.callback_errors[errors_before:]
    assert report.startswith(f"The callback {batch.__name__} ({__file__}, line ") and text in report


def test_a_callback_may_return_an_object_it_fetched(ostrel, kernel, fresh_sheet):
    name = fresh_sheet.name
    errors_before = len(kernel.callback_errors)
    workbook = ostrel.Excel.run(lambda context: context.workbook)
    assert workbook._internal_typeName == "Workbook" and workbook.name == "Book1.xlsx"
    sheet = ostrel.Excel.run(lambda context: [context.workbook.worksheets.getItem(name)])[0]
    sheet.getRange("A1").values = [[1]]
    assert kernel.callback_errors[errors_before:] == []


def test_nested_runs_go_deeper_than_any_pool(ostrel, kernel, fresh_sheet):
    name = fresh_sheet.name
    depths = []

    def batch_at(depth):
        def batch(context):
            depths.append(depth)
            if depth == 0:
                return context.workbook.worksheets.getItem(name).name
            return ostrel.Excel.run(batch_at(depth - 1))
        return batch

    assert ostrel.Excel.run(batch_at(12)) == name
    assert depths == list(range(12, -1, -1))


def test_change_handlers_are_invoked_after_each_edit(kernel, fresh_sheet):
    events = []
    done = threading.Event()

    def on_changed(event):
        events.append((event.changeType, event.address, event.worksheetName))
        if len(events) == 3:
            done.set()

    registration = fresh_sheet.onChanged.add(on_changed)
    fresh_sheet.getRange("A1:B2").values = 7
    fresh_sheet.getRange("C3").formulas = [["=A1*2"]]
    fresh_sheet.getRange("A1").clear()
    assert done.wait(10), f"only {events} arrived"
    assert sorted(events) == sorted([
        ("RangeEdited", "A1:B2", fresh_sheet.name),
        ("RangeEdited", "C3", fresh_sheet.name),
        ("RangeCleared", "A1", fresh_sheet.name),
    ])
    registration.remove()
    fresh_sheet.getRange("D4").values = [[1]]
    assert kernel.wait_for_callbacks(10)
    assert len(events) == 3


def test_handler_failures_are_reported_not_raised_at_the_editor(kernel, fresh_sheet):
    def broken(event):
        raise KeyError(event.address)

    fresh_sheet.onChanged.add(broken)
    errors_before = len(kernel.callback_errors)
    fresh_sheet.getRange("E5").values = [[1]]  # the edit itself succeeds
    assert kernel.wait_for_callbacks(10)
    assert any("KeyError: 'E5'" in text for text in kernel.callback_errors[errors_before:])
    assert any("KeyError: 'E5'" in text for text in kernel.control("errors"))


def test_an_unregistered_callable_is_answered_with_an_error(kernel, fresh_sheet):
    def handler(event):  # pragma: no cover - unregistered before it could run
        raise AssertionError("must not run")

    fresh_sheet.onChanged.add(handler)
    registry = kernel.messaging._callable_registry
    callable_id = next(cid for cid, fn in list(registry.items()) if fn is handler)
    kernel.messaging.unregister_callable(callable_id)
    fresh_sheet.getRange("A1").values = [[1]]
    assert kernel.wait_for_callbacks(10)
    assert any(f"No Python function is registered as '{callable_id}'" in text for text in kernel.control("errors"))
