"""Fixtures for the typed stubs: one editor-services instance per module (the stubs are parsed once
per process, so the first request of a run is the slow one), and cursor helpers."""
import os

import pytest

from cellumo_master.python_server import lintora as _lintora
from cellumo_master.python_server.cellumo import ostrel as _ostrel

IMPORT = "from cellumo_master.python_server.cellumo.ostrel import Excel, Context\n"
PACKAGE_DIR = os.path.dirname(os.path.abspath(_ostrel.__file__))
STUBS_DIR = os.path.join(PACKAGE_DIR, "_officejs")


@pytest.fixture(scope="module")
def lsp():
    instance = _lintora.Lintora()
    yield instance
    instance.cleanup()


def end_of(code):
    """(line, column) of the end of `code`, as the editor sends a cursor."""
    lines = code.split("\n")
    return len(lines), len(lines[-1])


def labels(result):
    assert result["error"] is None, result["error"]
    return [item["label"] for item in result["completions"]]


def complete(lsp, body):
    code = IMPORT + body
    return lsp.get_completions(code, *end_of(code))
