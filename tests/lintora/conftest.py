"""Fixtures for the editor language services: the module, a live instance and its log lines."""
import logging

import pytest

from cellumo_master.python_server import lintora as _lintora

LOGGER_NAME = "cellumo_master.python_server.lintora"


@pytest.fixture
def lintora():
    return _lintora


@pytest.fixture
def lsp():
    instance = _lintora.Lintora()
    yield instance
    instance.cleanup()


class LogLines:
    """The records that reached the module logger, as (level name, formatted message)."""

    def __init__(self, caplog):
        self._caplog = caplog

    @property
    def records(self):
        return [r for r in self._caplog.records if r.name == LOGGER_NAME]

    @property
    def lines(self):
        return [(r.levelname, r.getMessage()) for r in self.records]

    def messages(self, level=None):
        return [m for lv, m in self.lines if level is None or lv == level]

    def clear(self):
        self._caplog.clear()


@pytest.fixture
def logs(caplog):
    caplog.set_level(logging.DEBUG, logger=LOGGER_NAME)
    return LogLines(caplog)


@pytest.fixture
def marker_shape():
    """Asserts the key order of one Monaco marker and hands the marker back."""

    def check(diag):
        assert list(diag) == ["startLineNumber", "startColumn", "endLineNumber", "endColumn", "message", "severity"]
        return diag

    return check
