"""Shared test set-up: make sure the suite runs against the build the Makefile staged."""
import os
import sys

import pytest


def pytest_report_header(config):
    import cellumo_master

    return f"cellumo_master from {os.path.dirname(cellumo_master.__file__)}"


def pytest_sessionstart(session):
    stage = os.environ.get("CELLUMO_STAGE")
    if not stage:
        return
    import cellumo_master

    where = os.path.realpath(cellumo_master.__file__)
    if not where.startswith(os.path.realpath(stage) + os.sep):
        raise pytest.UsageError(f"cellumo_master imported from {where}, expected the build staged at {stage}")


@pytest.fixture
def run_python():
    """Runs a snippet in a fresh interpreter; a crash (signal) fails the test."""
    import subprocess

    def run(code, env=None, timeout=120):
        full_env = dict(os.environ)
        if env:
            full_env.update(env)
        proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                              env=full_env, timeout=timeout)
        assert proc.returncode >= 0, f"interpreter killed by signal {-proc.returncode}:\n{proc.stderr}"
        return proc

    return run
