"""Fixtures for the bridge's suites: the module, and a fake add-in installed as send handler."""
import gc
import sys

import pytest

import cellumo_master.python_server.cellumo.ostrel as ostrel_module
from ostrel_fakes import FakeAddin


@pytest.fixture
def ostrel():
    return ostrel_module


@pytest.fixture
def addin(ostrel):
    """Installs a fake add-in as the send handler for the test; afterwards collects garbage (so
    that finalised proxies send their release into it) and removes the handler."""
    gc.collect()
    fake = FakeAddin(ostrel.messaging)
    ostrel.messaging.set_send_handler(fake)
    yield fake
    gc.collect()
    fake.stop()
    ostrel.messaging.set_send_handler(None)
    assert ostrel.messaging.waiters == {}


@pytest.fixture
def no_handler(ostrel):
    gc.collect()
    ostrel.messaging.set_send_handler(None)
    yield
    gc.collect()


@pytest.fixture
def unraisable(monkeypatch):
    """The exceptions reported as ignored (in a finaliser, say) during the test."""
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", lambda info: seen.append(info.exc_value))
    return seen
