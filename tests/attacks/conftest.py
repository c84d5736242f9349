"""Fixtures of the attack suites, and the report of their figures; sizes and figures are in
attack_support."""
import pytest

import attack_support


@pytest.fixture
def ostrel():
    import cellumo_master.python_server.cellumo.ostrel as module
    return module


def pytest_terminal_summary(terminalreporter):
    """The figures the suites recorded (requests made, resets, bytes kept per call, ...), after
    the run: in full size, which is what `make stress` runs, or when asked with -v."""
    if not attack_support.FIGURES or not (attack_support.FULL or terminalreporter.verbosity > 0):
        return
    terminalreporter.section("attack figures")
    for name, figures in attack_support.FIGURES.items():
        terminalreporter.write_line(f"{name}: " + ", ".join(f"{k}={v}" for k, v in figures.items()))
