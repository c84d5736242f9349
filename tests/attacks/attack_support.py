"""Sizes, figures and the crash oracle for the attack suites. `make test` runs them reduced and
reproducible; `make stress` sets CELLUMO_STRESS=full for the full size and prints the figures
the suites recorded at the end of the run. Every suite reads its counts from `size`. (A module
of its own name: other test directories have a conftest of their own.)"""
import gc
import os
import sys
import tracemalloc

from hypothesis import HealthCheck, settings

# The fuzz harnesses and their oracle, shared with the suites that replay or mirror them.
FUZZ_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz")
sys.path.insert(0, FUZZ_DIR)
from oracle import reraise_if_fault  # noqa: E402,F401

FULL = os.environ.get("CELLUMO_STRESS") == "full"
# Under the sanitizers (make asan) every allocation goes through malloc and freed memory sits in
# ASan's quarantine, so traced-memory and RSS figures say nothing about leaks there: the leak
# suites still run every operation (for the sanitizers to watch) but do not judge the figures.
SANITIZED = os.environ.get("CELLUMO_SANITIZED") == "1"

# Bound for every join and wait in these suites; none should come near it.
WAIT = 120.0 if FULL else 60.0

settings.register_profile(
    "attack-ci", max_examples=400, derandomize=True, deadline=None, database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.function_scoped_fixture])
settings.register_profile(
    "attack-full", max_examples=5000, deadline=None, database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.function_scoped_fixture])
ATTACK_SETTINGS = settings.get_profile("attack-full" if FULL else "attack-ci")


def size(ci, full, sanitized=None):
    """The count for this run. A suite whose figures the sanitizers void (the leak checks) gives
    a `sanitized` count too: enough rounds for the sanitizers to watch every operation."""
    if SANITIZED and sanitized is not None:
        return sanitized
    return full if FULL else ci


# Figures of the run by suite, in the order first recorded; the attack conftest prints them.
FIGURES = {}


def report(name, **figures):
    """Records figures of a run under `name` (a later figure of the same key replaces it)."""
    FIGURES.setdefault(name, {}).update(figures)


def count(name, key, n=1):
    """Adds `n` to a counted figure."""
    figures = FIGURES.setdefault(name, {})
    figures[key] = figures.get(key, 0) + n


def growth(op, rounds, warmup):
    """Traced bytes kept per call of `op`, measured over two runs of `rounds` calls after
    `warmup` calls (the smaller run counts, so that a cache that fills once does not)."""
    for _ in range(warmup):
        op()
    gc.collect()
    tracemalloc.start()
    try:
        results = []
        for _ in range(2):
            gc.collect()
            before = tracemalloc.get_traced_memory()[0]
            for _ in range(rounds):
                op()
            gc.collect()
            results.append((tracemalloc.get_traced_memory()[0] - before) / rounds)
    finally:
        tracemalloc.stop()
    return min(results)
