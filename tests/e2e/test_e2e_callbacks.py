"""Python functions passed to Excel and called back by the add-in through invoke messages."""
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
    with pytest.raises(RuntimeError, match=r"ValueError: no data for this quarter"):
        ostrel.Excel.run(batch)
    assert "no data for this quarter" in kernel.callback_errors[errors_before]


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
