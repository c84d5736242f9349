"""Fixtures of the attack suites; sizes and figures are in attack_support."""
import pytest


@pytest.fixture
def ostrel():
    import cellumo_master.python_server.cellumo.ostrel as module
    return module
