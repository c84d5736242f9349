"""How the kernel harness names a failing callback and words the error its caller receives."""
import functools

import pytest

from devkit.kernel import callback_error_text
from devkit.scripts import describe_callable


class Ticker:
    def __call__(self, event):
        return event

    def method(self, event):
        return event


def plain(event):
    return event


def where(fn):
    code = fn.__code__
    return f"({code.co_filename}, line {code.co_firstlineno})"


def test_callables_are_named_by_qualname_file_and_line():
    assert describe_callable(plain) == f"plain {where(plain)}"
    assert describe_callable(Ticker().method) == f"Ticker.method {where(Ticker.method)}"
    assert describe_callable(Ticker()) == f"Ticker {where(Ticker.__call__)}"
    assert describe_callable(functools.partial(plain, 1)) == f"plain {where(plain)}"
    handler = lambda event: event  # noqa: E731
    assert describe_callable(handler).startswith("test_callables_are_named_by_qualname_file_and_line.<locals>.<lambda> (")
    assert describe_callable(print) == repr(print)


@pytest.mark.parametrize("exc,text", [
    (ValueError("no data"), "ValueError: no data"),
    (KeyError("E5"), "KeyError: 'E5'"),
    (KeyboardInterrupt(), "KeyboardInterrupt"),
    (SystemExit(3), "SystemExit: 3"),
    (RuntimeError("The property 'x' does not exist"), "The property 'x' does not exist"),
    (RuntimeError(), "RuntimeError"),
    (NotImplementedError("later"), "NotImplementedError: later"),
    (type("OfficeJsAttributeError", (AttributeError, RuntimeError), {})("gone"), "gone"),
])
def test_the_error_text_names_the_class_unless_it_is_already_a_runtime_error(exc, text):
    assert callback_error_text(exc) == text
